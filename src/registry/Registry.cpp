#include "Registry.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QString>

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>

namespace {

constexpr std::int64_t kRootId = 1;
constexpr REGSAM kWriteRights =
    KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE_ | WRITE_DAC | WRITE_OWNER;

struct OpenKey {
    std::int64_t id;
    REGSAM access;
};

std::mutex gMutex; // guards everything below
std::map<std::uintptr_t, OpenKey> gHandles;
std::uintptr_t gNextHandle = 0x1000;
std::string gStoreOverride;
REGSAM gDeniedRights = 0;
std::string gLastError;

std::string defaultStoreFile() {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (dir.isEmpty())
        dir = QDir::homePath() + "/.config";
    return (dir + "/quorvane/registry.db").toStdString();
}

std::string currentStoreFile() {
    return gStoreOverride.empty() ? defaultStoreFile() : gStoreOverride;
}

// Key and value names compare without regard to letter case, as the platform compares them:
// each UTF-16 unit upper-cased on its own (so "ß" and "SS" stay different names). A name that is
// no UTF-8 has its ASCII letters folded only.
std::string fold(const std::string& name) {
    QByteArray bytes = QByteArray::fromStdString(name);
    QString text = QString::fromUtf8(bytes);
    if (text.toUtf8() == bytes) {
        for (QChar& c : text)
            c = QChar(registry::upcase(c.unicode()));
        return text.toStdString();
    }
    std::string ascii = name;
    for (char& c : ascii)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return ascii;
}

// The length of a name as the platform counts it: in UTF-16 units (bytes for a name that is no
// UTF-8).
std::size_t nameLength(const std::string& name) {
    QByteArray bytes = QByteArray::fromStdString(name);
    QString text = QString::fromUtf8(bytes);
    return text.toUtf8() == bytes ? static_cast<std::size_t>(text.size()) : name.size();
}

constexpr std::size_t kMaxKeyName = 255;
constexpr std::size_t kMaxValueName = 16383;

void sqlFold(sqlite3_context* context, int, sqlite3_value** args) {
    auto p = reinterpret_cast<const char*>(sqlite3_value_text(args[0]));
    const std::string folded =
        fold(p ? std::string(p, static_cast<size_t>(sqlite3_value_bytes(args[0]))) : std::string());
    sqlite3_result_text(context, folded.data(), static_cast<int>(folded.size()), SQLITE_TRANSIENT);
}

LONG fromSqlite(int rc) {
    switch (rc & 0xff) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW:
        return ERROR_SUCCESS;
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
    case SQLITE_FORMAT:
        return ERROR_BADDB;
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
        return ERROR_CANTOPEN;
    case SQLITE_READONLY:
        return ERROR_ACCESS_DENIED;
    case SQLITE_IOERR:
    case SQLITE_FULL:
        return ERROR_CANTWRITE;
    default:
        return ERROR_CANTREAD;
    }
}

class Statement {
public:
    Statement(sqlite3* db, const char* sql) {
        rc_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return rc_ == SQLITE_OK; }
    int error() const { return rc_; }
    Statement& bind(int i, std::int64_t v) {
        sqlite3_bind_int64(stmt_, i, v);
        return *this;
    }
    Statement& bind(int i, const std::string& v) {
        sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& bindBlob(int i, const BYTE* data, DWORD size) {
        // A zero-length blob must still be a blob, not NULL.
        sqlite3_bind_blob(stmt_, i, size ? data : reinterpret_cast<const BYTE*>(""),
                          static_cast<int>(size), SQLITE_TRANSIENT);
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step() {
        if (!stmt_)
            return rc_; // the statement could not be prepared
        rc_ = sqlite3_step(stmt_);
        return rc_;
    }
    std::int64_t integer(int col) const { return sqlite3_column_int64(stmt_, col); }
    std::string text(int col) const {
        auto p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col));
        return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(stmt_, col)))
                 : std::string();
    }
    std::vector<BYTE> blob(int col) const {
        auto p = static_cast<const BYTE*>(sqlite3_column_blob(stmt_, col));
        int n = sqlite3_column_bytes(stmt_, col);
        return p ? std::vector<BYTE>(p, p + n) : std::vector<BYTE>();
    }

private:
    sqlite3_stmt* stmt_ = nullptr;
    int rc_ = SQLITE_OK;
};

// The store stays open between calls (opening and checking it costs more than most calls); each
// call still runs in its own transaction.
struct Connection {
    sqlite3* db = nullptr;
    bool readOnly = false;
    bool hasSchema = false;
    bool writable = false;
    bool wal = false;
    dev_t device = 0;
    ino_t inode = 0;
};
struct Connections : std::map<std::string, Connection> {
    ~Connections() {
        for (auto& entry : *this)
            sqlite3_close_v2(entry.second.db);
    }
};
Connections gConnections;

