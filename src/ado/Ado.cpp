#include "Ado.h"

#include "Error.h"

#include <QAtomicInteger>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQueryModel>

#include <algorithm>
#include <atomic>
#include <vector>

#include <odbcinst.h>

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
    QString value; // as the driver reads it
    QString raw;   // the braced text as written, when the value was written in braces
};

// The two syntaxes of "key=value;..." strings. ADO: a value may be quoted with " or ' and blanks
// around a plain value do not count. ODBC: taken as it stands. In both a value may be wrapped in
// braces, the ODBC way, which users of ODBC drivers write into ADO strings as well (Driver={...}).
// Inside quotes or braces the closing character doubled stands for itself.
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
        Pair pair{text.mid(i, eq - i).trimmed(), {}, {}};
        i = eq + 1;
        if (syntax == Syntax::Ado)
            while (i < n && text[i] == QLatin1Char(' '))
                ++i;
        QChar close;
        if (i < n && text[i] == QLatin1Char('{'))
            close = QLatin1Char('}');
        else if (i < n && syntax == Syntax::Ado &&
                 (text[i] == QLatin1Char('"') || text[i] == QLatin1Char('\'')))
            close = text[i];
        if (!close.isNull()) {
            const qsizetype open = i++;
            bool closed = false;
            while (i < n) {
                if (text[i] == close) {
                    if (i + 1 < n && text[i + 1] == close) {
                        pair.value += close;
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                pair.value += text[i++];
            }
            // An unclosed brace would swallow whatever follows it in the string handed on.
            if (close == QLatin1Char('}') && closed)
                pair.raw = text.mid(open, i - open);
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

// A value in ODBC's syntax: as it was written when it came in braces; otherwise in braces when
// it holds ";", a brace or outer blanks, with "}" doubled.
QString encoded(const Pair& pair) {
    return pair.raw.isEmpty() ? odbcValue(pair.value) : pair.raw;
}

bool isKey(const QString& key, std::initializer_list<const char*> names) {
    for (const char* name : names)
        if (key.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

bool holdsDsnFileMark(const QString& text) {
    return text.contains(QLatin1String(".dsn"), Qt::CaseInsensitive);
}

bool namesDriverOrServer(const QString& text) {
    return text.contains(QLatin1String("DRIVER="), Qt::CaseInsensitive) ||
           text.contains(QLatin1String("SERVER="), Qt::CaseInsensitive);
}

bool isItemOf(const QString& item, const QString& key) {
    const qsizetype eq = item.indexOf(QLatin1Char('='));
    return eq > 0 && item.left(eq).compare(key, Qt::CaseInsensitive) == 0;
}

} // namespace

QString odbcValue(const QString& value) {
    const bool plain = !value.contains(QLatin1Char(';')) && !value.contains(QLatin1Char('{')) &&
                       !value.contains(QLatin1Char('}')) && value.trimmed() == value;
    if (plain)
        return value;
    QString braced = value;
    braced.replace(QLatin1String("}"), QLatin1String("}}"));
    return QLatin1Char('{') + braced + QLatin1Char('}');
}

OdbcTarget translateConnectionString(const QString& adoConnectionString) {
    OdbcTarget target;
    const auto take = [&](const Pair& pair, bool fromAdo) {
        if (isKey(pair.key, {"Data Source", "DSN"}))
            target.dsn = encoded(pair);
        else if (isKey(pair.key, {"User ID", "UID"}))
            target.user = encoded(pair);
        else if (isKey(pair.key, {"Password", "PWD"}))
            target.password = encoded(pair);
        else if (fromAdo && isKey(pair.key, {"Provider"}))
            target.provider = pair.value;
        else if (fromAdo && isKey(pair.key, {"Persist Security Info"}))
            return;
        else if (fromAdo && isKey(pair.key, {"Initial Catalog"}))
            target.others << QStringLiteral("DATABASE=") + encoded(pair);
        else
            target.others << pair.key + QLatin1Char('=') + encoded(pair);
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
    return target;
}

void expandFileDataSource(OdbcTarget& target) {
    const auto fileKey =
        std::find_if(target.others.begin(), target.others.end(),
                     [](const QString& item) { return isItemOf(item, QStringLiteral("FILEDSN")); });
    if (fileKey == target.others.end())
        return;
    const QString item = *fileKey;
    target.others.erase(fileKey);
    const QList<Pair> named = parsePairs(item, Syntax::Odbc);
    if (named.isEmpty() || named[0].value.isEmpty())
        return;
    // The driver manager's own reader: a name without a directory is looked for in the file data
    // source directory, and ".dsn" is added when the name does not end with it.
    std::vector<char> entries(16 * 1024, '\0');
    WORD length = 0;
    if (!SQLReadFileDSN(named[0].value.toUtf8().constData(), "ODBC", nullptr, entries.data(),
                        static_cast<WORD>(entries.size() - 1), &length))
        return;
    const QString text = QString::fromUtf8(entries.data());
    const auto has = [&](const QString& key) {
        if (isKey(key, {"DSN", "Data Source"}))
            return !target.dsn.isEmpty();
        if (isKey(key, {"UID", "User ID"}))
            return !target.user.isEmpty();
        if (isKey(key, {"PWD", "Password"}))
            return !target.password.isEmpty();
        return std::any_of(target.others.begin(), target.others.end(),
                           [&](const QString& other) { return isItemOf(other, key); });
    };
    // The file's values stand as they are up to the next ";", as the driver manager reads them.
    for (const Pair& pair : parsePairs(text, Syntax::Odbc)) {
        if (has(pair.key) || isKey(pair.key, {"FILEDSN"}))
            continue;
        if (isKey(pair.key, {"DSN"}))
            target.dsn = encoded(pair);
        else if (isKey(pair.key, {"UID"}))
            target.user = encoded(pair);
        else if (isKey(pair.key, {"PWD"}))
            target.password = encoded(pair);
        else
            target.others << pair.key + QLatin1Char('=') + encoded(pair);
    }
}

QtOdbcArguments qtOdbcArguments(const OdbcTarget& target) {
    // Qt's ODBC driver builds the string it hands the driver manager from the database name, and
    // appends ";UID=" and ";PWD=" when the user and the password are not empty. It takes the whole
    // name for a file data source ("FILEDSN=" in front) when ".dsn" stands anywhere in it, passes
    // it unchanged when it holds "DRIVER=" or "SERVER=", and puts "DSN=" in front otherwise. A
    // ".dsn" in a value names no file data source (only a FILEDSN key would), so no key holding
    // one may reach the name: from the first of them on, the keys travel behind the user or the
    // password, where Qt looks at nothing.
    QtOdbcArguments args{{}, target.user, target.password};
    QStringList items = target.others;
    if (!target.dsn.isEmpty()) {
        items.prepend(QStringLiteral("DSN=") + target.dsn);
    } else {
        // Without a data source the driver comes first, so that it stays in the name whatever
        // has to travel behind the user.
        const auto driver = std::find_if(items.begin(), items.end(), [](const QString& item) {
            return isItemOf(item, QStringLiteral("DRIVER"));
        });
        if (driver != items.end() && driver != items.begin()) {
            const QString item = *driver;
            items.erase(driver);
            items.prepend(item);
        }
    }
    const auto firstMarked = std::find_if(items.begin(), items.end(), holdsDsnFileMark);
    const QStringList tail(firstMarked, items.end());
    const QString head = QStringList(items.begin(), firstMarked).join(QLatin1Char(';'));

    if (head.isEmpty() || namesDriverOrServer(head))
        args.databaseName = head;
    else if (!target.dsn.isEmpty())
        args.databaseName = head.mid(4); // without "DSN=", which Qt puts back
    else
        args.databaseName = QLatin1Char(';') + head; // no data source named: the default one
    if (tail.isEmpty())
        return args;

    const QString rest = tail.join(QLatin1Char(';'));
    if (!args.userName.isEmpty()) {
        args.userName += QLatin1Char(';') + rest;
    } else if (!args.password.isEmpty()) {
        args.password += QLatin1Char(';') + rest;
    } else {
        // An empty UID would override the user of the data source, so Qt's ";UID=" is swallowed
        // into the value of a key no driver knows.
        args.databaseName += QLatin1String(";QuorvaneUnused={");
        args.userName = QLatin1String("};") + rest;
    }
    return args;
}

QString hidePasswords(const QString& message, const QString& password) {
    // A password key where a key of a connection string can start: at the start of the text,
    // after ";" or a blank, or after the quote or bracket around an echoed string.
    static const QRegularExpression key(
        QStringLiteral(R"((?:^|(?<=[;\s"'(\[{<,]))(?:PWD|Password)\s*=[ \t]*)"),
        QRegularExpression::CaseInsensitiveOption);
    QString text = message;
    qsizetype from = 0;
    for (;;) {
        const QRegularExpressionMatch match = key.match(text, from);
        if (!match.hasMatch())
            return text;
        const qsizetype start = match.capturedEnd();
        qsizetype end = start;
        const qsizetype n = text.size();
        // A plain password may hold blanks or quotes: the one handed on, followed by the end of
        // its value, is hidden whole.
        static const QString stops = QStringLiteral(";\"' \t\r\n)]}>,");
        const qsizetype after = start + password.size();
        if (!password.isEmpty() && QStringView(text).mid(start).startsWith(password) &&
            (after == n || stops.contains(text[after]))) {
            end = after;
        } else if (end < n && (text[end] == QLatin1Char('{') || text[end] == QLatin1Char('"') ||
                               text[end] == QLatin1Char('\''))) {
            const QChar close = text[end] == QLatin1Char('{') ? QLatin1Char('}') : text[end];
            ++end;
            while (end < n) {
                if (text[end] == close && !(end + 1 < n && text[end + 1] == close))
                    break;
                end += text[end] == close ? 2 : 1;
            }
            end = std::min(end + 1, n);
        } else {
            while (end < n && !stops.contains(text[end]))
                ++end;
        }
        if (end > start)
            text.replace(start, end - start, QStringLiteral("****"));
        from = start + (end > start ? 4 : 0);
        if (from >= text.size())
            return text;
    }
}

void simulateMissingDriver(bool missing) {
    gDriverMissing = missing;
}

} // namespace ado

namespace {

QAtomicInteger<quint64> gConnectionSerial;

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

    ado::OdbcTarget expanded = target;
    ado::expandFileDataSource(expanded);
    const ado::QtOdbcArguments args = ado::qtOdbcArguments(expanded);
    db.setDatabaseName(args.databaseName);
    db.setUserName(args.userName);
    db.setPassword(args.password);
    db.setConnectOptions(QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=%1").arg(connectionTimeout_));
    const bool opened = db.open();
    // The password stays in no handle longer than the open needs.
    db.setUserName({});
    db.setPassword({});
    if (opened)
        return;
    const QSqlError error = db.lastError();
    QString text = error.databaseText().trimmed();
    if (text.isEmpty())
        text = error.driverText().trimmed();
    if (text.isEmpty())
        text = QStringLiteral("Unable to connect");
    throw Error(ado::hidePasswords(text, expanded.password));
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
