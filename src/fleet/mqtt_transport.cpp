// The Transport over libmosquitto, with a loop thread of our own: one
// mosquitto instance per connection, made afresh for each attempt, so that
// nothing published before a loss is sent again by the library after it (the
// fleet resends from its own positions) and nothing waits in memory while
// the broker is away.
#include "fleet/transport.h"

#include <mosquitto.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

namespace iap::fleet {

BrokerUrl parseBrokerUrl(const std::string& url) {
    BrokerUrl broker;
    std::string_view rest = url;
    if (rest.starts_with("mqtt://")) {
        rest.remove_prefix(7);
    } else if (rest.starts_with("mqtts://")) {
        rest.remove_prefix(8);
        broker.tls = true;
        broker.port = 8883;
    } else {
        throw std::invalid_argument("broker \"" + url + "\": give mqtt://HOST[:PORT] or mqtts://HOST[:PORT]");
    }
    if (rest.ends_with('/')) rest.remove_suffix(1);
    std::optional<std::string_view> port;
    if (rest.starts_with('[')) {  // [IPv6]:port
        const size_t close = rest.find(']');
        if (close == std::string_view::npos) throw std::invalid_argument("broker \"" + url + "\": no ']' after the address");
        broker.host = rest.substr(1, close - 1);
        rest.remove_prefix(close + 1);
        if (!rest.empty() && rest.front() != ':') throw std::invalid_argument("broker \"" + url + "\": text after the address");
        if (!rest.empty()) port = rest.substr(1);
    } else {
        const size_t colon = rest.find(':');
        broker.host = rest.substr(0, colon);
        if (colon != std::string_view::npos) port = rest.substr(colon + 1);
    }
    if (broker.host.empty() || broker.host.find_first_of("/?#@ ") != std::string::npos) {
        throw std::invalid_argument("broker \"" + url + "\": no host name, or a path after it");
    }
    if (port) {
        int value = 0;
        const auto [end, ec] = std::from_chars(port->data(), port->data() + port->size(), value);
        if (port->empty() || ec != std::errc{} || end != port->data() + port->size() || value < 1 || value > 65535) {
            throw std::invalid_argument("broker \"" + url + "\": the port must be a number from 1 to 65535");
        }
        broker.port = value;
    }
    return broker;
}

std::string readPasswordFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read the password file " + path);
    std::string password;
    std::getline(in, password);
    if (!password.empty() && password.back() == '\r') password.pop_back();
    return password;
}

namespace {

using namespace std::chrono_literals;

constexpr int kLoopMs = 100;  // how long a loop turn may wait: bounds stop()

class MqttTransport final : public Transport {
public:
    MqttTransport() {
        static std::once_flag once;
        std::call_once(once, [] { mosquitto_lib_init(); });
    }
    ~MqttTransport() override { stop(); }

    void start(const ConnectOptions& options, TransportEvents events) override {
        stop();
        if (!options.cleanSession && options.clientId.empty()) {
            throw std::invalid_argument("a persistent session needs a client ID");
        }
        options_ = options;
        events_ = std::move(events);
        // What can never connect is said now, not retried for ever.
        mosquitto* probe = make();
        if (!probe) throw std::runtime_error("cannot make an MQTT client: " + why_);
        mosquitto_destroy(probe);
        stopping_ = false;
        thread_ = std::thread([this] { run(); });
    }