// One open store for the duration of one registry call. Each call that changes the store runs
// in one IMMEDIATE transaction, so a killed process leaves either the old or the new state, and
// a second process waits for the lock instead of failing.
class Store {
public:
    explicit Store(bool write) : file_(currentStoreFile()) {
        Connection& c = connection();
        struct stat st {};
        const bool exists = ::stat(file_.c_str(), &st) == 0;
        // A store file without its owner's write permission is read-only, also for a process
        // (root) that the file system would let write it.
        const bool writable = !exists || (st.st_mode & S_IWUSR);
        // The file that was opened may since have been removed, replaced or made read-only:
        // writing on into an unlinked file would lose everything written.
        if (c.db &&
            (!exists || st.st_dev != c.device || st.st_ino != c.inode || writable != c.writable)) {
            sqlite3_close_v2(c.db);
            c = Connection{};
        }
        if (!c.db) {
            if (!exists)
                QDir().mkpath(QFileInfo(QString::fromStdString(file_)).absolutePath());
            int rc = sqlite3_open_v2(file_.c_str(), &c.db,
                                     writable ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE
                                              : SQLITE_OPEN_READONLY,
                                     nullptr);
            db_ = c.db;
            if (rc != SQLITE_OK) {
                fail(rc);
                return;
            }
            sqlite3_busy_timeout(c.db, 30000);
            sqlite3_create_function(c.db, "quorvane_fold", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                    nullptr, sqlFold, nullptr, nullptr);
            // With the write-ahead log (see ~Store) a write stays atomic and survives a crash of
            // the program without a sync of its own: the log is synced at each checkpoint.
            sqlite3_exec(c.db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
            c.readOnly = sqlite3_db_readonly(c.db, "main") == 1;
            c.writable = writable;
            if (::stat(file_.c_str(), &st) == 0) {
                c.device = st.st_dev;
                c.inode = st.st_ino;
            }
        }
        db_ = c.db;
        readOnly_ = c.readOnly;
        hasSchema_ = c.hasSchema;
        if (write && readOnly_) {
            refuseWrite();
            return;
        }
        int rc = exec(write ? "BEGIN IMMEDIATE" : "BEGIN");
        if (rc != SQLITE_OK) {
            fail(rc);
            return;
        }
        if (!hasSchema_) {
            rc = ensureSchema(write);
            if (rc != SQLITE_OK && status_ == ERROR_SUCCESS)
                fail(rc);
        }
    }
    ~Store() {
        if (!db_)
            return;
        if (inTransaction_)
            exec(status_ == ERROR_SUCCESS && commit_ ? "COMMIT" : "ROLLBACK");
        Connection& c = connection();
        if (status_ == ERROR_BADDB || status_ == ERROR_CANTOPEN || status_ == ERROR_CANTREAD) {
            // Look at the file afresh next time: it may have been repaired or replaced.
            sqlite3_close_v2(c.db);
            c = Connection{};
        } else if (hasSchema_ && !upgradePending_ && !commit_pending_rollback()) {
            c.hasSchema = true;
        }
        // Our own store (never another program's database, whose header this would change)
        // goes over to the write-ahead log once: readers then never wait for a writer, and a
        // write costs no sync of its own. The mode stays with the file.
        if (c.db && c.hasSchema && !c.readOnly && !c.wal) {
            c.wal = true;
            sqlite3_exec(c.db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
        }
    }
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    LONG status() const { return status_; }
    bool readOnly() const { return readOnly_; }
    sqlite3* db() const { return db_; }
    bool hasSchema() const { return hasSchema_; }

    // Marks the transaction for commit; returns the status a commit gives.
    LONG commit() {
        if (status_ != ERROR_SUCCESS)
            return status_;
        int rc = exec("COMMIT");
        inTransaction_ = false;
        if (rc != SQLITE_OK) {
            exec("ROLLBACK");
            fail(rc);
        }
        return status_;
    }

    // A store whose tables hold no valid tree.
    LONG damaged(const char* why) {
        status_ = ERROR_BADDB;
        gLastError =
            "The settings store \"" + file_ + "\" cannot be used: it is damaged (" + why + ")";
        return status_;
    }

    // A change refused because the store cannot be written; the message says why.
    LONG refuseWrite() {
        status_ = ERROR_ACCESS_DENIED;
        std::string why;
        if (!connection().writable)
            why = "the file is read-only";
        else if (::access(file_.c_str(), W_OK) != 0)
            why = std::strerror(errno);
        else
            why = "its directory cannot be written";
        gLastError = "The settings store \"" + file_ + "\" cannot be written: " + why;
        return status_;
    }
    // Ends the call without a change: the transaction rolls back.
    void abandon(LONG code) { status_ = code; }

    LONG fail(int rc) {
        status_ = fromSqlite(rc);
        if (status_ == ERROR_SUCCESS)
            status_ = ERROR_CANTREAD;
        const char* what = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        gLastError = "The settings store \"" + file_ + "\" cannot be used: " + what;
        return status_;
    }

    bool keyExists(std::int64_t id) {
        if (!hasSchema_)
            return id == kRootId;
        Statement s(db_, "SELECT 1 FROM keys WHERE id = ?");
        s.bind(1, id);
        return found(s.step());
    }

    // `code`, unless the store failed: then its failure.
    LONG orFailure(LONG code) const { return status_ != ERROR_SUCCESS ? status_ : code; }

    // The child of `parent` named `name`, or 0.
    std::int64_t child(std::int64_t parent, const std::string& name) {
        if (!hasSchema_)
            return 0;
        Statement s(db_, "SELECT id FROM keys WHERE parent = ? AND fold = ?");
        s.bind(1, parent).bind(2, fold(name));
        return found(s.step()) ? s.integer(0) : 0;
    }

    // Whether a query found a row; a damaged store is a failure, not "not found".
    bool found(int rc) {
        if (rc == SQLITE_ROW)
            return true;
        if (rc != SQLITE_DONE)
            fail(rc);
        return false;
    }

    std::int64_t addChild(std::int64_t parent, const std::string& name) {
        Statement s(db_, "INSERT INTO keys(parent, name, fold) VALUES(?, ?, ?)");
        s.bind(1, parent).bind(2, name).bind(3, fold(name));
        int rc = s.step();
        if (rc != SQLITE_DONE) {
            fail(rc);
            return 0;
        }
        return sqlite3_last_insert_rowid(db_);
    }

    // Deletes the values of the key and of everything below it, and the keys below it; the key
    // itself too unless keepSelf.
    LONG deleteSubtree(std::int64_t id, bool keepSelf) {
        static const std::string tree = "WITH RECURSIVE t(id) AS (SELECT ?1 UNION ALL "
                                        "SELECT keys.id FROM keys JOIN t ON keys.parent = t.id) ";
        Statement dv(db_, (tree + "DELETE FROM vals WHERE key IN (SELECT id FROM t)").c_str());
        int rc = dv.bind(1, id).step();
        if (rc != SQLITE_DONE)
            return fail(rc);
        Statement dk(db_, (tree + "DELETE FROM keys WHERE id IN (SELECT id FROM t WHERE ?2 = 0 "
                                  "OR id <> ?1)")
                              .c_str());
        rc = dk.bind(1, id).bind(2, std::int64_t(keepSelf ? 1 : 0)).step();
        if (rc != SQLITE_DONE)
            return fail(rc);
        return ERROR_SUCCESS;
    }

private:
    Connection& connection() { return gConnections[file_]; }
    // A schema created in a transaction that then rolled back does not exist.
    bool commit_pending_rollback() const { return commit_ && status_ != ERROR_SUCCESS; }

    int exec(const char* sql) {
        int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK && std::strncmp(sql, "BEGIN", 5) == 0)
            inTransaction_ = true;
        return rc;
    }

    int ensureSchema(bool write) {
        Statement probe(db_, "SELECT count(*), sum(name IN ('keys', 'vals')) FROM sqlite_master "
                             "WHERE type = 'table' AND name <> 'sqlite_sequence'");
        if (!probe.ok())
            return probe.error();
        int rc = probe.step();
        if (rc != SQLITE_ROW)
            return rc;
        const std::int64_t tables = probe.integer(0);
        const std::int64_t ours = probe.integer(1);
        if (tables == 2 && ours == 2) {
            hasSchema_ = true;
            return upgradeFolds(write && !readOnly_);
        }
        if (tables != 0) {
            // Some other program's database: never add our tables to it.
            status_ = ERROR_BADDB;
            gLastError = "The settings store \"" + file_ +
                         "\" cannot be used: the database holds no settings store";
            return SQLITE_OK;
        }
        // Only a write creates the tables, so a read never takes the write lock (an upgrade of a
        // read lock fails at once when another process writes) and reads an empty store as empty.
        if (!write || readOnly_)
            return SQLITE_OK;
        // AUTOINCREMENT: the id of a deleted key is never given to a new one, so a handle of the
        // deleted key keeps reporting it deleted.
        rc = sqlite3_exec(db_,
                          "CREATE TABLE keys(id INTEGER PRIMARY KEY AUTOINCREMENT, "
                          "parent INTEGER NOT NULL, name TEXT NOT NULL, fold TEXT NOT NULL, "
                          "UNIQUE(parent, fold));"
                          "CREATE TABLE vals(key INTEGER NOT NULL, "
                          "name TEXT NOT NULL, fold TEXT NOT NULL, type INTEGER NOT NULL, "
                          "data BLOB NOT NULL, UNIQUE(key, fold));"
                          "INSERT INTO keys(id, parent, name, fold) VALUES(1, 0, '', '');"
                          "PRAGMA user_version = 1;",
                          nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK) {
            hasSchema_ = true;
            commit_ = true;
        }
        return rc;
    }

    // Stores written before version 1 folded names with full Unicode upper-casing ("ß" as
    // "SS"); the first write folds them again the way names compare now. Simple upper-casing
    // tells more names apart than full upper-casing, so no two names can clash on the way.
    int upgradeFolds(bool write) {
        Statement version(db_, "PRAGMA user_version");
        int rc = version.step();
        if (rc != SQLITE_ROW)
            return rc;
        if (version.integer(0) >= 1)
            return SQLITE_OK;
        if (!write) {
            upgradePending_ = true; // look again at the next call
            return SQLITE_OK;
        }
        rc = sqlite3_exec(db_,
                          "UPDATE keys SET fold = quorvane_fold(name) WHERE id <> 1;"
                          "UPDATE vals SET fold = quorvane_fold(name);"
                          "PRAGMA user_version = 1;",
                          nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK)
            commit_ = true;
        return rc;
    }

public:
    bool commit_ = false; // set by a call that changed nothing but created the schema

private:
    std::string file_;
    sqlite3* db_ = nullptr;
    LONG status_ = ERROR_SUCCESS;
    bool readOnly_ = false;
    bool inTransaction_ = false;
    bool hasSchema_ = false;
    bool upgradePending_ = false;
};

bool lookupHandle(HKEY key, OpenKey& out) {
    if (key == HKEY_CURRENT_USER) {
        out = {kRootId, KEY_ALL_ACCESS};
        return true;
    }
    auto it = gHandles.find(reinterpret_cast<std::uintptr_t>(key));
    if (it == gHandles.end())
        return false;
    out = it->second;
    return true;
}

HKEY newHandle(std::int64_t id, REGSAM access) {
    std::uintptr_t h = gNextHandle;
    gNextHandle += 4;
    gHandles[h] = {id, access};
    return reinterpret_cast<HKEY>(h);
}

// Splits a subkey path at backslashes. Empty components (a leading, doubled or trailing
// backslash) are refused as a bad path, names longer than the platform allows as an invalid
// parameter, as the platform refuses them.
LONG splitPath(const char* subKey, std::vector<std::string>& parts) {
    parts.clear();
    if (!subKey || !*subKey)
        return ERROR_SUCCESS;
    std::string path(subKey);
    size_t start = 0;
    while (true) {
        size_t end = path.find('\\', start);
        std::string part = path.substr(start, end == std::string::npos ? end : end - start);
        if (part.empty())
            return ERROR_BAD_PATHNAME;
        if (nameLength(part) > kMaxKeyName)
            return ERROR_INVALID_PARAMETER;
        parts.push_back(part);
        if (end == std::string::npos)
            return ERROR_SUCCESS;
        start = end + 1;
    }
}

// Common start of every call on an open key: the handle, its rights, the store.
struct Call {
    std::lock_guard<std::mutex> lock{gMutex};
    OpenKey key{};
    LONG status = ERROR_SUCCESS;

