#include "fleet/topics.h"

namespace iap::fleet {

bool validName(std::string_view name) {
    return !name.empty() && name.find_first_of(std::string_view("/+#\0", 4)) == std::string_view::npos;
}

std::string stationTopic(std::string_view site, std::string_view station, std::string_view leaf) {
    std::string topic(kTopicRoot);
    for (std::string_view part : {site, station, leaf}) (topic += '/') += part;
    return topic;
}

std::string everyStation(std::string_view leaf) { return std::string(kTopicRoot) + "/+/+/" + std::string(leaf); }

std::string portLevel(std::string_view port) {
    if (port.empty()) return "%00";
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (char c : port) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '%' || c == '/' || c == '+' || c == '#' || b < 0x20) {
            out += '%';
            out += digits[b >> 4];
            out += digits[b & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<StationTopic> parseStationTopic(std::string_view topic) {
    const std::string root = std::string(kTopicRoot) + "/";
    if (!topic.starts_with(root)) return std::nullopt;
    topic.remove_prefix(root.size());
    StationTopic parts;
    for (std::string* name : {&parts.site, &parts.station}) {
        const size_t slash = topic.find('/');
        if (slash == std::string_view::npos || !validName(topic.substr(0, slash))) return std::nullopt;
        *name = std::string(topic.substr(0, slash));
        topic.remove_prefix(slash + 1);
    }
    if (topic.empty() || topic.find_first_of(std::string_view("+#\0", 3)) != std::string_view::npos) return std::nullopt;
    parts.leaf = std::string(topic);
    return parts;
}

}  // namespace iap::fleet
