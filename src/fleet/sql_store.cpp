// The store's schema and statements, once for both engines, and openStore.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <limits>
#include <map>
#include <stdexcept>
#include <thread>
#include <tuple>

#include <nlohmann/json.hpp>

#include "fleet/sql_engine.h"
#include "fleet/utc_time.h"

namespace iap::fleet {
namespace sql {
namespace {

using nlohmann::json;

std::string quoted(std::string_view name) { return "\"" + std::string(name) + "\""; }

// The attempts table's columns after the record's: the message's own members.
constexpr std::string_view kMetaColumns[] = {"site", "station", "id", "record", "offset", "end", "gen",
                                             "first", "malformed", "raw", "extra", "received"};

std::string columnList() {
    std::string out;
    for (std::string_view c : kMetaColumns) out += (out.empty() ? "" : ", ") + quoted(c);
    for (std::string_view c : kRecordColumns) out += ", " + quoted(c);
    return out;
}

std::vector<std::string> schema(const Dialect& d) {
    const std::string integer = d.integer, blob = d.blob;
    std::string attempts = "CREATE TABLE IF NOT EXISTS attempts (site TEXT NOT NULL, station TEXT NOT NULL, "
                           "id TEXT PRIMARY KEY, record TEXT NOT NULL, \"offset\" " + integer + " NOT NULL, \"end\" " +
                           integer + " NOT NULL, gen TEXT NOT NULL, \"first\" INTEGER NOT NULL, malformed INTEGER NOT NULL, "
                           "raw " + blob + ", extra TEXT, received TEXT NOT NULL";
    for (std::string_view c : kRecordColumns) attempts += ", " + quoted(c) + " TEXT";
    attempts += ")";
    return {attempts,
            "CREATE INDEX IF NOT EXISTS attempts_serial ON attempts (serial)",
            "CREATE INDEX IF NOT EXISTS attempts_station ON attempts (site, station, start)",
            "CREATE INDEX IF NOT EXISTS attempts_start ON attempts (start)",
            "CREATE TABLE IF NOT EXISTS rejected (topic TEXT NOT NULL, payload " + blob +
                " NOT NULL, reason TEXT NOT NULL, received TEXT NOT NULL)",
            "CREATE TABLE IF NOT EXISTS positions (site TEXT NOT NULL, station TEXT NOT NULL, record TEXT NOT NULL, "
            "gen TEXT NOT NULL, \"end\" " + integer + " NOT NULL, PRIMARY KEY (site, station, record, gen))"};
}

bool validUtf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        const size_t n = b < 0x80 ? 1 : b >= 0xC2 && b <= 0xDF ? 2 : (b >> 4) == 0xE ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (size_t k = 1; k < n; ++k) {
            if ((static_cast<unsigned char>(s[i + k]) >> 6) != 0x2) return false;
        }
        // No overlong forms, surrogates or code points beyond U+10FFFF.
        const auto b1 = static_cast<unsigned char>(n > 1 ? s[i + 1] : 0);
        if ((b == 0xE0 && b1 < 0xA0) || (b == 0xED && b1 > 0x9F) || (b == 0xF0 && b1 < 0x90) || (b == 0xF4 && b1 > 0x8F)) {
            return false;
        }
        i += n;
    }
    return true;
}

// Text as both engines keep it: no NUL (PostgreSQL's text cannot hold it)
// and valid UTF-8 (a message's texts are; a topic need not be), U+FFFD for
// what is not.
std::string text(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) out += c == '\0' ? std::string_view("\xEF\xBF\xBD") : std::string_view(&c, 1);
    if (validUtf8(out)) return out;
    return json::parse(json(out).dump(-1, ' ', false, json::error_handler_t::replace)).get<std::string>();
}

int64_t integer(uint64_t v) {
    if (v > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) throw std::runtime_error("an offset beyond 2^63");
    return static_cast<int64_t>(v);
}

int64_t number(const std::optional<std::string>& s) { return s ? std::stoll(*s) : 0; }

// A WHERE clause and its parameters for a query's filters.
struct Filter {
    std::string where;
    std::vector<Value> params;
    void add(const std::optional<std::string>& value, const std::string& condition) {
        if (!value) return;
        where += (where.empty() ? " WHERE " : " AND ") + condition;
        params.emplace_back(*value);
    }
    void add(const std::string& condition) { where += (where.empty() ? " WHERE " : " AND ") + condition; }
};

