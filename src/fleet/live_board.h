// A station's live board on the broker (usb-iap-flash --publish), under
// iap/v1/<site>/<station>/:
//   port/<port>  each port's state, retained, QoS 0, at most one message per
//                interval (500 ms) and port: the newest state wins, and the
//                last one is always sent;
//   line         the program's running state, retained, QoS 1, with the last
//                will {"online":false}.
// The device threads hand states over (post) and never wait for the broker:
// one publisher thread sends them from a latest-value map of bounded size.
// While the broker is away nothing is queued; on each connection the newest
// state of every port goes out again.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "fleet/transport.h"

namespace iap::fleet {

// The fields keep the names of usb-iap-flash's JSON lines.
struct PortState {
    std::string port;   // the port chain, or the device path when the port is unknown
    std::string state;  // waiting, to-boot, restarting, upgrading, done
    double percent = 0;
    long long bytesPerSecond = 0;
    std::string text;     // the last status or result text
    std::string outcome;  // of the last result; empty: none yet
    std::string failure;  // of the last result; empty: none (or it passed)
    std::string serial;   // of the board on the port
    std::chrono::system_clock::time_point time = std::chrono::system_clock::now();
};

struct LineState {
    bool online = true;
    std::string version, tool, firmware;
    int passed = 0, failed = 0, running = 0;
};

std::string portPayload(const PortState& state);
std::string linePayload(const LineState& state);

// The newest message of each topic, sent at most once per interval per
// topic; at most maxKeys topics (beyond them, the one sent longest ago and
// not waiting goes). Not locked: LiveBoard holds it under its mutex.
class LatestValues {
public:
    using Clock = std::chrono::steady_clock;
    LatestValues(std::chrono::milliseconds interval, size_t maxKeys) : interval_(interval), maxKeys_(maxKeys) {}
    void put(Message message);
    // The messages due at now, each marked sent then.
    std::vector<Message> take(Clock::time_point now);
    // When the next waiting message is due; none when nothing waits.
    std::optional<Clock::time_point> nextDue() const;
    // Every key's newest message waits again (a new connection).
    void again();
    size_t size() const { return entries_.size(); }

private:
    struct Entry {
        Message message;
        bool waiting = true;
        std::optional<Clock::time_point> sent;
    };
    std::chrono::milliseconds interval_;
    size_t maxKeys_;
    std::map<std::string, Entry> entries_;
};

struct LiveBoardOptions {
    std::string site, station;
    BrokerUrl broker;
    std::string clientId;
    std::string user, password;  // the station's at the broker; none: anonymous
    std::string caFile;          // mqtts://: the CA that signs the broker's certificate
    std::chrono::milliseconds interval{500};
    size_t maxPorts = 1024;
};

class LiveBoard {
public:
    LiveBoard(std::unique_ptr<Transport> transport, LiveBoardOptions options);
    ~LiveBoard();
    // Connects in the background; the line's state goes out once connected.
    void start(const LineState& line);
    // Any thread; returns at once.
    void post(const PortState& state);
    void post(const LineState& line);
    // The waiting states go out (for at most an interval, and only while
    // connected), then the line's last state, offline, and the transport ends.
    void stop(LineState last);

private:
    void run();
    void sendDue(std::unique_lock<std::mutex>& lock);

    std::unique_ptr<Transport> transport_;
    LiveBoardOptions options_;
    std::mutex mutex_;
    std::condition_variable wake_;
    LatestValues latest_;
    bool stopping_ = false;
    int unacknowledged_ = 0;  // QoS 1 messages of this connection without their acknowledgement
    std::thread thread_;
};

}  // namespace iap::fleet
