// `usb-iap-fleet ship` without its command line: follows records, publishes
// each new complete line once at QoS 1 on iap/v1/<site>/<station>/attempt,
// confirms by the collector's `stored` positions (or by the broker's PUBACK),
// keeps each record's confirmed position in its state file, and keeps the
// retained `status` with its last will.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "fleet/transport.h"

namespace iap::fleet {

struct ShipperOptions {
    ConnectOptions connect;      // broker, user, password, caFile; clientId, will and
                                 // cleanSession are filled in by the shipper when empty
    std::string site, station;   // validName both
    std::vector<std::filesystem::path> records;  // empty: defaultRecords()
    bool confirmByBroker = false;                // --confirm broker
    std::string version;                         // status "version"
    size_t window = 1024;                        // lines in flight at most
    std::chrono::milliseconds poll{150};         // growth check of the records
    std::chrono::seconds resendAfter{10};        // nothing confirmed while lines are in flight: send again
    std::filesystem::path stateFolder;           // where state files go when a record's folder cannot
                                                 // be written; empty: userStateFolder()
};

// upgrade-record.csv in the working folder and in the per-user state folder.
std::vector<std::filesystem::path> defaultRecords();

class Shipper {
public:
    // Throws std::invalid_argument for a bad site or station name.
    Shipper(ShipperOptions options, Transport& transport);
    ~Shipper();
    Shipper(const Shipper&) = delete;
    Shipper& operator=(const Shipper&) = delete;

    // Starts the transport and ships until stop(); returns within 2 s of it,
    // with the state files saved and the transport stopped.
    void run();
    // From any thread: sets a flag and wakes run.
    void stop();

    struct Figures {
        uint64_t published = 0, confirmed = 0, backlog = 0;
    };
    Figures figures() const;  // thread-safe

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace iap::fleet
