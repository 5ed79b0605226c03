// A factory's Mosquitto, as `usb-iap-fleet broker-config` prints it: the
// configuration (MQTT listener, WebSockets listener serving the board's page
// from http_dir, persistence, the password and ACL files, a TLS listener when
// a certificate is given) and the ACL file.
//
// Who may do what (the ACL):
//   a station (its user name is its station name, made with mosquitto_passwd)
//     writes iap/v1/<site>/<itself>/attempt, status, line and port/+ only
//     (Mosquitto's %u pattern), and reads its own stored position;
//   the collector reads every attempt and writes every summary and stored
//     position;
//   the board reads everything under iap/v1/ and writes nothing.
// The patterns hold for every user, the collector's and the board's too: so
// each of those two is denied the station topics under its own name. No
// station can be named like them, since a user name is taken once.
#pragma once

#include <filesystem>
#include <string>

namespace iap::fleet {

struct BrokerConfigOptions {
    std::string site;                                    // validName
    std::filesystem::path folder = "/etc/mosquitto/usb-iap";  // mosquitto.conf, acl, passwd
    std::filesystem::path boardDir = "/usr/share/usb-iap-tools/fleet";  // http_dir; empty: none
    std::filesystem::path persistenceDir = "/var/lib/mosquitto";
    std::string bind;                // listeners' address; empty: every interface
    int mqttPort = 1883;
    int websocketsPort = 9001;
    // TLS: both or neither. With them, MQTT over TLS listens on tlsPort and
    // the plain MQTT listener only on the loopback address (127.0.0.1).
    std::filesystem::path certFile, keyFile;
    int tlsPort = 8883;
    std::string collectorUser = "collector";
    std::string boardUser = "board";
    std::string runAs;               // Mosquitto's `user` when started as root; empty: its default
};

// Throws std::invalid_argument with what is wrong: a bad site or user name,
// the two users alike, a port outside 1..65535 or used twice, one of the
// certificate and key without the other, a path that is relative or holds a
// control character (it would end the configuration's line).
void checkBrokerConfig(const BrokerConfigOptions& options);

// The files' places: <folder>/mosquitto.conf, <folder>/acl, <folder>/passwd.
std::filesystem::path brokerConfigFile(const BrokerConfigOptions& options);
std::filesystem::path brokerAclFile(const BrokerConfigOptions& options);
std::filesystem::path brokerPasswordFile(const BrokerConfigOptions& options);

// The texts (each checks the options first).
std::string brokerConfigText(const BrokerConfigOptions& options);
std::string brokerAclText(const BrokerConfigOptions& options);
// The commands that make the password file and the users, and start the
// broker: what an operator types after writing the files.
std::string brokerSetupText(const BrokerConfigOptions& options);

// Writes mosquitto.conf and acl into the folder (made when missing), each
// atomically, and an empty password file when there is none, so
// that the broker starts before the first user is added. Throws
// std::runtime_error naming the file that could not be written.
void writeBrokerFiles(const BrokerConfigOptions& options);

}  // namespace iap::fleet
