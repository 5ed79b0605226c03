// The tests' stand-in for `usb-iap-fleet broker-config --write`: writes a
// factory broker's files with the fleet's broker_config and prints them.
#include <CLI/CLI.hpp>
#include <iostream>

#include "fleet/broker_config.h"

int main(int argc, char** argv) {
    iap::fleet::BrokerConfigOptions o;
    std::string folder, board, persistence, cert, key;
    CLI::App app{"broker_config_tool"};
    app.add_option("--site", o.site)->required();
    app.add_option("--folder", folder)->required();
    app.add_option("--board-dir", board);
    app.add_option("--persistence", persistence)->required();
    app.add_option("--mqtt-port", o.mqttPort);
    app.add_option("--ws-port", o.websocketsPort);
    app.add_option("--tls-port", o.tlsPort);
    app.add_option("--cert", cert);
    app.add_option("--key", key);
    app.add_option("--run-as", o.runAs);
    app.add_option("--bind", o.bind);
    CLI11_PARSE(app, argc, argv);
    o.folder = folder, o.boardDir = board, o.persistenceDir = persistence, o.certFile = cert, o.keyFile = key;
    try {
        iap::fleet::writeBrokerFiles(o);
        std::cout << iap::fleet::brokerConfigText(o) << "\n" << iap::fleet::brokerAclText(o);
    } catch (const std::exception& e) {
        std::cerr << "broker_config_tool: " << e.what() << "\n";
        return 2;
    }
}