    Call(HKEY handle, REGSAM needed) {
        gLastError.clear();
        if (!lookupHandle(handle, key))
            status = ERROR_INVALID_HANDLE;
        else if ((key.access & needed) != needed)
            status = ERROR_ACCESS_DENIED;
    }

    // Opens the store for this call and checks that the handle's key still exists.
    LONG openStore(std::optional<Store>& store, bool write) const {
        if (status != ERROR_SUCCESS)
            return status;
        store.emplace(write);
        if (store->status() != ERROR_SUCCESS)
            return store->status();
        if (!store->keyExists(key.id)) {
            if (store->status() == ERROR_SUCCESS && key.id == kRootId)
                return store->damaged("its top key is missing");
            return store->orFailure(ERROR_KEY_DELETED);
        }
        return ERROR_SUCCESS;
    }
};

LONG openOrCreate(HKEY key, const char* subKey, REGSAM sam, bool create, HKEY* result,
                  DWORD* disposition) {
    if (!result)
        return ERROR_INVALID_PARAMETER;
    Call call(key, create ? KEY_CREATE_SUB_KEY : 0);
    if (call.status != ERROR_SUCCESS)
        return call.status;
    std::vector<std::string> parts;
    if (LONG rc = splitPath(subKey, parts); rc != ERROR_SUCCESS)
        return rc;
    if (sam & gDeniedRights)
        return ERROR_ACCESS_DENIED;

    std::optional<Store> opened;
    if (LONG rc = call.openStore(opened, create); rc != ERROR_SUCCESS)
        return rc;
    Store& store = *opened;
    if ((sam & kWriteRights) && store.readOnly())
        return store.refuseWrite();

    std::int64_t id = call.key.id;
    bool created = false;
    for (const std::string& part : parts) {
        std::int64_t next = store.child(id, part);
        if (!next) {
            if (!create || store.status() != ERROR_SUCCESS)
                return store.orFailure(ERROR_FILE_NOT_FOUND);
            next = store.addChild(id, part);
            if (!next)
                return store.status();
            created = true;
        }
        id = next;
    }
    if (created && store.commit() != ERROR_SUCCESS)
        return store.status();
    *result = newHandle(id, sam);
    if (disposition)
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

LONG copyOut(const void* src, size_t size, void* dst, DWORD* dstSize) {
    if (!dstSize)
        return dst ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    if (!dst) {
        *dstSize = static_cast<DWORD>(size);
        return ERROR_SUCCESS;
    }
    if (*dstSize < size) {
        *dstSize = static_cast<DWORD>(size);
        return ERROR_MORE_DATA;
    }
    if (size)
        std::memcpy(dst, src, size);
    *dstSize = static_cast<DWORD>(size);
    return ERROR_SUCCESS;
}

// Names go out with a terminating zero; the size is in characters without it.
LONG copyName(const std::string& name, char* dst, DWORD* dstSize) {
    if (!dst || !dstSize)
        return ERROR_INVALID_PARAMETER;
    if (*dstSize < name.size() + 1) {
        *dstSize = static_cast<DWORD>(name.size() + 1);
        return ERROR_MORE_DATA;
    }
    std::memcpy(dst, name.c_str(), name.size() + 1);
    *dstSize = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

LONG readKey(Store& store, std::int64_t id, registry::Key& out) {
    Statement v(store.db(), "SELECT name, type, data FROM vals WHERE key = ? ORDER BY rowid");
    v.bind(1, id);
    int rc;
    while ((rc = v.step()) == SQLITE_ROW)
        out.values.push_back({v.text(0), static_cast<DWORD>(v.integer(1)), v.blob(2)});
    if (rc != SQLITE_DONE)
        return store.fail(rc);
    Statement k(store.db(), "SELECT id, name FROM keys WHERE parent = ? ORDER BY fold");
    k.bind(1, id);
    std::vector<std::pair<std::int64_t, std::string>> children;
    while ((rc = k.step()) == SQLITE_ROW)
        children.emplace_back(k.integer(0), k.text(1));
    if (rc != SQLITE_DONE)
        return store.fail(rc);
    for (auto& [childId, name] : children) {
        registry::Key sub;
        sub.name = name;
        LONG r = readKey(store, childId, sub);
        if (r != ERROR_SUCCESS)
            return r;
        out.subkeys.push_back(std::move(sub));
    }
    return ERROR_SUCCESS;
}

} // namespace

LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD, REGSAM samDesired, HKEY* result) {
    return openOrCreate(key, subKey, samDesired, false, result, nullptr);
}

LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD, char*, DWORD options, REGSAM samDesired,
                     const SECURITY_ATTRIBUTES*, HKEY* result, DWORD* disposition) {
    if (options & REG_OPTION_VOLATILE)
        return ERROR_CHILD_MUST_BE_VOLATILE; // the store keeps only non-volatile keys
    return openOrCreate(key, subKey, samDesired, true, result, disposition);
}

