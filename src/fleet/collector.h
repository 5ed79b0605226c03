// `usb-iap-fleet collect` without its command line: subscribes to every
// station's attempts (QoS 1, fixed client ID, persistent session), stores each
// message in a transaction, and only after the commit moves and publishes the
// station's retained `stored` positions (with this run's epoch) and its
// retained `summary`. Bad input is counted and kept in the store's rejected
// table; it never stops the collector. A store that fails (PostgreSQL down)
// is said on the warnings channel and tried again (1 s, then longer, up to
// 10 s) with the same batch; meanwhile positions stay where they are and the
// messages wait, in memory up to a bound, then at the broker.
// On start the positions are loaded from the store; they are published, with
// the new epoch, at every connection to the broker.
//
// summary (iap/v1/<site>/<station>/summary, retained):
//   {"day":"YYYY-MM-DD","passed":N,"failed":N,"failures":{"<word>":N,...},
//    "last":[<up to 20 attempt messages, newest first>]}
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "fleet/store.h"
#include "fleet/transport.h"

namespace iap::fleet {

inline constexpr const char* kCollectorClientId = "usb-iap-fleet-collect";

struct CollectorOptions {
    ConnectOptions connect;     // broker, user, password, caFile; an empty clientId
                                // becomes kCollectorClientId; connect.cleanSession
                                // is not used: cleanSession below is
    bool cleanSession = false;  // true: start without the broker's kept session
    size_t batch = 500;         // messages stored in one transaction at most
};

class Collector {
public:
    Collector(CollectorOptions options, Transport& transport, Store& store);
    ~Collector();
    Collector(const Collector&) = delete;
    Collector& operator=(const Collector&) = delete;

    // Starts the transport and collects until stop(); returns within 2 s of it.
    void run();
    void stop();  // from any thread

    struct Figures {
        uint64_t stored = 0, duplicates = 0, rejected = 0;
    };
    Figures figures() const;  // thread-safe

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace iap::fleet
