// The store over both engines: SQLite in a temporary file, PostgreSQL in a
// cluster of its own (tests/support/pg_cluster.sh; failing to start it fails
// the test). One table of cases, each on an empty store.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <functional>
#include <limits>
#include <thread>

#include <sqlite3.h>

#include "fleet/store.h"
#include "support/test_packages.h"

namespace iap::fleet {
namespace {

std::string shell(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        std::array<char, 256> buffer{};
        while (std::fgets(buffer.data(), buffer.size(), p)) out += buffer.data();
        if (::pclose(p) != 0) out.clear();
    }
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

// One cluster for the whole run.
class PgCluster {
public:
    static const std::string& url() {
        static PgCluster cluster;
        return cluster.url_;
    }
    ~PgCluster() { shell("bash '" IAP_PG_CLUSTER "' remove '" + dir_ + "' 2>&1"); }

private:
    PgCluster() {
        std::string pattern = (std::filesystem::temp_directory_path() / "iap-pg-XXXXXX").string();
        if (::mkdtemp(pattern.data())) dir_ = pattern;
        url_ = shell("bash '" IAP_PG_CLUSTER "' start '" + dir_ + "'");
    }
    std::string dir_, url_;
};

AttemptLine line(const std::string& id, const std::string& station, const std::string& serial, const std::string& outcome,
                 const std::string& start, uint64_t offset = 0) {
    AttemptLine a;
    a.site = "s1";
    a.station = station;
    a.record = "/var/r.csv";
    a.gen = "g1";
    a.offset = offset;
    a.end = offset + 10;
    a.id = id;
    a.columns = {{"start", start}, {"serial", serial}, {"outcome", outcome},
                 {"failure", outcome == "passed" ? "" : "crc"}, {"attempt_id", id}};
    return a;
}

std::vector<std::string> ids(const std::vector<StoredAttempt>& attempts) {
    std::vector<std::string> out;
    for (const StoredAttempt& a : attempts) out.push_back(a.line.id);
    return out;
}

struct Case {
    const char* name;
    std::function<void(Store&)> check;
};

const Case kCases[] = {
    {"duplicate ids are ignored and counted, within a batch too",
     [](Store& s) {
         const StoreResult first = s.write({{line("a", "st1", "S1", "passed", "T1"), line("b", "st1", "S2", "passed", "T2")}});
         EXPECT_EQ(first.stored, 2);
         const StoreResult second = s.write({{line("b", "st1", "S2", "passed", "T2"), line("c", "st1", "S3", "passed", "T3"),
                                              line("c", "st1", "S3", "passed", "T3")}});
         EXPECT_EQ(second.stored, 1);
         EXPECT_EQ(second.duplicates, 2);
         EXPECT_EQ(ids(s.attempts({})), (std::vector<std::string>{"a", "b", "c"}));
     }},
    {"a batch is stored whole or not at all, and the store goes on",
     [](Store& s) {
         AttemptLine bad = line("z", "st1", "S9", "passed", "T9");
         bad.end = std::numeric_limits<uint64_t>::max();
         StoreBatch batch{{line("a", "st1", "S1", "passed", "T1"), bad}, {{"t", "x", "not JSON"}}, {{{"s1", "st1", "r", "g"}, 10}}};
         EXPECT_THROW(s.write(batch), std::runtime_error);
         EXPECT_TRUE(s.attempts({}).empty());
         EXPECT_TRUE(s.positions().empty());
         EXPECT_EQ(s.rejectedCount(), 0);
         batch.attempts.pop_back();
         EXPECT_EQ(s.write(batch).stored, 1);
         EXPECT_EQ(s.positions().size(), 1u);
         EXPECT_EQ(s.rejectedCount(), 1);
     }},
    {"positions round trip and move",
     [](Store& s) {
         const RecordKey k1{"s1", "st1", "C:\\r.csv", "g1"}, k2{"s1", "st1", "C:\\r.csv", "g2"};
         s.write({{}, {}, {{k1, 10}, {k2, 20}}});
         s.write({{}, {}, {{k1, 30}}});
         auto got = s.positions();
         std::sort(got.begin(), got.end());
         EXPECT_EQ(got, (std::vector<std::pair<RecordKey, uint64_t>>{{k1, 30}, {k2, 20}}));
     }},
    {"what a message carries comes back: absent, new and bad columns, malformed raw bytes",
     [](Store& s) {
         AttemptLine old = line("a", "st1", "S1", "passed", "T1");
         old.columns.erase("attempt_id");     // an older header
         old.columns["later_column"] = "v";  // a newer one
         old.columns["result"] = std::string("nul\0in it", 9);
         AttemptLine bad = line("b", "st1", "", "", "", 10);
         bad.malformed = true;
         bad.columns.clear();
         bad.raw = std::string("\"x\0\xFF,\r\n", 7);
         s.write({{old, bad}, {{"iap/v1/\xFF/x", std::string("\0\xFE", 2), "bad topic"}}});
         const auto got = s.attempts({});
         ASSERT_EQ(got.size(), 2u);
         old.columns["result"] = "nul\xEF\xBF\xBDin it";
         EXPECT_EQ(attemptMessage(got[0].line), attemptMessage(bad));  // no start: first
         EXPECT_EQ(got[0].line.raw, bad.raw);
         EXPECT_EQ(attemptMessage(got[1].line), attemptMessage(old));
         EXPECT_EQ(got[1].received.size(), 24u) << got[1].received;  // 2026-12-09T21:46:16.123Z
         EXPECT_EQ(s.rejectedCount(), 1);
     }},
    {"query filters and the newest first",
     [](Store& s) {
         AttemptLine other = line("d", "st2", "S1", "failed", "2026-12-10T08:00:00.000+01:00");
         other.site = "s2";
         s.write({{line("a", "st1", "S1", "passed", "2026-12-09T10:00:00.000+01:00"),
                   line("b", "st1", "S2", "failed", "2026-12-09T11:00:00.000+01:00"),
                   line("c", "st2", "S1", "passed", "2026-12-10T07:00:00.000+01:00"), other}});
         struct Filter {
             AttemptQuery q;
             std::vector<std::string> want;
         };
         const Filter filters[] = {
             {{}, {"a", "b", "c", "d"}},
             {{.serial = "S1"}, {"a", "c", "d"}},
             {{.station = "st2"}, {"c", "d"}},
             {{.site = "s2"}, {"d"}},
             {{.outcome = "failed"}, {"b", "d"}},
             {{.since = "2026-12-10"}, {"c", "d"}},
             {{.serial = "S1", .station = "st2", .site = "s1"}, {"c"}},
             {{.serial = "nobody"}, {}},
             {{.station = "st1", .last = 1}, {"b"}},
             {{.last = 3}, {"d", "c", "b"}},
         };
         for (const Filter& f : filters) EXPECT_EQ(ids(s.attempts(f.q)), f.want) << f.want.size();
     }},
    {"yields per site, station and day, with the failure words",
     [](Store& s) {
         std::vector<AttemptLine> lines{line("a", "st1", "S1", "passed", "2026-12-09T10:00"),
                                        line("b", "st1", "S2", "failed", "2026-12-09T11:00"),
                                        line("c", "st1", "S3", "timeout", "2026-12-09T12:00"),
                                        line("d", "st1", "S4", "failed", "2026-12-10T12:00"),
                                        line("e", "st2", "S5", "passed", "2026-12-09T12:00")};
         lines[2].columns["failure"] = "timeout";
         AttemptLine bad = line("m", "st1", "", "", "");
         bad.malformed = true;
         bad.columns.clear();
         lines.push_back(bad);
         s.write({lines});
         const auto y = s.yields({});
         ASSERT_EQ(y.size(), 3u);
         EXPECT_EQ(y[0].day, "2026-12-09");
         EXPECT_EQ(y[0].passed, 1);
         EXPECT_EQ(y[0].failed, 2);
         EXPECT_EQ(y[0].failures, (std::vector<std::pair<std::string, int>>{{"crc", 1}, {"timeout", 1}}));
         EXPECT_EQ(y[1].day, "2026-12-10");
         EXPECT_EQ(y[1].failed, 1);
         EXPECT_EQ(y[2].station, "st2");
         EXPECT_TRUE(y[2].failures.empty());
         EXPECT_EQ(s.yields({.station = "st2"}).size(), 1u);
     }},
};

class StoreTest : public testing::TestWithParam<const char*> {};

TEST_P(StoreTest, Cases) {
    const bool pg = std::string(GetParam()) == "postgres";
    test::TempDir dir;
    const std::string where = pg ? PgCluster::url() : (dir / "fleet.sqlite").string();
    ASSERT_FALSE(where.empty()) << "the PostgreSQL cluster did not start (pg_cluster.sh needs Debian's postgresql)";
    auto empty = [&] {
        if (pg) {
            ASSERT_EQ(std::system(("psql -q '" + where + "' -c 'DROP TABLE IF EXISTS attempts, rejected, positions' 2>/dev/null").c_str()), 0);
        } else {
            std::filesystem::remove(where);
        }
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        empty();
        const std::unique_ptr<Store> store = openStore(where);
        c.check(*store);
    }
    // A collector and queries opening a new store at once all find the schema.
    empty();
    std::vector<std::thread> openers;
    std::atomic<int> opened{0};
    for (int i = 0; i < 4; ++i) {
        openers.emplace_back([&] {
            try {
                opened += openStore(where)->attempts({}).empty();
            } catch (const std::exception& e) {
                ADD_FAILURE() << e.what();
            }
        });
    }
    for (std::thread& t : openers) t.join();
    EXPECT_EQ(opened, 4);
}

INSTANTIATE_TEST_SUITE_P(Engines, StoreTest, testing::Values("sqlite", "postgres"));

TEST(Store, SaysWhatCannotBeOpened) {
    test::TempDir dir;
    std::ofstream(dir / "text.sqlite") << "this is not a database, it is a note\n";
    for (const std::string& where : {(dir / "text.sqlite").string(), (dir / "no" / "such" / "dir.sqlite").string(),
                                     std::string("postgresql://nobody@127.0.0.1:1/none"), std::string()}) {
        EXPECT_THROW(openStore(where), std::runtime_error) << where;
    }
}

TEST(Store, GivesAnOlderStoreTheRecordColumnsItLacks) {
    test::TempDir dir;
    const std::string file = (dir / "fleet.sqlite").string();
    openStore(file)->write({{line("a", "st1", "S1", "passed", "T1")}});
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "ALTER TABLE attempts DROP COLUMN tool_version", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    AttemptLine b = line("b", "st1", "S2", "passed", "T2");
    b.columns["tool_version"] = "2.0.0";
    const std::unique_ptr<Store> store = openStore(file);
    EXPECT_EQ(store->write({{b}}).stored, 1);
    EXPECT_EQ(store->attempts({.serial = "S2"}).at(0).line.columns, b.columns);
}

}  // namespace
}  // namespace iap::fleet
