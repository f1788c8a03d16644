#include "Ado.h"

#include "Error.h"

#include <QAtomicInteger>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQueryModel>

#include <atomic>

namespace ado {
namespace {

std::atomic<bool> gDriverMissing{false};

const QString kOdbcDriver = QStringLiteral("QODBC");

QString creationErrorText() {
    return QStringLiteral("Error creating object.  Please verify that the Microsoft Data Access "
                          "Components 2.1 (or later) have been properly installed");
}

void requireDriver() {
    if (gDriverMissing || !QSqlDatabase::isDriverAvailable(kOdbcDriver))
        throw Error(creationErrorText());
}

struct Pair {
    QString key;
    QString value;
};

// The two syntaxes of "key=value;..." strings. ADO: a value may be quoted with " or ' and blanks
// around a plain value do not count. ODBC: a value may be wrapped in braces and is taken as it
// stands otherwise. Inside quotes or braces the closing character doubled stands for itself.
enum class Syntax { Ado, Odbc };

QList<Pair> parsePairs(const QString& text, Syntax syntax) {
    QList<Pair> pairs;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n) {
        const qsizetype eq = text.indexOf(QLatin1Char('='), i);
        const qsizetype semi = text.indexOf(QLatin1Char(';'), i);
        if (eq < 0 || (semi >= 0 && semi < eq)) {
            i = semi < 0 ? n : semi + 1; // a part without "=" means nothing
            continue;
        }
        Pair pair{text.mid(i, eq - i).trimmed(), {}};
        i = eq + 1;
        if (syntax == Syntax::Ado)
            while (i < n && text[i] == QLatin1Char(' '))
                ++i;
        QChar close;
        if (i < n && syntax == Syntax::Ado &&
            (text[i] == QLatin1Char('"') || text[i] == QLatin1Char('\'')))
            close = text[i];
        else if (i < n && syntax == Syntax::Odbc && text[i] == QLatin1Char('{'))
            close = QLatin1Char('}');
        if (!close.isNull()) {
            ++i;
            while (i < n) {
                if (text[i] == close) {
                    if (i + 1 < n && text[i + 1] == close) {
                        pair.value += close;
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                pair.value += text[i++];
            }
            const qsizetype end = text.indexOf(QLatin1Char(';'), i);
            i = end < 0 ? n : end + 1;
        } else {
            const qsizetype end = text.indexOf(QLatin1Char(';'), i);
            pair.value = text.mid(i, (end < 0 ? n : end) - i);
            if (syntax == Syntax::Ado)
                pair.value = pair.value.trimmed();
            i = end < 0 ? n : end + 1;
        }
        if (!pair.key.isEmpty())
            pairs.append(pair);
    }
    return pairs;
}

// ODBC's syntax: a value holding ";", braces or outer blanks goes in braces, "}" doubled.
QString odbcValue(const QString& value) {
    const bool plain = !value.contains(QLatin1Char(';')) && !value.contains(QLatin1Char('{')) &&
                       !value.contains(QLatin1Char('}')) && value.trimmed() == value;
    if (plain)
        return value;
    QString braced = value;
    braced.replace(QLatin1String("}"), QLatin1String("}}"));
    return QLatin1Char('{') + braced + QLatin1Char('}');
}

bool isKey(const QString& key, std::initializer_list<const char*> names) {
    for (const char* name : names)
        if (key.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

} // namespace

OdbcTarget translateConnectionString(const QString& adoConnectionString) {
    OdbcTarget target;
    QStringList others;
    const auto take = [&](const Pair& pair, bool fromAdo) {
        if (isKey(pair.key, {"Data Source", "DSN"}))
            target.dsn = pair.value;
        else if (isKey(pair.key, {"User ID", "UID"}))
            target.user = pair.value;
        else if (isKey(pair.key, {"Password", "PWD"}))
            target.password = pair.value;
        else if (fromAdo && isKey(pair.key, {"Provider"}))
            target.provider = pair.value;
        else if (fromAdo && isKey(pair.key, {"Persist Security Info"}))
            return;
        else if (fromAdo && isKey(pair.key, {"Initial Catalog"}))
            others << QStringLiteral("DATABASE=") + odbcValue(pair.value);
        else
            others << pair.key + QLatin1Char('=') + odbcValue(pair.value);
    };
    for (const Pair& pair : parsePairs(adoConnectionString, Syntax::Ado)) {
        // The ODBC provider hands the keys of Extended Properties to the driver as they are.
        if (isKey(pair.key, {"Extended Properties"})) {
            for (const Pair& inner : parsePairs(pair.value, Syntax::Odbc))
                take(inner, false);
        } else {
            take(pair, true);
        }
    }
    target.others = others.join(QLatin1Char(';'));
    return target;
}

void simulateMissingDriver(bool missing) {
    gDriverMissing = missing;
}

} // namespace ado

namespace {

QAtomicInteger<quint64> gConnectionSerial;

QString scrub(QString text, const QString& password) {
    if (!password.isEmpty())
        text.replace(password, QStringLiteral("****"));
    return text;
}

} // namespace

TADOConnection::TADOConnection(QObject* parent) : QObject(parent) {
    ado::requireDriver();
    sqlName_ = QStringLiteral("quorvane.ado.%1").arg(gConnectionSerial.fetchAndAddRelaxed(1));
    const bool valid = QSqlDatabase::addDatabase(ado::kOdbcDriver, sqlName_).isValid();
    if (!valid) {
        QSqlDatabase::removeDatabase(sqlName_);
        throw Error(ado::creationErrorText());
    }
}

TADOConnection::~TADOConnection() {
    {
        QSqlDatabase db = QSqlDatabase::database(sqlName_, false);
        db.close();
    } // every copy of the handle must be gone before the name is removed
    QSqlDatabase::removeDatabase(sqlName_);
}

void TADOConnection::setConnectionString(const QString& connectionString) {
    if (Connected())
        throw Error(QStringLiteral("Operation is not allowed when the object is open"));
    connectionString_ = connectionString;
}

bool TADOConnection::Connected() const {
    return QSqlDatabase::database(sqlName_, false).isOpen();
}

void TADOConnection::setConnected(bool connected) {
    QSqlDatabase db = QSqlDatabase::database(sqlName_, false);
    if (!connected) {
        db.close();
        return;
    }
    if (db.isOpen())
        return;
    const ado::OdbcTarget target = ado::translateConnectionString(connectionString_);
    const QString provider = target.provider.isEmpty() ? provider_ : target.provider;
    if (!provider.startsWith(QLatin1String("MSDASQL"), Qt::CaseInsensitive))
        throw Error(QStringLiteral("Provider cannot be found. It may not be properly installed"));

    // Qt's ODBC driver puts "DSN=" in front of the name unless it holds DRIVER= or SERVER=, and
    // "FILEDSN=" when it holds ".dsn" anywhere: user and password go apart (Qt appends them), so
    // no password can change how the name is read.
    const auto servesItself = [](const QString& keys) {
        return keys.contains(QLatin1String("DRIVER="), Qt::CaseInsensitive) ||
               keys.contains(QLatin1String("SERVER="), Qt::CaseInsensitive);
    };
    QString name;
    if (target.dsn.isEmpty())
        name = servesItself(target.others) || target.others.isEmpty()
                   ? target.others
                   : QLatin1Char(';') + target.others;
    else if (servesItself(target.dsn + target.others))
        name = QStringLiteral("DSN=") + ado::odbcValue(target.dsn);
    else
        name = ado::odbcValue(target.dsn);
    if (!target.dsn.isEmpty() && !target.others.isEmpty())
        name += QLatin1Char(';') + target.others;
    db.setDatabaseName(name);
    db.setUserName(target.user.isEmpty() ? QString() : ado::odbcValue(target.user));
    db.setPassword(target.password.isEmpty() ? QString() : ado::odbcValue(target.password));
    db.setConnectOptions(QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=%1").arg(connectionTimeout_));
    const bool opened = db.open();
    db.setPassword({}); // the password stays in no handle longer than the open needs
    if (opened)
        return;
    const QSqlError error = db.lastError();
    QString text = error.databaseText().trimmed();
    if (text.isEmpty())
        text = error.driverText().trimmed();
    if (text.isEmpty())
        text = QStringLiteral("Unable to connect");
    throw Error(scrub(text, target.password));
}

TADODataSet::TADODataSet(QObject* parent) : QObject(parent), model_(new QSqlQueryModel(this)) {
    ado::requireDriver();
}

QAbstractItemModel* TADODataSet::model() const {
    return model_;
}

TADOCommand::TADOCommand(QObject* parent) : QObject(parent) {
    ado::requireDriver();
}
