#include "database.h"

namespace tesseld {

// ---- cStatement ----

cStatement::cStatement(cDatabase& db, const char* sql) : m_db(db) {
    if (!db.Handle() || sqlite3_prepare_v2(db.Handle(), sql, -1, &m_stmt, nullptr) != SQLITE_OK) {
        db.NoteError("prepare");
        m_stmt = nullptr;
        m_failed = true;
    }
}

cStatement::~cStatement() {
    sqlite3_finalize(m_stmt);
}

cStatement& cStatement::Bind(int index, const std::string& text) {
    if (m_stmt && sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()),
                                    SQLITE_TRANSIENT) != SQLITE_OK)
        m_failed = true;
    return *this;
}

cStatement& cStatement::Bind(int index, int64_t value) {
    if (m_stmt && sqlite3_bind_int64(m_stmt, index, value) != SQLITE_OK) m_failed = true;
    return *this;
}

cStatement& cStatement::Bind(int index, const std::vector<uint8_t>& blob) {
    // A zero-length blob is still a blob, not NULL.
    static const uint8_t empty = 0;
    const void* data = blob.empty() ? &empty : blob.data();
    if (m_stmt && sqlite3_bind_blob(m_stmt, index, data, static_cast<int>(blob.size()),
                                    SQLITE_TRANSIENT) != SQLITE_OK)
        m_failed = true;
    return *this;
}

cStatement& cStatement::BindNull(int index) {
    if (m_stmt && sqlite3_bind_null(m_stmt, index) != SQLITE_OK) m_failed = true;
    return *this;
}

bool cStatement::Step() {
    if (!m_stmt || m_failed) return false;
    int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) {
        m_db.NoteError("step");
        m_failed = true;
    }
    return false;
}

bool cStatement::Run() {
    while (Step()) {
    }
    return !m_failed;
}

void cStatement::Reset() {
    if (!m_stmt) return;
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
    m_failed = false;
}

std::string cStatement::Text(int column) const {
    const unsigned char* text = sqlite3_column_text(m_stmt, column);
    int size = sqlite3_column_bytes(m_stmt, column);
    return text ? std::string(reinterpret_cast<const char*>(text), size) : std::string();
}

int64_t cStatement::Int(int column) const {
    return sqlite3_column_int64(m_stmt, column);
}

std::vector<uint8_t> cStatement::Blob(int column) const {
    const auto* data = static_cast<const uint8_t*>(sqlite3_column_blob(m_stmt, column));
    int size = sqlite3_column_bytes(m_stmt, column);
    return data ? std::vector<uint8_t>(data, data + size) : std::vector<uint8_t>();
}

bool cStatement::IsNull(int column) const {
    return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

// ---- cDatabase ----

cDatabase::~cDatabase() {
    Close();
}

bool cDatabase::Open(const std::string& path, Durability durability) {
    Close();
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path.c_str(), &m_db, flags, nullptr) != SQLITE_OK) {
        NoteError(("open " + path).c_str());
        Close();
        return false;
    }
    sqlite3_busy_timeout(m_db, 5000);
    // WAL keeps readers off the writer's way and makes a commit one append.
    // In WAL mode, FULL syncs the log at every commit; NORMAL only at
    // checkpoints, which still never corrupts the file.
    const char* setup = durability == Durability::Full
                            ? "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;"
                            : "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;";
    if (!Exec(setup)) {
        Close();
        return false;
    }
    cStatement mode(*this, "PRAGMA journal_mode");
    if (!mode.Step() || mode.Text(0) != "wal") {
        m_error = "the database refuses write-ahead logging: " + path;
        Close();
        return false;
    }
    return true;
}

void cDatabase::Close() {
    if (m_db) sqlite3_close_v2(m_db);
    m_db = nullptr;
}

bool cDatabase::Exec(const char* sql) {
    char* message = nullptr;
    if (!m_db || sqlite3_exec(m_db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        m_error = message ? message : "database not open";
        sqlite3_free(message);
        return false;
    }
    return true;
}

int64_t cDatabase::Changes() const {
    return m_db ? sqlite3_changes(m_db) : 0;
}

void cDatabase::NoteError(const char* what) {
    m_error = std::string(what) + ": " + (m_db ? sqlite3_errmsg(m_db) : "database not open");
}

// ---- cTransaction ----

cTransaction::cTransaction(cDatabase& db) : m_db(db) {
    m_began = db.Exec("BEGIN IMMEDIATE");
}

cTransaction::~cTransaction() {
    if (m_began && !m_done) m_db.Exec("ROLLBACK");
}

bool cTransaction::Commit() {
    if (!m_began || m_done) return false;
    if (!m_db.Exec("COMMIT")) return false;
    m_done = true;
    return true;
}

}  // namespace tesseld
