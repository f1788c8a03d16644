// A small database layer with the properties of ActiveX Data Objects: connections with an ADO
// connection string for the OLE DB provider for ODBC, data sets and commands bound to them. It
// runs over Qt SQL's ODBC driver and the system's ODBC driver manager.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class QAbstractItemModel;
class QSqlQueryModel;

namespace ado {

// The ODBC connection string an ADO connection string for the ODBC provider stands for: the data
// source, user and password as DSN, UID and PWD, the other keys passed on; the keys that only
// mean something to ADO (Provider, Persist Security Info) are dropped.
struct OdbcTarget {
    QString dsn;      // empty when the string names none
    QString user;     // "User ID" or UID
    QString password; // Password or PWD
    QString provider; // the Provider key, empty when the string has none
    QString others;   // the remaining keys as ODBC "KEY=value;..." text
};
OdbcTarget translateConnectionString(const QString& adoConnectionString);

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
