#include "fleet/broker_config.h"

#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "fleet/topics.h"

namespace iap::fleet {
namespace fs = std::filesystem;

namespace {

void checkPath(const fs::path& path, const char* what, bool mayBeEmpty) {
    const std::string text = path.string();
    if (text.empty()) {
        if (mayBeEmpty) return;
        throw std::invalid_argument(std::string(what) + " is empty");
    }
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7f)
            throw std::invalid_argument(std::string(what) + " holds a control character");
    if (!path.has_root_directory())
        throw std::invalid_argument(std::string(what) + " must be an absolute path: " + text);
}

void checkPort(int port, const char* what) {
    if (port < 1 || port > 65535)
        throw std::invalid_argument(std::string(what) + " must be 1..65535, not " + std::to_string(port));
}

bool tls(const BrokerConfigOptions& o) { return !o.certFile.empty(); }

// A folder as Mosquitto's persistence_location wants it: ending in a separator.
std::string asFolder(const fs::path& path) {
    std::string text = path.string();
    if (text.back() != '/' && text.back() != '\\') text += '/';
    return text;
}

void writeAtomically(const fs::path& file, const std::string& text) {
    fs::path temporary = file;
    temporary += ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        out.close();
        if (!out) throw std::runtime_error("cannot write " + temporary.string());
    }
    std::error_code error;
    fs::rename(temporary, file, error);
    if (error) {
        fs::remove(temporary, error);
        throw std::runtime_error("cannot write " + file.string());
    }
}

}  // namespace

void checkBrokerConfig(const BrokerConfigOptions& o) {
    if (!validName(o.site)) throw std::invalid_argument("bad site name: \"" + o.site + "\"");
    for (const std::string* user : {&o.collectorUser, &o.boardUser})
        if (!validName(*user) || user->find(' ') != std::string::npos || user->find(':') != std::string::npos)
            throw std::invalid_argument("bad user name: \"" + *user + "\"");
    if (o.collectorUser == o.boardUser)
        throw std::invalid_argument("the collector and the board need two users");
    for (unsigned char c : o.bind + o.runAs)
        if (c <= 0x20 || c == 0x7f) throw std::invalid_argument("bad bind address or user to run as");
    checkPath(o.folder, "the broker's folder", false);
    checkPath(o.persistenceDir, "the persistence folder", false);
    checkPath(o.boardDir, "the board's folder", true);
    checkPath(o.certFile, "the certificate", true);
    checkPath(o.keyFile, "the key", true);
    if (o.certFile.empty() != o.keyFile.empty())
        throw std::invalid_argument("a TLS listener needs both the certificate and its key");
    std::set<int> ports;
    checkPort(o.mqttPort, "the MQTT port");
    checkPort(o.websocketsPort, "the WebSockets port");
    ports.insert(o.mqttPort);
    if (!ports.insert(o.websocketsPort).second) throw std::invalid_argument("a port is used twice");
    if (tls(o)) {
        checkPort(o.tlsPort, "the TLS port");
        if (!ports.insert(o.tlsPort).second) throw std::invalid_argument("a port is used twice");
    }
}

fs::path brokerConfigFile(const BrokerConfigOptions& o) { return o.folder / "mosquitto.conf"; }
fs::path brokerAclFile(const BrokerConfigOptions& o) { return o.folder / "acl"; }
fs::path brokerPasswordFile(const BrokerConfigOptions& o) { return o.folder / "passwd"; }

