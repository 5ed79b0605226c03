// The seam under the store: the SQL of the schema and of every statement is
// written once (sql_store.cpp, in the words both SQLite and PostgreSQL
// understand: ? parameters, ON CONFLICT, quoted names); an engine runs it
// (sqlite_engine.cpp, pg_engine.cpp) and says where the two differ.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "fleet/store.h"

namespace iap::fleet::sql {

struct Blob {
    std::string bytes;
};
using Value = std::variant<std::monostate, int64_t, std::string, Blob>;  // monostate: NULL
using Row = std::vector<std::optional<std::string>>;  // NULL: none; a blob's bytes as they are

// The words that differ between the two.
struct Dialect {
    const char* integer;  // a 64-bit integer column
    const char* blob;     // a column of bytes
    const char* begin;    // a write transaction's start
};

class Engine {
public:
    virtual ~Engine() = default;
    virtual Dialect dialect() const = 0;
    // Statements without parameters (the schema, a transaction's start and end).
    virtual void exec(const std::string& sql) = 0;
    // One statement with ? parameters: the rows it changed.
    virtual int64_t run(const std::string& sql, const std::vector<Value>& params) = 0;
    virtual std::vector<Row> query(const std::string& sql, const std::vector<Value>& params) = 0;
};

// Each throws std::runtime_error with a text for the user when the store
// cannot be opened; their statements throw it for any failure.
std::unique_ptr<Engine> openSqliteEngine(const std::string& path);
std::unique_ptr<Engine> openPgEngine(const std::string& url);  // a build without libpq: throws

// The store over an engine: makes the schema where it is missing.
std::unique_ptr<Store> makeSqlStore(std::unique_ptr<Engine> engine);

}  // namespace iap::fleet::sql
