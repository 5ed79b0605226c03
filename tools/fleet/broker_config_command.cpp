// usb-iap-fleet broker-config: a factory's Mosquitto configuration and ACL,
// printed with the commands that make its users, or written with --write.
#include <iostream>
#include <memory>

#include "fleet/broker_config.h"
#include "fleet_cli/commands.h"

namespace iap::fleet_cli {

Runner addBrokerConfigCommand(CLI::App& app) {
    struct Args {
        fleet::BrokerConfigOptions o;
        std::string folder, board, persistence, cert, key;
        bool write = false;
    };
    auto a = std::make_shared<Args>();
    a->folder = a->o.folder.string(), a->board = a->o.boardDir.string(), a->persistence = a->o.persistenceDir.string();
    app.add_option("--site", a->o.site, "the site's name, as the stations' --site")->required();
    app.add_option("--folder", a->folder, "where mosquitto.conf, acl and passwd go")->capture_default_str();
    app.add_option("--board-dir", a->board, "the board's page, served over WebSockets (empty: none)")
        ->capture_default_str();
    app.add_option("--persistence", a->persistence, "the broker's persistence folder")->capture_default_str();
    app.add_option("--bind", a->o.bind, "the listeners' address (default: every interface)");
    app.add_option("--mqtt-port", a->o.mqttPort, "MQTT")->capture_default_str();
    app.add_option("--ws-port", a->o.websocketsPort, "MQTT over WebSockets and the board's page")->capture_default_str();
    app.add_option("--tls-port", a->o.tlsPort, "MQTT over TLS, with --cert and --key")->capture_default_str();
    app.add_option("--cert", a->cert, "the broker's certificate (PEM)");
    app.add_option("--key", a->key, "the broker's private key (PEM)");
    app.add_option("--collector-user", a->o.collectorUser, "the collector's user name")->capture_default_str();
    app.add_option("--board-user", a->o.boardUser, "the board's user name")->capture_default_str();
    app.add_option("--run-as", a->o.runAs, "the user the broker runs as when started as root");
    app.add_flag("--write", a->write, "write mosquitto.conf and acl (and an empty passwd) into --folder");
    return [a](CliIo& io) {
        fleet::BrokerConfigOptions& o = a->o;
        o.folder = a->folder, o.boardDir = a->board, o.persistenceDir = a->persistence;
        o.certFile = a->cert, o.keyFile = a->key;
        try {
            fleet::checkBrokerConfig(o);
        } catch (const std::invalid_argument& e) {
            throw UsageError(e.what());
        }
        if (a->write) {
            fleet::writeBrokerFiles(o);
            io.out << "wrote " << fleet::brokerConfigFile(o).string() << " and " << fleet::brokerAclFile(o).string()
                   << "\n\n"
                   << fleet::brokerSetupText(o);
        } else {
            io.out << "# " << fleet::brokerConfigFile(o).string() << "\n"
                   << fleet::brokerConfigText(o) << "\n# " << fleet::brokerAclFile(o).string() << "\n"
                   << fleet::brokerAclText(o) << "\n"
                   << fleet::brokerSetupText(o);
        }
        return kOk;
    };
}

}  // namespace iap::fleet_cli
