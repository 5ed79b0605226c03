// usb-iap-fleet's commands over the fleet floor. Each parses its own options
// (CLI11) and runs until it is done or stop() is called.
#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace iap::fleet_cli {

// Exit codes.
inline constexpr int kOk = 0, kFailed = 1, kUsage = 2;

// Where Ctrl-C or a termination request goes: to the command running, or,
// when it comes before one has started, to the next that starts.
class StopHub {
public:
    void request();
    // Calls stop at once when a request came before.
    void set(std::function<void()> stop);
    void clear() { set(nullptr); }
    // set for as long as the scope lives, then clear.
    struct Scope {
        StopHub& hub;
        ~Scope() { hub.clear(); }
    };
    [[nodiscard]] Scope scoped(std::function<void()> stop) {
        set(std::move(stop));
        return Scope{*this};
    }

private:
    std::mutex mutex_;
    std::function<void()> stop_;
    bool requested_ = false;
};

struct CliIo {
    std::ostream& out;
    std::ostream& err;
    StopHub& stop;
};

// args without the program's name.
int runFleetTool(const std::vector<std::string>& args, CliIo& io);

}  // namespace iap::fleet_cli
