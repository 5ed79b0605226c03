// The store's SQLite engine: one file, write-ahead log (the query tool reads
// while the collector writes), full sync at each commit (a stored position
// is never published for a line that a power cut could take back), and a
// busy timeout for the moments another connection holds the file.
#include <sqlite3.h>

#include <stdexcept>
#include <unordered_map>

#include "fleet/sql_engine.h"

namespace iap::fleet::sql {
namespace {

class SqliteEngine final : public Engine {
public:
    explicit SqliteEngine(const std::string& path) : path_(path) {
        const int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
        if (rc != SQLITE_OK) {
            const std::string why = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
            sqlite3_close(db_);
            throw std::runtime_error("the SQLite store " + path + " cannot be opened: " + why);
        }
        sqlite3_busy_timeout(db_, 10000);
        // "name" is a name only, never a string (as in PostgreSQL): a column that is not there is an error.
        sqlite3_db_config(db_, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
        sqlite3_db_config(db_, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
        try {
            exec("PRAGMA journal_mode = WAL");
            exec("PRAGMA synchronous = FULL");
        } catch (const std::exception& e) {
            close();
            throw std::runtime_error("the SQLite store " + path + " cannot be opened: " + e.what());
        }
    }
    ~SqliteEngine() override { close(); }

    Dialect dialect() const override { return {"INTEGER", "BLOB", "BEGIN IMMEDIATE"}; }

    void exec(const std::string& sql) override {
        char* error = nullptr;
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
            const std::string why = error ? error : sqlite3_errmsg(db_);
            sqlite3_free(error);
            fail(why);
        }
    }

    int64_t run(const std::string& sql, const std::vector<Value>& params) override {
        sqlite3_stmt* s = bound(sql, params);
        const int rc = sqlite3_step(s);
        sqlite3_reset(s);
        if (rc != SQLITE_DONE && rc != SQLITE_ROW) fail(sqlite3_errmsg(db_));
        return sqlite3_changes(db_);
    }

    std::vector<Row> query(const std::string& sql, const std::vector<Value>& params) override {
        sqlite3_stmt* s = bound(sql, params);
        std::vector<Row> rows;
        int rc;
        while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
            Row& row = rows.emplace_back();
            for (int i = 0, n = sqlite3_column_count(s); i < n; ++i) {
                if (sqlite3_column_type(s, i) == SQLITE_NULL) {
                    row.emplace_back();
                } else {
                    const auto* p = static_cast<const char*>(sqlite3_column_blob(s, i));
                    row.emplace_back(std::string(p ? p : "", static_cast<size_t>(sqlite3_column_bytes(s, i))));
                }
            }
        }
        sqlite3_reset(s);
        if (rc != SQLITE_DONE) fail(sqlite3_errmsg(db_));
        return rows;
    }

private:
    [[noreturn]] void fail(const std::string& why) const { throw std::runtime_error("SQLite " + path_ + ": " + why); }

    // The statement, prepared once per text, with params bound.
    sqlite3_stmt* bound(const std::string& sql, const std::vector<Value>& params) {
        sqlite3_stmt*& s = statements_[sql];
        if (!s && sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &s, nullptr) != SQLITE_OK) {
            statements_.erase(sql);
            fail(sqlite3_errmsg(db_));
        }
        sqlite3_clear_bindings(s);
        for (size_t i = 0; i < params.size(); ++i) {
            const int at = static_cast<int>(i) + 1;
            const Value& v = params[i];
            int rc = SQLITE_OK;
            if (const auto* n = std::get_if<int64_t>(&v)) {
                rc = sqlite3_bind_int64(s, at, *n);
            } else if (const auto* t = std::get_if<std::string>(&v)) {
                rc = sqlite3_bind_text64(s, at, t->data(), t->size(), SQLITE_TRANSIENT, SQLITE_UTF8);
            } else if (const auto* b = std::get_if<Blob>(&v)) {
                rc = sqlite3_bind_blob64(s, at, b->bytes.data(), b->bytes.size(), SQLITE_TRANSIENT);
            } else {
                rc = sqlite3_bind_null(s, at);
            }
            if (rc != SQLITE_OK) fail(sqlite3_errmsg(db_));
        }
        return s;
    }

    void close() {
        for (auto& [sql, s] : statements_) sqlite3_finalize(s);
        statements_.clear();
        sqlite3_close(db_);
        db_ = nullptr;
    }

    std::string path_;
    sqlite3* db_ = nullptr;
    std::unordered_map<std::string, sqlite3_stmt*> statements_;
};

}  // namespace

std::unique_ptr<Engine> openSqliteEngine(const std::string& path) { return std::make_unique<SqliteEngine>(path); }

}  // namespace iap::fleet::sql
