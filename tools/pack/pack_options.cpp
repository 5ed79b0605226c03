#include "pack/pack_options.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

#include "package/layout.h"

namespace iap::pack {

namespace {

// Unsigned number, decimal or 0x-prefixed hexadecimal, at most `max`.
uint64_t parseNumber(const std::string& text, uint64_t max, const std::string& what, int base = 0) {
    std::string digits = text;
    if (base == 0) {
        base = 10;
        if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
            base = 16;
            digits = digits.substr(2);
        }
    } else if (base == 16 && digits.size() > 2 && digits[0] == '0' &&
               (digits[1] == 'x' || digits[1] == 'X')) {
        digits = digits.substr(2);
    }
    uint64_t value = 0;
    const char* end = digits.data() + digits.size();
    const auto [ptr, ec] = std::from_chars(digits.data(), end, value, base);
    if (digits.empty() || ec != std::errc() || ptr != end || value > max) {
        throw UsageError(what + ": \"" + text + "\" is not a number from 0 to " +
                         std::to_string(max));
    }
    return value;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at - start));
        if (at == std::string::npos) return parts;
        start = at + 1;
    }
}

float parseComponent(const std::string& text, const std::string& what) {
    float value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || !(value >= 0.0f && value <= 1.0f)) {
        throw UsageError(what + ": \"" + text + "\" is not a number from 0 to 1");
    }
    return value;
}

}  // namespace

DeviceIdEntry parseDeviceId(const std::string& text) {
    const std::vector<std::string> parts = split(text, ':');
    if (parts.size() != 3) {
        throw UsageError("--device \"" + text + "\": expected VID:PID:RID, e.g. 0483:5750:01");
    }
    const std::string what = "--device " + text;
    DeviceIdEntry id;
    id.vendorId = static_cast<uint16_t>(parseNumber(parts[0], 0xFFFF, what + " (VID)", 16));
    id.productId = static_cast<uint16_t>(parseNumber(parts[1], 0xFFFF, what + " (PID)", 16));
    id.reportId = static_cast<uint8_t>(parseNumber(parts[2], 0xFF, what + " (report ID)", 16));
    return id;
}

std::pair<size_t, Colour> parseColour(const std::string& text) {
    const std::string what = "--colour " + text;
    const size_t eq = text.find('=');
    if (eq == std::string::npos) throw UsageError(what + ": expected i=r,g,b,a");
    const size_t index = parseNumber(text.substr(0, eq), kDefaultColourCount - 1, what + " (index)", 10);
    const std::vector<std::string> parts = split(text.substr(eq + 1), ',');
    if (parts.size() != 4) throw UsageError(what + ": expected four components r,g,b,a");
    return {index, Colour{parseComponent(parts[0], what), parseComponent(parts[1], what),
                          parseComponent(parts[2], what), parseComponent(parts[3], what)}};
}

BuildOptions parseBuildOptions(const std::vector<std::string>& args) {
    BuildOptions o;
    o.colours = defaultColours();
    bool haveOut = false;
    bool headerOptionGiven = false;
    constexpr uint64_t u32 = std::numeric_limits<uint32_t>::max();
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (const size_t eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        auto value = [&]() -> std::string {
            if (inlineValue) return *inlineValue;
            if (i + 1 >= args.size()) throw UsageError(name + " needs a value");
            return args[++i];
        };
        if (name == "--replace") {
            if (inlineValue) throw UsageError("--replace takes no value");
            o.replace = true;
        } else if (name == "--exe") {
            o.exe = value();
        } else if (name == "--out") {
            o.out = value();
            haveOut = true;
        } else if (name == "--payload") {
            o.payload = value();
        } else if (name == "--image") {
            o.image = value();
        } else if (name == "--signature") {
            o.header.signature = value();
            headerOptionGiven = true;
        } else if (name == "--chip") {
            o.header.chip = value();
            headerOptionGiven = true;
        } else if (name == "--item") {
            o.header.item = value();
            headerOptionGiven = true;
        } else if (name == "--hw-version") {
            o.header.hwVersion = value();
            headerOptionGiven = true;
        } else if (name == "--sw-version") {
            o.header.swVersion = value();
            headerOptionGiven = true;
        } else if (name == "--block-size") {
            o.header.blockSize = static_cast<uint16_t>(parseNumber(value(), 0xFFFF, name));
            headerOptionGiven = true;
        } else if (name == "--device-flags") {
            o.header.deviceFlags = static_cast<uint16_t>(parseNumber(value(), 0xFFFF, name));
            headerOptionGiven = true;
        } else if (name == "--device-word") {
            o.header.deviceWord = static_cast<uint32_t>(parseNumber(value(), u32, name));
            headerOptionGiven = true;
        } else if (name == "--device") {
            o.devices.push_back(parseDeviceId(value()));
        } else if (name == "--retry") {
            o.settings.retryNum = static_cast<uint32_t>(parseNumber(value(), u32, name));
        } else if (name == "--reboot-delay") {
            o.settings.rebootDelay = static_cast<uint32_t>(parseNumber(value(), u32, name));
        } else if (name == "--switch-delay") {
            o.settings.switchDelay = static_cast<uint32_t>(parseNumber(value(), u32, name));
        } else if (name == "--search-timeout") {
            o.settings.searchDeviceTimeout = static_cast<uint32_t>(parseNumber(value(), kMaxTimeoutMs, name));
        } else if (name == "--ack-timeout") {
            o.settings.readAckTimeout = static_cast<uint32_t>(parseNumber(value(), kMaxTimeoutMs, name));
        } else if (name == "--colour" || name == "--color") {
            const auto [index, colour] = parseColour(value());
            o.colours[index] = colour;
        } else if (name == "--skin") {
            o.skinDir = value();
        } else {
            throw UsageError("unknown option \"" + args[i] + "\"");
        }
    }
    if (!haveOut) throw UsageError("--out is required (the tool to write)");
    if (o.payload.has_value() == o.image.has_value()) {
        throw UsageError("give exactly one of --payload (raw payload) and --image (ready-made image)");
    }
    if (o.image && headerOptionGiven) {
        throw UsageError("image header options apply to --payload only; --image is used unchanged");
    }
    if (o.devices.empty()) throw UsageError("--device VID:PID:RID is required at least once");
    return o;
}

}  // namespace iap::pack