Filter filterFor(const AttemptQuery& q) {
    Filter f;
    f.add(q.serial, "serial = ?");
    f.add(q.station, "station = ?");
    f.add(q.site, "site = ?");
    f.add(q.outcome, "outcome = ?");
    f.add(q.since, "start >= ?");
    return f;
}

class SqlStore final : public Store {
public:
    explicit SqlStore(std::unique_ptr<Engine> engine) : db_(std::move(engine)) {
        makeSchema();
        addRecordColumns();
        std::string marks;
        for (size_t i = 0; i < std::size(kMetaColumns) + kRecordColumns.size(); ++i) marks += i ? ", ?" : "?";
        insertAttempt_ = "INSERT INTO attempts (" + columnList() + ") VALUES (" + marks + ") ON CONFLICT (id) DO NOTHING";
    }

    StoreResult write(const StoreBatch& batch) override {
        const std::string received = utcTime();
        StoreResult result;
        db_->exec(db_->dialect().begin);
        try {
            for (const AttemptLine& a : batch.attempts) {
                const bool added = db_->run(insertAttempt_, values(a, received)) > 0;
                result.added.push_back(added);
                ++(added ? result.stored : result.duplicates);
            }
            for (const RejectedMessage& r : batch.rejected) {
                db_->run("INSERT INTO rejected (topic, payload, reason, received) VALUES (?, ?, ?, ?)",
                         {text(r.topic), Blob{r.payload}, text(r.reason), received});
            }
            for (const auto& [key, end] : batch.positions) {
                db_->run("INSERT INTO positions (site, station, record, gen, \"end\") VALUES (?, ?, ?, ?, ?) "
                         "ON CONFLICT (site, station, record, gen) DO UPDATE SET \"end\" = excluded.\"end\"",
                         {text(key.site), text(key.station), text(key.record), text(key.gen), integer(end)});
            }
            db_->exec("COMMIT");
        } catch (...) {
            try {
                db_->exec("ROLLBACK");
            } catch (...) {  // a lost connection has ended the transaction already
            }
            throw;
        }
        return result;
    }

    std::vector<std::pair<RecordKey, uint64_t>> positions() override {
        std::vector<std::pair<RecordKey, uint64_t>> out;
        for (const Row& r : db_->query("SELECT site, station, record, gen, \"end\" FROM positions", {})) {
            out.push_back({{r[0].value_or(""), r[1].value_or(""), r[2].value_or(""), r[3].value_or("")},
                           static_cast<uint64_t>(number(r[4]))});
        }
        return out;
    }

    std::vector<StoredAttempt> attempts(const AttemptQuery& q) override {
        Filter f = filterFor(q);
        std::string order = " ORDER BY COALESCE(start, ''), id";
        if (q.last > 0) {
            f.add("start IS NOT NULL");
            order = " ORDER BY start DESC, id DESC LIMIT ?";
            f.params.emplace_back(static_cast<int64_t>(std::min<size_t>(q.last, 1u << 30)));
        }
        std::vector<StoredAttempt> out;
        for (const Row& r : db_->query("SELECT " + columnList() + " FROM attempts" + f.where + order, f.params)) {
            out.push_back(attempt(r));
        }
        return out;
    }

    std::vector<YieldRow> yields(const AttemptQuery& q) override {
        Filter f = filterFor(q);
        f.add("malformed = 0");
        const std::string group = " GROUP BY site, station, substr(start, 1, 10)";
        std::map<std::tuple<std::string, std::string, std::string>, YieldRow> rows;
        for (const Row& r : db_->query("SELECT site, station, substr(start, 1, 10), "
                                       "SUM(CASE WHEN outcome = 'passed' THEN 1 ELSE 0 END), "
                                       "SUM(CASE WHEN outcome = 'passed' THEN 0 ELSE 1 END) FROM attempts" +
                                           f.where + group,
                                       f.params)) {
            YieldRow& y = rows[{r[0].value_or(""), r[1].value_or(""), r[2].value_or("")}];
            y = {r[0].value_or(""), r[1].value_or(""), r[2].value_or(""), int(number(r[3])), int(number(r[4])), {}};
        }
        f.add("failure IS NOT NULL AND failure <> ''");
        for (const Row& r : db_->query("SELECT site, station, substr(start, 1, 10), failure, COUNT(*) FROM attempts" +
                                           f.where + group + ", failure ORDER BY failure",
                                       f.params)) {
            rows[{r[0].value_or(""), r[1].value_or(""), r[2].value_or("")}].failures.push_back(
                {r[3].value_or(""), int(number(r[4]))});
        }
        std::vector<YieldRow> out;
        for (auto& [key, row] : rows) out.push_back(std::move(row));
        return out;
    }