std::string brokerConfigText(const BrokerConfigOptions& o) {
    checkBrokerConfig(o);
    std::ostringstream c;
    const std::string bind = o.bind.empty() ? "" : " " + o.bind;
    c << "# Mosquitto for the USB IAP fleet, site " << o.site << " (usb-iap-fleet broker-config)\n"
      << "# Start: mosquitto -c " << brokerConfigFile(o).string() << "\n"
      << "per_listener_settings false\n"
      << "allow_anonymous false\n"
      << "password_file " << brokerPasswordFile(o).string() << "\n"
      << "acl_file " << brokerAclFile(o).string() << "\n"
      << "persistence true\n"
      << "persistence_location " << asFolder(o.persistenceDir) << "\n"
      << "autosave_interval 60\n"
      << "max_queued_messages 100000\n";
    if (!o.runAs.empty()) c << "user " << o.runAs << "\n";
    c << "\n# MQTT: stations (ship, usb-iap-flash --publish) and the collector\n";
    if (tls(o)) {
        c << "# plain MQTT on this machine only; the network speaks TLS\n"
          << "listener " << o.mqttPort << " 127.0.0.1\n";
    } else {
        c << "listener " << o.mqttPort << bind << "\n";
    }
    c << "protocol mqtt\n";
    if (tls(o)) {
        c << "\n# MQTT over TLS (mqtts://, --ca with the CA that signed the certificate)\n"
          << "listener " << o.tlsPort << bind << "\n"
          << "protocol mqtt\n"
          << "certfile " << o.certFile.string() << "\n"
          << "keyfile " << o.keyFile.string() << "\n";
    }
    c << "\n# WebSockets: the board in a browser (http://HOST:" << o.websocketsPort << "/)\n"
      << "listener " << o.websocketsPort << bind << "\n"
      << "protocol websockets\n";
    if (!o.boardDir.empty()) c << "http_dir " << o.boardDir.string() << "\n";
    return c.str();
}

std::string brokerAclText(const BrokerConfigOptions& o) {
    checkBrokerConfig(o);
    const std::string site = std::string(kTopicRoot) + "/" + o.site + "/";
    const std::string all = std::string(kTopicRoot) + "/+/+/";
    std::ostringstream a;
    a << "# Who may do what on the USB IAP fleet's broker, site " << o.site << "\n"
      << "# Every station: its own user (mosquitto_passwd), named as the station.\n";
    for (const char* leaf : {"attempt", "status", "line", "port/+"})
        a << "pattern write " << site << "%u/" << leaf << "\n";
    a << "pattern read " << site << "%u/stored\n"
      << "\n# The collector: reads the attempts, writes summaries and stored positions.\n"
      << "user " << o.collectorUser << "\n"
      << "topic deny " << site << o.collectorUser << "/#\n"
      << "topic read " << all << "attempt\n"
      << "topic write " << all << "summary\n"
      << "topic write " << all << "stored\n"
      << "\n# The board: reads only.\n"
      << "user " << o.boardUser << "\n"
      << "topic deny " << site << o.boardUser << "/#\n"
      << "topic read " << kTopicRoot << "/#\n";
    return a.str();
}

std::string brokerSetupText(const BrokerConfigOptions& o) {
    checkBrokerConfig(o);
    const std::string passwd = brokerPasswordFile(o).string();
    std::ostringstream s;
    s << "# The users (each command asks for the password):\n"
      << "mosquitto_passwd " << passwd << " " << o.collectorUser << "\n"
      << "mosquitto_passwd " << passwd << " " << o.boardUser << "\n"
      << "# a station: its user is its --station name\n"
      << "mosquitto_passwd " << passwd << " STATION\n"
      << "# then start the broker, or make a running one read the files again:\n"
      << "mosquitto -c " << brokerConfigFile(o).string() << "\n"
      << "kill -HUP $(pidof mosquitto)\n"
      << "# started as root, Mosquitto reads the files as its own user (mosquitto):\n"
      << "chown mosquitto " << passwd << " " << brokerAclFile(o).string() << "\n";
    return s.str();
}

void writeBrokerFiles(const BrokerConfigOptions& o) {
    const std::string config = brokerConfigText(o), acl = brokerAclText(o);
    std::error_code error;
    fs::create_directories(o.folder, error);
    if (error) throw std::runtime_error("cannot make " + o.folder.string() + ": " + error.message());
    writeAtomically(brokerConfigFile(o), config);
    writeAtomically(brokerAclFile(o), acl);
    const fs::path passwd = brokerPasswordFile(o);
    if (!fs::exists(passwd, error)) {
        std::ofstream out(passwd, std::ios::binary);
        out.close();
        if (!out) throw std::runtime_error("cannot write " + passwd.string());
    }
}

}  // namespace iap::fleet