LONG RegCloseKey(HKEY key) {
    std::lock_guard<std::mutex> lock(gMutex);
    if (key == HKEY_CURRENT_USER)
        return ERROR_SUCCESS;
    return gHandles.erase(reinterpret_cast<std::uintptr_t>(key)) ? ERROR_SUCCESS
                                                                 : ERROR_INVALID_HANDLE;
}

LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* dataSize) {
    if (reserved || (data && !dataSize))
        return ERROR_INVALID_PARAMETER;
    Call call(key, KEY_QUERY_VALUE);
    std::optional<Store> opened;
    if (LONG rc = call.openStore(opened, false); rc != ERROR_SUCCESS)
        return rc;
    Store& store = *opened;
    if (!store.hasSchema())
        return ERROR_FILE_NOT_FOUND;
    Statement s(store.db(), "SELECT type, data FROM vals WHERE key = ? AND fold = ?");
    s.bind(1, call.key.id).bind(2, fold(valueName ? valueName : ""));
    int rc = s.step();
    if (rc == SQLITE_DONE)
        return ERROR_FILE_NOT_FOUND;
    if (rc != SQLITE_ROW)
        return store.fail(rc);
    if (type)
        *type = static_cast<DWORD>(s.integer(0));
    std::vector<BYTE> bytes = s.blob(1);
    return copyOut(bytes.data(), bytes.size(), data, dataSize);
}