    void stop() override {
        if (!thread_.joinable()) return;
        {
            std::lock_guard lock(waitMutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

    bool isConnected() const override { return connected_; }

    int publish(const Message& message) override {
        std::lock_guard lock(mutex_);
        if (!connected_ || !mosq_) return -1;
        int id = -1;
        const int rc = mosquitto_publish(mosq_, &id, message.topic.c_str(), static_cast<int>(message.payload.size()),
                                         message.payload.data(), message.qos, message.retain);
        return rc == MOSQ_ERR_SUCCESS ? id : -1;
    }

    // Kept and made again on every connection.
    bool subscribe(const std::string& pattern, int qos) override {
        if (mosquitto_sub_topic_check(pattern.c_str()) != MOSQ_ERR_SUCCESS) return false;
        std::lock_guard lock(mutex_);
        if (std::find(subscriptions_.begin(), subscriptions_.end(), std::pair(pattern, qos)) == subscriptions_.end()) {
            subscriptions_.emplace_back(pattern, qos);
        }
        if (connected_ && mosq_) mosquitto_subscribe(mosq_, nullptr, pattern.c_str(), qos);
        return true;
    }

private:
    // A client with every option set, or null (why_ says why).
    mosquitto* make() {
        const char* id = options_.clientId.empty() ? nullptr : options_.clientId.c_str();
        mosquitto* m = mosquitto_new(id, options_.cleanSession, this);
        if (!m) {
            why_ = std::strerror(errno);
            return nullptr;
        }
        int rc = mosquitto_int_option(m, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
        if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_threaded_set(m, true);
        if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_max_inflight_messages_set(m, static_cast<unsigned>(options_.maxInflight));
        if (rc == MOSQ_ERR_SUCCESS && !options_.user.empty()) {
            rc = mosquitto_username_pw_set(m, options_.user.c_str(), options_.password.c_str());
        }
        if (rc == MOSQ_ERR_SUCCESS && options_.will) {
            const Will& w = *options_.will;
            rc = mosquitto_will_set(m, w.topic.c_str(), static_cast<int>(w.payload.size()), w.payload.data(), w.qos,
                                    w.retain);
        }
        if (rc == MOSQ_ERR_SUCCESS && options_.broker.tls) {
            rc = mosquitto_tls_set(m, options_.caFile.empty() ? nullptr : options_.caFile.c_str(),
                                   options_.caFile.empty() ? "/etc/ssl/certs" : nullptr, nullptr, nullptr, nullptr);
            if (rc == MOSQ_ERR_NOT_SUPPORTED) {
                mosquitto_destroy(m);
                why_ = "mqtts:// is not available in this build (the Windows build speaks plain TCP only)";
                return nullptr;
            }
        }
        if (rc != MOSQ_ERR_SUCCESS) {
            why_ = rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc);
            mosquitto_destroy(m);
            return nullptr;
        }
        mosquitto_connect_callback_set(m, &onConnect);
        mosquitto_disconnect_callback_set(m, &onDisconnect);
        mosquitto_message_callback_set(m, &onMessage);
        mosquitto_publish_callback_set(m, &onPublish);
        return m;
    }

    static void onConnect(mosquitto* m, void* self, int rc) {
        auto* t = static_cast<MqttTransport*>(self);
        if (rc != 0) {
            t->why_ = mosquitto_connack_string(rc);
            return;
        }
        {
            std::lock_guard lock(t->mutex_);
            for (const auto& [pattern, qos] : t->subscriptions_) mosquitto_subscribe(m, nullptr, pattern.c_str(), qos);
            t->connected_ = true;
        }
        t->wasConnected_ = true;
        if (t->events_.connected) t->events_.connected();
    }
    static void onDisconnect(mosquitto*, void* self, int rc) {
        const int error = errno;  // the socket's, before anything else runs
        auto* t = static_cast<MqttTransport*>(self);
        t->connected_ = false;
        if (rc != 0 && t->why_.empty()) t->why_ = error != 0 ? std::strerror(error) : "the connection was lost";
    }
    static void onMessage(mosquitto*, void* self, const mosquitto_message* m) {
        auto* t = static_cast<MqttTransport*>(self);
        if (!t->events_.message) return;
        Message message{m->topic, std::string(static_cast<const char*>(m->payload), static_cast<size_t>(m->payloadlen)),
                        m->qos, m->retain};
        t->events_.message(message);
    }
    static void onPublish(mosquitto*, void* self, int id) {
        auto* t = static_cast<MqttTransport*>(self);
        if (t->events_.acknowledged) t->events_.acknowledged(id);
    }

    // One connection from its attempt to its end; false once stopping.
    void connection() {
        why_.clear();
        mosquitto* m = make();
        if (!m) return;
        {
            std::lock_guard lock(mutex_);
            mosq_ = m;
        }
        int rc = mosquitto_connect_async(m, options_.broker.host.c_str(), options_.broker.port,
                                         static_cast<int>(options_.keepalive.count()));
        while (rc == MOSQ_ERR_SUCCESS && !stopping_) rc = mosquitto_loop(m, kLoopMs, 1);
        if (rc != MOSQ_ERR_SUCCESS && why_.empty()) {
            why_ = rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc);
        }
        if (stopping_ && connected_) {
            // What is already queued (a last status) goes out before the
            // disconnect, within a moment.
            // Only written out, not looped: mosquitto_loop's keepalive check
            // closes the socket of a client that is no longer active (as
            // mosquitto_disconnect marks it) when a ping is due or unanswered,
            // before the queue is written, and the broker then sends the
            // will. The library closes the socket itself once DISCONNECT is
            // out.
            mosquitto_disconnect(m);
            const auto until = std::chrono::steady_clock::now() + 1s;
            while (mosquitto_socket(m) != -1 && mosquitto_want_write(m) &&
                   std::chrono::steady_clock::now() < until) {
                if (mosquitto_loop_write(m, 1) != MOSQ_ERR_SUCCESS) break;
                if (mosquitto_socket(m) != -1 && mosquitto_want_write(m)) std::this_thread::sleep_for(5ms);
            }
        }
        std::lock_guard lock(mutex_);
        connected_ = false;
        mosq_ = nullptr;
        mosquitto_destroy(m);
    }

    void run() {
        auto delay = 1s;
        while (!stopping_) {
            wasConnected_ = false;
            connection();
            if (stopping_) break;
            if (events_.disconnected) events_.disconnected(why_.empty() ? "the connection ended" : why_);
            // After a connection that was made, the backoff starts over.
            if (wasConnected_) delay = 1s;
            std::unique_lock lock(waitMutex_);
            wake_.wait_for(lock, delay, [this] { return stopping_.load(); });
            delay = std::min(delay * 2, std::chrono::seconds(30));
        }
    }

    ConnectOptions options_;
    TransportEvents events_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> connected_{false};
    std::string why_;  // the loop thread's
    bool wasConnected_ = false;  // the loop thread's
    std::mutex mutex_;  // mosq_ and subscriptions_, against publish and subscribe
    mosquitto* mosq_ = nullptr;
    std::vector<std::pair<std::string, int>> subscriptions_;
    std::mutex waitMutex_;
    std::condition_variable wake_;
};

}  // namespace

std::unique_ptr<Transport> makeMqttTransport() { return std::make_unique<MqttTransport>(); }

}  // namespace iap::fleet