    int64_t rejectedCount() override { return number(db_->query("SELECT COUNT(*) FROM rejected", {}).at(0).at(0)); }

private:
    // The tables, made in one transaction where they are missing. Two
    // programs making them at once (a collector and a query on a new
    // PostgreSQL database) can collide; the one that lost finds them made.
    void makeSchema() {
        for (int attempt = 1;; ++attempt) {
            try {
                db_->query("SELECT COUNT(*) FROM positions WHERE 1 = 0", {});
                return;  // made before: positions is made last
            } catch (const std::runtime_error&) {
            }
            try {
                db_->exec(db_->dialect().begin);
                for (const std::string& statement : schema(db_->dialect())) db_->exec(statement);
                db_->exec("COMMIT");
                return;
            } catch (const std::runtime_error&) {
                try {
                    db_->exec("ROLLBACK");
                } catch (const std::runtime_error&) {
                }
                if (attempt == 3) throw;
                std::this_thread::sleep_for(std::chrono::milliseconds(100 * attempt));
            }
        }
    }

    // A store made before a column joined the record gets it (NULL in the
    // rows before, which kept it in extra if their lines had it).
    void addRecordColumns() {
        for (std::string_view c : kRecordColumns) {
            try {
                db_->query("SELECT " + quoted(c) + " FROM attempts WHERE 1 = 0", {});
            } catch (const std::runtime_error&) {
                db_->exec("ALTER TABLE attempts ADD COLUMN " + quoted(c) + " TEXT");
            }
        }
    }

    static std::vector<Value> values(const AttemptLine& a, const std::string& received) {
        json extra = json::object();
        for (const auto& [name, value] : a.columns) {
            if (std::find(kRecordColumns.begin(), kRecordColumns.end(), name) == kRecordColumns.end()) extra[name] = value;
        }
        std::vector<Value> v{text(a.site), text(a.station), text(a.id), text(a.record), integer(a.offset), integer(a.end),
                             text(a.gen), int64_t(a.first), int64_t(a.malformed)};
        v.push_back(a.malformed ? Value(Blob{a.raw}) : Value());
        v.push_back(extra.empty() ? Value() : Value(text(extra.dump(-1, ' ', false, json::error_handler_t::replace))));
        v.push_back(received);
        for (std::string_view c : kRecordColumns) {
            const auto it = a.columns.find(std::string(c));
            v.push_back(it == a.columns.end() ? Value() : Value(text(it->second)));
        }
        return v;
    }

    static StoredAttempt attempt(const Row& r) {
        StoredAttempt s;
        AttemptLine& a = s.line;
        a.site = r[0].value_or("");
        a.station = r[1].value_or("");
        a.id = r[2].value_or("");
        a.record = r[3].value_or("");
        a.offset = static_cast<uint64_t>(number(r[4]));
        a.end = static_cast<uint64_t>(number(r[5]));
        a.gen = r[6].value_or("");
        a.first = number(r[7]) != 0;
        a.malformed = number(r[8]) != 0;
        a.raw = r[9].value_or("");
        if (r[10]) {
            const json extra = json::parse(*r[10], nullptr, false);
            if (extra.is_object()) {
                for (const auto& [name, value] : extra.items()) {
                    if (value.is_string()) a.columns[name] = value.get<std::string>();
                }
            }
        }
        s.received = r[11].value_or("");
        for (size_t i = 0; i < kRecordColumns.size(); ++i) {
            if (r[std::size(kMetaColumns) + i]) a.columns[std::string(kRecordColumns[i])] = *r[std::size(kMetaColumns) + i];
        }
        return s;
    }

    std::unique_ptr<Engine> db_;
    std::string insertAttempt_;
};

}  // namespace

std::unique_ptr<Store> makeSqlStore(std::unique_ptr<Engine> engine) { return std::make_unique<SqlStore>(std::move(engine)); }

}  // namespace sql

std::unique_ptr<Store> openStore(const std::string& where) {
    if (where.empty()) throw std::runtime_error("no store given: a file name for SQLite or a postgresql:// URL");
    const bool pg = where.starts_with("postgresql://") || where.starts_with("postgres://");
    return sql::makeSqlStore(pg ? sql::openPgEngine(where) : sql::openSqliteEngine(where));
}

}  // namespace iap::fleet
