// A small database layer with the properties of ActiveX Data Objects: connections with an ADO
// connection string for the OLE DB provider for ODBC, data sets and commands bound to them. It
// runs over Qt SQL's ODBC driver and the system's ODBC driver manager.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

class QAbstractItemModel;
class QSqlQueryModel;

namespace ado {

// The ODBC connection string an ADO connection string for the ODBC provider stands for: the data
// source, user and password as DSN, UID and PWD, the other keys passed on; the keys that only
// mean something to ADO (Provider, Persist Security Info) are dropped. Values are in ODBC's
// syntax: as written when they came in braces, otherwise braced where ODBC needs it.
struct OdbcTarget {
    QString dsn;        // empty when the string names none
    QString user;       // "User ID" or UID
    QString password;   // Password or PWD
    QString provider;   // the Provider key, empty when the string has none
    QStringList others; // the remaining keys, each as "KEY=value", in their order
};
OdbcTarget translateConnectionString(const QString& adoConnectionString);

// The keys of the file data source a FILEDSN key names, added to `target` the way the driver
// manager adds them (those the string already has are kept); the FILEDSN key itself goes. The
// driver manager reads file data sources only for its 8-bit callers, and Qt calls its wide
// interface, so this layer reads them. A file that cannot be read adds nothing.
void expandFileDataSource(OdbcTarget& target);

// A value in ODBC's syntax: in braces, with "}" doubled, when it holds ";", a brace or outer
// blanks; as it stands otherwise.
QString odbcValue(const QString& value);

// What Qt's ODBC driver is given so that the string it builds from them means `target`.
struct QtOdbcArguments {
    QString databaseName;
    QString userName;
    QString password;
};
QtOdbcArguments qtOdbcArguments(const OdbcTarget& target);

// A driver's message with the value of every password key (PWD, Password) of a connection
// string it echoes replaced by "****"; the rest of the message stays as the driver wrote it.
// `password` is the password as it was handed on, in ODBC's syntax.
QString hidePasswords(const QString& message, const QString& password);

// Test seam: makes the layer behave as if Qt SQL's ODBC driver could not be loaded.
void simulateMissingDriver(bool missing);

} // namespace ado

class TADOConnection : public QObject {
    Q_OBJECT
public:
    // Raises Error when Qt SQL's ODBC driver cannot be loaded.
    explicit TADOConnection(QObject* parent = nullptr);
    ~TADOConnection() override;

    QString ConnectionString() const { return connectionString_; }
    // Raises Error while the connection is open.
    void setConnectionString(const QString& connectionString);
    QString Provider() const { return provider_; }
    void setProvider(const QString& provider) { provider_ = provider; }
    // Kept for the form's sake: this layer never prompts for a login.
    bool LoginPrompt() const { return loginPrompt_; }
    void setLoginPrompt(bool prompt) { loginPrompt_ = prompt; }
    // The login time-out in seconds (ADO's default is 15).
    int ConnectionTimeout() const { return connectionTimeout_; }
    void setConnectionTimeout(int seconds) { connectionTimeout_ = seconds; }

    bool Connected() const;
    // Opens synchronously or closes. Opening an open connection and closing a closed one do
    // nothing. A failure to open raises Error with the driver manager's or driver's diagnostic.
    void setConnected(bool connected);

    // The name of this connection's QSqlDatabase, unique in the process.
    QString sqlConnectionName() const { return sqlName_; }

private:
    QString sqlName_;
    QString connectionString_;
    QString provider_ = QStringLiteral("MSDASQL.1");
    bool loginPrompt_ = true;
    int connectionTimeout_ = 15;
};

// A data set: a connection and a command text. This program never opens one.
class TADODataSet : public QObject {
    Q_OBJECT
public:
    explicit TADODataSet(QObject* parent = nullptr);

    TADOConnection* Connection() const { return connection_; }
    void setConnection(TADOConnection* connection) { connection_ = connection; }
    QString CommandText() const { return commandText_; }
    void setCommandText(const QString& text) { commandText_ = text; }
    bool Active() const { return false; }
    // What a grid shows of the data set: no rows while it is closed.
    QAbstractItemModel* model() const;

private:
    QPointer<TADOConnection> connection_;
    QString commandText_;
    QSqlQueryModel* model_;
};

// A command bound to a connection. This program never executes one.
class TADOCommand : public QObject {
    Q_OBJECT
public:
    explicit TADOCommand(QObject* parent = nullptr);

    TADOConnection* Connection() const { return connection_; }
    void setConnection(TADOConnection* connection) { connection_ = connection; }
    QString CommandText() const { return commandText_; }
    void setCommandText(const QString& text) { commandText_ = text; }

private:
    QPointer<TADOConnection> connection_;
    QString commandText_;
};

// Connects a data set to the grids that show it.
class TDataSource : public QObject {
    Q_OBJECT
public:
    explicit TDataSource(QObject* parent = nullptr) : QObject(parent) {}

    TADODataSet* DataSet() const { return dataSet_; }
    void setDataSet(TADODataSet* dataSet) { dataSet_ = dataSet; }
    // Nullptr without a data set.
    QAbstractItemModel* model() const { return dataSet_ ? dataSet_->model() : nullptr; }

private:
    QPointer<TADODataSet> dataSet_;
};