LONG RegSetValueExA(HKEY key, const char* valueName, DWORD, DWORD type, const BYTE* data,
                    DWORD dataSize) {
    if (!data && dataSize)
        return ERROR_INVALID_PARAMETER;
    std::string name = valueName ? valueName : "";
    if (nameLength(name) > kMaxValueName)
        return ERROR_INVALID_PARAMETER;
    Call call(key, KEY_SET_VALUE);
    std::optional<Store> opened;
    if (LONG rc = call.openStore(opened, true); rc != ERROR_SUCCESS)
        return rc;
    Store& store = *opened;
    Statement s(store.db(), "INSERT INTO vals(key, name, fold, type, data) VALUES(?, ?, ?, ?, ?) "
                            "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, "
                            "data = excluded.data");
    s.bind(1, call.key.id)
        .bind(2, name)
        .bind(3, fold(name))
        .bind(4, type)
        .bindBlob(5, data, dataSize);
    int rc = s.step();
    if (rc != SQLITE_DONE)
        return store.fail(rc);
    return store.commit();
}

LONG RegDeleteValueA(HKEY key, const char* valueName) {
    Call call(key, KEY_SET_VALUE);
    std::optional<Store> opened;
    if (LONG rc = call.openStore(opened, true); rc != ERROR_SUCCESS)
        return rc;
    Store& store = *opened;
    Statement s(store.db(), "DELETE FROM vals WHERE key = ? AND fold = ?");
    s.bind(1, call.key.id).bind(2, fold(valueName ? valueName : ""));
    int rc = s.step();
    if (rc != SQLITE_DONE)
        return store.fail(rc);
    if (sqlite3_changes(store.db()) == 0)
        return ERROR_FILE_NOT_FOUND;
    return store.commit();
}

