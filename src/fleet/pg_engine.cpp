// The store's PostgreSQL engine over libpq: statements prepared once per
// connection, ? made into $n, bytes sent and read as bytea. A lost
// connection fails the statement at hand; the next one connects again.
#include "fleet/sql_engine.h"

#include <stdexcept>

#ifdef IAP_HAVE_PQ
#include <libpq-fe.h>

#include <unordered_map>
#endif

namespace iap::fleet::sql {

#ifndef IAP_HAVE_PQ

std::unique_ptr<Engine> openPgEngine(const std::string&) {
    throw std::runtime_error("PostgreSQL is not in this build: give an SQLite file as the store");
}

#else

namespace {

constexpr unsigned kByteaOid = 17;

std::string trimmed(const char* message) {
    // libpq's messages run over lines ("...\n\tThis probably means..."): one line here.
    std::string s;
    for (const char* c = message ? message : ""; *c; ++c) {
        if (*c != '\n' && *c != '\t') {
            s += *c;
        } else if (!s.empty() && s.back() != ' ') {
            s += ' ';
        }
    }
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

// "\x4142" (bytea's text form) as bytes.
std::string unhex(const char* text, size_t size) {
    auto digit = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    std::string out;
    for (size_t i = 2; i + 1 < size; i += 2) out += static_cast<char>(digit(text[i]) << 4 | digit(text[i + 1]));
    return out;
}

class PgEngine final : public Engine {
public:
    explicit PgEngine(const std::string& url) {
        // The URL's own connect_timeout, where it gives one, comes after ours and wins.
        const char* keys[] = {"connect_timeout", "dbname", nullptr};
        const char* values[] = {"5", url.c_str(), nullptr};
        conn_ = PQconnectdbParams(keys, values, 1);
        if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
            const std::string why = conn_ ? trimmed(PQerrorMessage(conn_)) : "out of memory";
            PQfinish(conn_);
            throw std::runtime_error("the PostgreSQL store cannot be opened: " + why);
        }
        PQsetNoticeProcessor(conn_, [](void*, const char*) {}, nullptr);  // "already exists, skipping"
        PQsetClientEncoding(conn_, "UTF8");
    }
    ~PgEngine() override { PQfinish(conn_); }

    Dialect dialect() const override { return {"BIGINT", "BYTEA", "BEGIN"}; }

    void exec(const std::string& sql) override {
        connected();
        check(PQexec(conn_, sql.c_str()));
    }

    int64_t run(const std::string& sql, const std::vector<Value>& params) override {
        const Result r = execute(sql, params);
        const char* n = PQcmdTuples(r.get());
        return n && *n ? std::stoll(n) : 0;
    }

    std::vector<Row> query(const std::string& sql, const std::vector<Value>& params) override {
        const Result r = execute(sql, params);
        std::vector<Row> rows(static_cast<size_t>(PQntuples(r.get())));
        const int columns = PQnfields(r.get());
        for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
            for (int c = 0; c < columns; ++c) {
                if (PQgetisnull(r.get(), i, c)) {
                    rows[static_cast<size_t>(i)].emplace_back();
                    continue;
                }
                const char* v = PQgetvalue(r.get(), i, c);
                const auto size = static_cast<size_t>(PQgetlength(r.get(), i, c));
                rows[static_cast<size_t>(i)].emplace_back(PQftype(r.get(), c) == kByteaOid ? unhex(v, size) : std::string(v, size));
            }
        }
        return rows;
    }

private:
    struct Clear {
        void operator()(PGresult* r) const { PQclear(r); }
    };
    using Result = std::unique_ptr<PGresult, Clear>;

    [[noreturn]] void fail(const std::string& why) const { throw std::runtime_error("PostgreSQL: " + why); }

    // A connection lost before (the server restarted) is made again here.
    void connected() {
        if (PQstatus(conn_) == CONNECTION_OK) return;
        prepared_.clear();
        PQreset(conn_);
        if (PQstatus(conn_) != CONNECTION_OK) fail("no connection: " + trimmed(PQerrorMessage(conn_)));
        PQsetClientEncoding(conn_, "UTF8");
    }

    Result check(PGresult* raw) {
        Result r(raw);
        const ExecStatusType s = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
        if (s != PGRES_COMMAND_OK && s != PGRES_TUPLES_OK) fail(trimmed(PQerrorMessage(conn_)));
        return r;
    }

    Result execute(const std::string& sql, const std::vector<Value>& params) {
        connected();
        auto it = prepared_.find(sql);
        if (it == prepared_.end()) {
            std::string text;
            int n = 0;
            for (char c : sql) {
                if (c != '?') {
                    text += c;
                    continue;
                }
                text += '$';
                text += std::to_string(++n);
            }
            const std::string name = std::to_string(prepared_.size()).insert(0, 1, 's');
            check(PQprepare(conn_, name.c_str(), text.c_str(), n, nullptr));
            it = prepared_.emplace(sql, name).first;
        }
        std::vector<std::string> texts(params.size());
        std::vector<const char*> values(params.size());
        std::vector<int> lengths(params.size()), formats(params.size());
        for (size_t i = 0; i < params.size(); ++i) {
            if (const auto* n = std::get_if<int64_t>(&params[i])) {
                texts[i] = std::to_string(*n);
            } else if (const auto* t = std::get_if<std::string>(&params[i])) {
                texts[i] = *t;
            } else if (const auto* b = std::get_if<Blob>(&params[i])) {
                texts[i] = b->bytes;
                formats[i] = 1;
            } else {
                continue;  // NULL
            }
            values[i] = texts[i].data();
            lengths[i] = static_cast<int>(texts[i].size());
        }
        return check(PQexecPrepared(conn_, it->second.c_str(), static_cast<int>(params.size()), values.data(),
                                    lengths.data(), formats.data(), 0));
    }

    PGconn* conn_ = nullptr;
    std::unordered_map<std::string, std::string> prepared_;  // SQL -> prepared statement's name
};

}  // namespace

std::unique_ptr<Engine> openPgEngine(const std::string& url) { return std::make_unique<PgEngine>(url); }

#endif

}  // namespace iap::fleet::sql
