// usb-iap-fleet collect and query: the store at the centre.
#include <filesystem>
#include <iostream>
#include <memory>
#include <regex>

#include "fleet/collector.h"
#include "fleet/query_output.h"
#include "fleet/store.h"
#include "fleet_cli/commands.h"

namespace iap::fleet_cli {

namespace {

bool isPostgres(const std::string& db) { return db.starts_with("postgresql://") || db.starts_with("postgres://"); }

const char* const kDbHelp = "the store: an SQLite file, or postgresql://USER@HOST/DATABASE";

}  // namespace

Runner addCollectCommand(CLI::App& app) {
    struct Args {
        BrokerArgs broker;
        std::string db;
    };
    auto a = std::make_shared<Args>();
    a->broker.add(app);
    app.add_option("--db", a->db, kDbHelp)->required();
    return [a](CliIo& io) {
        fleet::CollectorOptions o;
        o.connect = a->broker.connectOptions();
        const std::unique_ptr<fleet::Store> store = fleet::openStore(a->db);
        const std::unique_ptr<fleet::Transport> transport = fleet::makeMqttTransport();
        fleet::Collector collector(std::move(o), *transport, *store);
        const auto stopScope = io.stop.scoped([&collector] { collector.stop(); });
        collector.run();
        const fleet::Collector::Figures f = collector.figures();
        io.err << "usb-iap-fleet collect: stopped; " << f.stored << " attempts stored, " << f.duplicates
               << " second copies ignored, " << f.rejected << " messages rejected\n";
        return kOk;
    };
}

Runner addQueryCommand(CLI::App& app) {
    struct Args {
        std::string db;
        fleet::AttemptQuery query;
        bool json = false, csv = false, yield = false;
    };
    auto a = std::make_shared<Args>();
    app.add_option("--db", a->db, kDbHelp)->required();
    app.add_option("--serial", a->query.serial, "only the attempts on the board with this serial number");
    app.add_option("--station", a->query.station, "only this station's");
    app.add_option("--site", a->query.site, "only this site's");
    app.add_option("--since", a->query.since, "only those started at or after this time (ISO 8601: 2026-12-09 or 2026-12-09T10:00)");
    app.add_option("--outcome", a->query.outcome, "only those with this outcome (passed, failed, ...)");
    CLI::Option* json = app.add_flag("--json", a->json, "one JSON object per line, with the shipped messages' field names");
    CLI::Option* csv = app.add_flag("--csv", a->csv, "CSV with a header line (the default)");
    json->excludes(csv);
    app.add_flag("--yield", a->yield, "passed, failed and the failure words per station and day");
    return [a](CliIo& io) {
        if (a->query.since && !std::regex_match(*a->query.since, std::regex(R"(\d{4}-\d{2}-\d{2}([T ][0-9:.]+(Z|[+-]\d{2}:?\d{2})?)?)"))) {
            throw UsageError("--since \"" + *a->query.since + "\": give an ISO 8601 time, as 2026-12-09 or 2026-12-09T10:00");
        }
        // A query never makes an empty store where there was none.
        std::error_code ec;
        if (!isPostgres(a->db) && !std::filesystem::is_regular_file(a->db, ec)) {
            throw UsageError("no store at " + a->db);
        }
        const std::unique_ptr<fleet::Store> store = fleet::openStore(a->db);
        if (a->yield) {
            fleet::writeYields(io.out, store->yields(a->query), a->json);
        } else if (a->json) {
            fleet::writeAttemptsJson(io.out, store->attempts(a->query));
        } else {
            fleet::writeAttemptsCsv(io.out, store->attempts(a->query));
        }
        io.out.flush();
        return io.out ? kOk : kFailed;
    };
}

}  // namespace iap::fleet_cli