namespace {

LONG deleteKey(HKEY key, const char* subKey, bool tree) {
    Call call(key, 0);
    if (call.status != ERROR_SUCCESS)
        return call.status;
    std::vector<std::string> parts;
    if (LONG rc = splitPath(subKey, parts); rc != ERROR_SUCCESS)
        return rc;
    if (!tree && parts.empty())
        return ERROR_INVALID_PARAMETER;
    if (gDeniedRights & DELETE_)
        return ERROR_ACCESS_DENIED;
    std::optional<Store> opened;
    if (LONG rc = call.openStore(opened, true); rc != ERROR_SUCCESS)
        return rc;
    Store& store = *opened;
    std::int64_t id = call.key.id;
    for (const std::string& part : parts) {
        id = store.child(id, part);
        if (!id)
            return store.orFailure(ERROR_FILE_NOT_FOUND);
    }
    if (!tree) {
        Statement s(store.db(), "SELECT 1 FROM keys WHERE parent = ?");
        s.bind(1, id);
        if (store.found(s.step()))
            return ERROR_ACCESS_DENIED; // the platform refuses to delete a key with subkeys
        if (store.status() != ERROR_SUCCESS)
            return store.status();
    }
    if (id == kRootId && !parts.empty())
        return ERROR_ACCESS_DENIED;
    if (store.deleteSubtree(id, parts.empty()) != ERROR_SUCCESS)
        return store.status();
    return store.commit();
}

} // namespace

LONG RegDeleteKeyA(HKEY key, const char* subKey) {
    return deleteKey(key, subKey, false);
}

LONG RegDeleteTreeA(HKEY key, const char* subKey) {
    return deleteKey(key, subKey, true);
}

LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* reserved, char*,
                   DWORD*, void*) {
    if (reserved)
        return ERROR_INVALID_PARAMETER;
    Call call(key, KEY_ENUMERATE_SUB_KEYS);
    std::optional<Store> opened;
    if (LONG rc = call.openStore(opened, false); rc != ERROR_SUCCESS)
        return rc;
    Store& store = *opened;
    if (!store.hasSchema())
        return ERROR_NO_MORE_ITEMS;
    Statement s(store.db(),
                "SELECT name FROM keys WHERE parent = ? ORDER BY fold LIMIT 1 OFFSET ?");
    s.bind(1, call.key.id).bind(2, static_cast<std::int64_t>(index));
    int rc = s.step();
    if (rc == SQLITE_DONE)
        return ERROR_NO_MORE_ITEMS;
    if (rc != SQLITE_ROW)
        return store.fail(rc);
    return copyName(s.text(0), name, nameSize);
}

LONG RegEnumValueA(HKEY key, DWORD index, char* valueName, DWORD* valueNameSize, DWORD* reserved,
                   DWORD* type, BYTE* data, DWORD* dataSize) {
    if (reserved)
        return ERROR_INVALID_PARAMETER;
    Call call(key, KEY_QUERY_VALUE);
    std::optional<Store> opened;
    if (LONG rc = call.openStore(opened, false); rc != ERROR_SUCCESS)
        return rc;
    Store& store = *opened;
    if (!store.hasSchema())
        return ERROR_NO_MORE_ITEMS;
    Statement s(store.db(),
                "SELECT name, type, data FROM vals WHERE key = ? ORDER BY rowid LIMIT 1 OFFSET ?");
    s.bind(1, call.key.id).bind(2, static_cast<std::int64_t>(index));
    int rc = s.step();
    if (rc == SQLITE_DONE)
        return ERROR_NO_MORE_ITEMS;
    if (rc != SQLITE_ROW)
        return store.fail(rc);
    LONG r = copyName(s.text(0), valueName, valueNameSize);
    if (r != ERROR_SUCCESS)
        return r;
    if (type)
        *type = static_cast<DWORD>(s.integer(1));
    std::vector<BYTE> bytes = s.blob(2);
    return copyOut(bytes.data(), bytes.size(), data, dataSize);
}

namespace registry {

LONG readTree(HKEY key, Key& out) {
    Call call(key, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS);
    std::optional<Store> opened;
    if (LONG rc = call.openStore(opened, false); rc != ERROR_SUCCESS)
        return rc;
    Store& store = *opened;
    out.values.clear();
    out.subkeys.clear();
    if (!store.hasSchema())
        return ERROR_SUCCESS;
    Statement n(store.db(), "SELECT name FROM keys WHERE id = ?");
    n.bind(1, call.key.id);
    if (n.step() == SQLITE_ROW)
        out.name = n.text(0);
    return readKey(store, call.key.id, out);
}

std::string storeFile() {
    std::lock_guard<std::mutex> lock(gMutex);
    return currentStoreFile();
}

void setStoreFile(const std::string& path) {
    std::lock_guard<std::mutex> lock(gMutex);
    gStoreOverride = path;
}

void closeConnections() {
    std::lock_guard<std::mutex> lock(gMutex);
    for (auto& entry : gConnections)
        sqlite3_close_v2(entry.second.db);
    gConnections.clear();
}

void setDeniedRights(REGSAM rights) {
    std::lock_guard<std::mutex> lock(gMutex);
    gDeniedRights = rights;
}

char16_t upcase(char16_t unit) {
    if (unit < 0x80)
        return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - 0x20) : unit;
    if (QChar::isSurrogate(unit))
        return unit;
    const char32_t upper = QChar::toUpper(static_cast<char32_t>(unit));
    return upper <= 0xFFFF ? static_cast<char16_t>(upper) : unit;
}

std::string lastStoreError() {
    std::lock_guard<std::mutex> lock(gMutex);
    return gLastError;
}

} // namespace registry

