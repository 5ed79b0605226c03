// usb-iap-fleet ship.
#include <iostream>
#include <memory>

#include "fleet/shipper.h"
#include "fleet/topics.h"
#include "fleet_cli/commands.h"
#include "package/tool_version.h"

namespace iap::fleet_cli {

Runner addShipCommand(CLI::App& app) {
    struct Args {
        BrokerArgs broker;
        std::string site, station, confirm = "store", stateDir;
        std::vector<std::string> records;
    };
    auto a = std::make_shared<Args>();
    a->broker.add(app);
    app.add_option("--site", a->site, "the site's name (one topic level)")->required();
    app.add_option("--station", a->station, "this station's name (one topic level)")->required();
    app.add_option("--confirm", a->confirm,
                   "store: a line is done once the collector has stored it (the default); broker: once the "
                   "broker has acknowledged it")
        ->check(CLI::IsMember({"store", "broker"}));
    app.add_option("--state-dir", a->stateDir,
                   "where the state files go when a record's folder cannot be written (default: the per-user "
                   "state folder)");
    app.add_option("records", a->records,
                   "the record files to follow (default: upgrade-record.csv in the working folder and in the "
                   "per-user state folder)");
    return [a](CliIo& io) {
        for (const auto& [what, name] : {std::pair{"site", &a->site}, std::pair{"station", &a->station}}) {
            if (!fleet::validName(*name)) {
                throw UsageError(std::string("--") + what + " \"" + *name + "\": give a name without / + # or NUL");
            }
        }
        fleet::ShipperOptions o;
        o.connect = a->broker.connectOptions();
        o.site = a->site;
        o.station = a->station;
        o.records.assign(a->records.begin(), a->records.end());
        o.confirmByBroker = a->confirm == "broker";
        o.version = std::string(toolVersion());
        o.stateFolder = a->stateDir;
        const std::unique_ptr<fleet::Transport> transport = fleet::makeMqttTransport();
        fleet::Shipper shipper(std::move(o), *transport);
        const auto stopScope = io.stop.scoped([&shipper] { shipper.stop(); });
        shipper.run();
        const fleet::Shipper::Figures f = shipper.figures();
        io.err << "usb-iap-fleet ship: stopped; " << f.published << " lines published, " << f.confirmed
               << " confirmed, " << f.backlog << " waiting in the records\n";
        return kOk;
    };
}

}  // namespace iap::fleet_cli
