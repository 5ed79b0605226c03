// The fleet's seam to an MQTT 3.1.1 broker: libmosquitto on both systems
// (mqtt_transport.cpp), an in-memory broker in the tests.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace iap::fleet {

struct BrokerUrl {
    bool tls = false;     // mqtts://
    std::string host;
    int port = 1883;      // 8883 for mqtts://
};
// "mqtt://HOST[:PORT]" or "mqtts://HOST[:PORT]"; throws std::invalid_argument.
BrokerUrl parseBrokerUrl(const std::string& url);
// A password file's first line, without its line end; throws
// std::runtime_error when the file cannot be read.
std::string readPasswordFile(const std::string& path);

struct Will {
    std::string topic, payload;
    int qos = 1;
    bool retain = true;
};

struct ConnectOptions {
    BrokerUrl broker;
    std::string clientId;
    bool cleanSession = true;
    std::string user;
    std::string password;
    std::string caFile;            // mqtts://
    std::optional<Will> will;
    std::chrono::seconds keepalive{10};
    // QoS 1 messages sent and not yet acknowledged, at most; those published
    // beyond it wait in the client until acknowledgements make room.
    int maxInflight = 64;
};

struct Message {
    std::string topic, payload;
    int qos = 0;
    bool retain = false;
};

// Callbacks come on the transport's own thread.
struct TransportEvents {
    std::function<void()> connected;
    std::function<void(const std::string& why)> disconnected;
    std::function<void(const Message&)> message;
    std::function<void(int messageId)> acknowledged;  // QoS 1: PUBACK received
};

class Transport {
public:
    virtual ~Transport() = default;
    // Starts connecting in the background, reconnecting after a loss with
    // backoff from 1 s up to 30 s. Throws std::runtime_error for options that
    // could never connect (mqtts:// in a build without TLS, an unreadable CA).
    virtual void start(const ConnectOptions& options, TransportEvents events) = 0;
    // Ends within a moment (at most a second or so), without waiting for
    // acknowledgements; what is already written goes out before a clean
    // disconnect (so a last status publish arrives and the will does not).
    virtual void stop() = 0;
    virtual bool isConnected() const = 0;
    // The message's ID (for acknowledged), or -1 when not connected: nothing
    // is queued while the broker is away.
    virtual int publish(const Message& message) = 0;
    // Kept and made again on every connection; false for a pattern that is
    // not a valid subscription.
    virtual bool subscribe(const std::string& pattern, int qos) = 0;
};

std::unique_ptr<Transport> makeMqttTransport();

}  // namespace iap::fleet
