// A thin RAII layer over SQLite: one open database, prepared statements and
// transactions that roll back unless committed.
//
// Every call reports failure by its result; the last error text stays
// readable through cDatabase::Error(). Nothing here throws.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tesseld {

class cDatabase;

// One prepared statement. Parameters are numbered from 1, columns from 0.
class cStatement {
  public:
    cStatement(cDatabase& db, const char* sql);
    ~cStatement();
    cStatement(const cStatement&) = delete;
    cStatement& operator=(const cStatement&) = delete;

    bool Ok() const { return m_stmt != nullptr; }
    cStatement& Bind(int index, const std::string& text);
    cStatement& Bind(int index, int64_t value);
    cStatement& Bind(int index, const std::vector<uint8_t>& blob);
    cStatement& BindNull(int index);
    // Binds the values in order from parameter 1 on.
    template <class... Args>
    cStatement& BindAll(const Args&... args) {
        int index = 0;
        (Bind(++index, args), ...);
        return *this;
    }

    // True while a row is available; false at the end and on an error
    // (Failed() tells them apart).
    bool Step();
    // Runs a statement that returns no rows; true when it completed.
    bool Run();
    bool Failed() const { return m_failed; }
    // Makes the statement ready to run again with new parameters.
    void Reset();

    std::string Text(int column) const;
    int64_t Int(int column) const;
    std::vector<uint8_t> Blob(int column) const;
    bool IsNull(int column) const;

  private:
    cDatabase& m_db;
    sqlite3_stmt* m_stmt = nullptr;
    bool m_failed = false;
};

// How hard a commit presses its data to the disk.
enum class Durability {
    // The commit is on the disk when it returns: survives a power cut.
    Full,
    // The commit survives a crash of the process; a power cut may lose the
    // last commits but never corrupts the file.
    Normal,
};

class cDatabase {
  public:
    cDatabase() = default;
    ~cDatabase();
    cDatabase(const cDatabase&) = delete;
    cDatabase& operator=(const cDatabase&) = delete;

    // Opens (creating) the file in write-ahead-log mode.
    bool Open(const std::string& path, Durability durability);
    void Close();
    bool IsOpen() const { return m_db != nullptr; }
    // Runs one or more statements without parameters.
    bool Exec(const char* sql);
    const std::string& Error() const { return m_error; }
    int64_t Changes() const;
    sqlite3* Handle() const { return m_db; }

    void SetError(const std::string& text) { m_error = text; }
    // Records sqlite's current error text, prefixed by `what`.
    void NoteError(const char* what);

  private:
    sqlite3* m_db = nullptr;
    std::string m_error;
};

// BEGIN IMMEDIATE on construction; ROLLBACK on destruction unless Commit()
// succeeded, so an early return leaves the database as it was.
class cTransaction {
  public:
    explicit cTransaction(cDatabase& db);
    ~cTransaction();
    cTransaction(const cTransaction&) = delete;
    cTransaction& operator=(const cTransaction&) = delete;

    bool Began() const { return m_began; }
    bool Commit();

  private:
    cDatabase& m_db;
    bool m_began = false;
    bool m_done = false;
};

}  // namespace tesseld