namespace {

// Whether the store takes `name` for a key: what a path of one element may hold. Returns the
// code the other calls give for such a name.
LONG keyNameError(const std::string& name) {
    std::vector<std::string> parts;
    if (name.empty() || name.find('\\') != std::string::npos)
        return ERROR_BAD_PATHNAME;
    return splitPath(name.c_str(), parts);
}

LONG putValue(Store& store, std::int64_t id, const registry::Value& v, bool replace) {
    Statement s(store.db(), replace ? "INSERT INTO vals(key, name, fold, type, data) "
                                      "VALUES(?, ?, ?, ?, ?) ON CONFLICT(key, fold) DO UPDATE "
                                      "SET type = excluded.type, data = excluded.data"
                                    : "INSERT INTO vals(key, name, fold, type, data) "
                                      "VALUES(?, ?, ?, ?, ?)");
    if (v.data.size() > 0x7FFFFFFFu || nameLength(v.name) > kMaxValueName)
        return ERROR_INVALID_PARAMETER;
    s.bind(1, id).bind(2, v.name).bind(3, fold(v.name)).bind(4, v.type);
    s.bindBlob(5, v.data.data(), static_cast<DWORD>(v.data.size()));
    const int rc = s.step();
    return rc == SQLITE_DONE ? ERROR_SUCCESS : store.fail(rc);
}

// Adds the values and subkeys of `k` below the key `id`, which holds none of them yet.
LONG insertTree(Store& store, std::int64_t id, const registry::Key& k) {
    std::vector<std::string> seen;
    for (const registry::Value& v : k.values)
        seen.push_back(fold(v.name));
    std::sort(seen.begin(), seen.end());
    if (std::adjacent_find(seen.begin(), seen.end()) != seen.end())
        return ERROR_ALREADY_EXISTS;
    seen.clear();
    for (const registry::Key& sub : k.subkeys) {
        if (LONG rc = keyNameError(sub.name); rc != ERROR_SUCCESS)
            return rc;
        seen.push_back(fold(sub.name));
    }
    std::sort(seen.begin(), seen.end());
    if (std::adjacent_find(seen.begin(), seen.end()) != seen.end())
        return ERROR_ALREADY_EXISTS;
    for (const registry::Value& v : k.values)
        if (LONG rc = putValue(store, id, v, false); rc != ERROR_SUCCESS)
            return rc;
    for (const registry::Key& sub : k.subkeys) {
        const std::int64_t child = store.addChild(id, sub.name);
        if (!child)
            return store.status();
        if (LONG rc = insertTree(store, child, sub); rc != ERROR_SUCCESS)
            return rc;
    }
    return ERROR_SUCCESS;
}

} // namespace

namespace registry {

std::string nameFold(const std::string& name) {
    return fold(name);
}

LONG replaceTree(HKEY key, const Key& tree) {
    Call call(key, KEY_SET_VALUE | KEY_CREATE_SUB_KEY);
    std::optional<Store> opened;
    if (LONG rc = call.openStore(opened, true); rc != ERROR_SUCCESS)
        return rc;
    Store& store = *opened;
    if (store.deleteSubtree(call.key.id, true) != ERROR_SUCCESS)
        return store.status();
    if (LONG rc = insertTree(store, call.key.id, tree); rc != ERROR_SUCCESS) {
        if (store.status() == ERROR_SUCCESS)
            store.abandon(rc);
        return rc;
    }
    return store.commit();
}

LONG applyChanges(const std::vector<Change>& changes, std::size_t* failedAt) {
    Call call(HKEY_CURRENT_USER, 0);
    std::optional<Store> opened;
    if (LONG rc = call.openStore(opened, true); rc != ERROR_SUCCESS)
        return rc;
    Store& store = *opened;
    auto failed = [&](std::size_t i, LONG rc) {
        if (failedAt)
            *failedAt = i;
        if (store.status() == ERROR_SUCCESS)
            store.abandon(rc);
        return rc;
    };
    for (std::size_t i = 0; i < changes.size(); ++i) {
        const Change& c = changes[i];
        const bool create = c.kind == Change::Kind::CreateKey || c.kind == Change::Kind::SetValue;
        if (c.kind == Change::Kind::DeleteKey && c.path.empty())
            return failed(i, ERROR_ACCESS_DENIED); // the root itself stays
        std::int64_t id = kRootId;
        for (const std::string& part : c.path) {
            if (LONG rc = keyNameError(part); rc != ERROR_SUCCESS)
                return failed(i, rc);
            std::int64_t next = store.child(id, part);
            if (!next && store.status() != ERROR_SUCCESS)
                return failed(i, store.status());
            if (!next && create)
                next = store.addChild(id, part);
            if (!next && create)
                return failed(i, store.status());
            id = next;
            if (!id)
                break; // nothing to delete
        }
        if (!id)
            continue;
        LONG rc = ERROR_SUCCESS;
        switch (c.kind) {
        case Change::Kind::CreateKey:
            break;
        case Change::Kind::DeleteKey:
            rc = store.deleteSubtree(id, false);
            break;
        case Change::Kind::SetValue:
            rc = putValue(store, id, c.value, true);
            break;
        case Change::Kind::DeleteValue: {
            Statement s(store.db(), "DELETE FROM vals WHERE key = ? AND fold = ?");
            s.bind(1, id).bind(2, fold(c.value.name));
            const int r = s.step();
            if (r != SQLITE_DONE)
                rc = store.fail(r);
            break;
        }
        }
        if (rc != ERROR_SUCCESS)
            return failed(i, rc);
    }
    return store.commit();
}

} // namespace registry
