#include "pack/pack_options.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>

#include <CLI/CLI.hpp>

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

constexpr const char* kHeaderGroup = "Image header (with --payload)";
constexpr const char* kPayloadGroup = "Payload file (with --payload)";

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

std::function<BuildOptions()> addBuildOptions(CLI::App& build) {
    // The option texts as given; converted after parsing so that every
    // refusal names the option in the generator's own words. A single-value
    // option given again replaces the earlier value.
    struct Text {
        std::string exe, out, payload, image, signature, chip, item, hwVersion, swVersion;
        std::string blockSize, deviceFlags, deviceWord, retry, rebootDelay, switchDelay;
        std::string searchTimeout, ackTimeout, skin, payloadFormat, base, fill;
        std::vector<std::string> devices, colours;
        bool replace = false;
    };
    auto text = std::make_shared<Text>();
    build.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    auto opt = [&build](const char* name, std::string& into, const char* type, const char* help,
                        const char* group = "Options") {
        return build.add_option(name, into, help)->type_name(type)->group(group);
    };
    opt("--exe", text->exe, "IN", "the bare tool to append to (default: the installed one)");
    opt("--out", text->out, "OUT", "the product tool to write (required)");
    opt("--payload", text->payload, "BIN", "the firmware payload (raw binary, Intel HEX, S-record or ELF); the image header is built around it");
    opt("--image", text->image, "IMG", "a ready-made firmware image, used unchanged");
    const char* payload = kPayloadGroup;
    opt("--payload-format", text->payloadFormat, "FORMAT",
        "bin, hex (Intel HEX), srec (Motorola S-record) or elf; default: by content", payload);
    opt("--base", text->base, "ADDR", "the image's first address (default: the lowest in the file)", payload);
    opt("--fill", text->fill, "BYTE", "the byte that fills gaps between the file's data (default 0xFF)", payload);
    const char* header = kHeaderGroup;
    opt("--signature", text->signature, "S", "8 characters (default USBIAPFW)", header);
    opt("--chip", text->chip, "C", "chip identification, up to 15 characters", header);
    opt("--item", text->item, "I", "item information, up to 15 characters", header);
    opt("--hw-version", text->hwVersion, "V1.0.0", "hardware version", header);
    opt("--sw-version", text->swVersion, "V1.0.0", "software version", header);
    opt("--block-size", text->blockSize, "N", "1 to 8192 (default 256)", header);
    opt("--device-flags", text->deviceFlags, "N", "header bytes 60-61", header);
    opt("--device-word", text->deviceWord, "N", "header bytes 106-109", header);
    build.add_option("--device", text->devices, "hexadecimal vendor ID, product ID and report ID; "
                     "repeat for every ID the device may appear under, in search order (required)")
        ->type_name("VID:PID:RID")->expected(1)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    const char* settings = "Settings";
    opt("--retry", text->retry, "N", "retry limit (default 3)", settings);
    opt("--reboot-delay", text->rebootDelay, "N", "reboot delay (default 1000)", settings);
    opt("--switch-delay", text->switchDelay, "N", "switch delay sent to the device (default 1000)", settings);
    opt("--search-timeout", text->searchTimeout, "MS", "device search time-out (default 8000)", settings);
    opt("--ack-timeout", text->ackTimeout, "MS", "time-out of each reply (default 5000)", settings);
    build.add_option("--colour,--color", text->colours, "theme colour I (0-9), components 0 to 1")
        ->type_name("I=R,G,B,A")->expected(1)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)->group("Skin");
    opt("--skin", text->skin, "DIR", "the 19 images from DIR, as `skin` writes them (default: built-in)", "Skin");
    build.add_flag("--replace", text->replace, "replace the package the executable already carries")
        ->disable_flag_override();

    CLI::App* app = &build;
    return [text, app] {
        const Text& t = *text;
        auto given = [app](const char* name) { return app->count(name) > 0; };
        BuildOptions o;
        o.colours = defaultColours();
        constexpr uint64_t u32 = std::numeric_limits<uint32_t>::max();
        o.exe = t.exe;
        o.out = t.out;
        if (given("--payload")) o.payload = t.payload;
        if (given("--image")) o.image = t.image;
        auto number = [&given](const std::string& value, auto& into, uint64_t max, const char* name) {
            using T = std::remove_reference_t<decltype(into)>;
            if (given(name)) into = static_cast<T>(parseNumber(value, max, name));
        };
        bool headerOptionGiven = false, payloadOptionGiven = false;
        for (const CLI::Option* option : app->get_options()) {
            headerOptionGiven |= option->get_group() == kHeaderGroup && option->count() > 0;
            payloadOptionGiven |= option->get_group() == kPayloadGroup && option->count() > 0;
        }
        if (given("--payload-format")) {
            o.payloadFormat = payloadFormatFromOption(t.payloadFormat);
            if (!o.payloadFormat) {
                throw UsageError("--payload-format: \"" + t.payloadFormat + "\" is not one of bin, hex, srec, elf");
            }
        }
        if (given("--base")) o.payloadLayout.base = parseNumber(t.base, UINT64_MAX, "--base");
        number(t.fill, o.payloadLayout.fill, 0xFF, "--fill");
        if (given("--signature")) o.header.signature = t.signature;
        if (given("--chip")) o.header.chip = t.chip;
        if (given("--item")) o.header.item = t.item;
        if (given("--hw-version")) o.header.hwVersion = t.hwVersion;
        if (given("--sw-version")) o.header.swVersion = t.swVersion;
        number(t.blockSize, o.header.blockSize, 0xFFFF, "--block-size");
        number(t.deviceFlags, o.header.deviceFlags, 0xFFFF, "--device-flags");
        number(t.deviceWord, o.header.deviceWord, u32, "--device-word");
        for (const std::string& device : t.devices) o.devices.push_back(parseDeviceId(device));
        number(t.retry, o.settings.retryNum, u32, "--retry");
        number(t.rebootDelay, o.settings.rebootDelay, u32, "--reboot-delay");
        number(t.switchDelay, o.settings.switchDelay, u32, "--switch-delay");
        number(t.searchTimeout, o.settings.searchDeviceTimeout, kMaxTimeoutMs, "--search-timeout");
        number(t.ackTimeout, o.settings.readAckTimeout, kMaxTimeoutMs, "--ack-timeout");
        for (const std::string& colour : t.colours) {
            const auto [index, value] = parseColour(colour);
            o.colours[index] = value;
        }
        if (given("--skin")) o.skinDir = t.skin;
        o.replace = t.replace;

        if (!given("--out")) throw UsageError("--out is required (the tool to write)");
        if (o.payload.has_value() == o.image.has_value()) {
            throw UsageError("give exactly one of --payload (raw payload) and --image (ready-made image)");
        }
        if (o.image && payloadOptionGiven) {
            throw UsageError("--payload-format, --base and --fill apply to --payload only; --image is used unchanged");
        }
        if (o.image && headerOptionGiven) {
            throw UsageError("image header options apply to --payload only; --image is used unchanged");
        }
        if (o.devices.empty()) throw UsageError("--device VID:PID:RID is required at least once");
        return o;
    };
}

}  // namespace iap::pack
