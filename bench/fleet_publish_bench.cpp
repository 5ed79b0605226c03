// The broker's own limit for a QoS 1 publisher, for fleet_bench.py: N
// messages of a given size through the fleet's transport, at most 1024
// unacknowledged (as the shipper), timed from the first publish to the last
// acknowledgement. Prints the messages per second.
//   iap_fleet_publish_bench mqtt://HOST:PORT N BYTES
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "fleet/transport.h"

int main(int argc, char** argv) {
    using namespace iap::fleet;
    using namespace std::chrono;
    if (argc != 4) {
        std::fprintf(stderr, "usage: iap_fleet_publish_bench mqtt://HOST:PORT N BYTES\n");
        return 2;
    }
    const long n = std::atol(argv[2]);
    const std::string payload(static_cast<size_t>(std::atol(argv[3])), 'x');
    ConnectOptions o;
    o.broker = parseBrokerUrl(argv[1]);
    o.maxInflight = 64;
    std::atomic<long> acked{0};
    std::atomic<bool> connected{false};
    const auto transport = makeMqttTransport();
    TransportEvents events;
    events.connected = [&] { connected = true; };
    events.acknowledged = [&](int) { ++acked; };
    transport->start(o, events);
    for (int i = 0; i < 100 && !connected; ++i) std::this_thread::sleep_for(50ms);
    if (!connected) {
        std::fprintf(stderr, "iap_fleet_publish_bench: no broker at %s\n", argv[1]);
        return 1;
    }
    const auto began = steady_clock::now();
    for (long sent = 0; sent < n;) {
        if (sent - acked < 1024 && transport->publish({"bench/limit", payload, 1, false}) >= 0) {
            ++sent;
        } else {
            std::this_thread::sleep_for(100us);
        }
    }
    while (acked < n && steady_clock::now() - began < 300s) std::this_thread::sleep_for(1ms);
    const double seconds = duration<double>(steady_clock::now() - began).count();
    transport->stop();
    std::printf("%.0f\n", double(acked) / seconds);
    return acked == n ? 0 : 1;
}
