#include "fleet/attempt.h"

#include <nlohmann/json.hpp>

#include "fleet/topics.h"

namespace iap::fleet {

using nlohmann::json;

namespace {

// The members that are not record columns.
bool isMeta(const std::string& key) {
    static const char* const names[] = {"site", "station", "record", "offset", "end", "gen", "first", "id", "malformed", "raw"};
    for (const char* name : names) {
        if (key == name) return true;
    }
    return false;
}

}  // namespace

std::string attemptMessage(const AttemptLine& line) {
    json j = json::object();
    if (!line.malformed) {
        for (const auto& [name, value] : line.columns) {
            if (!isMeta(name)) j[name] = value;
        }
    }
    j["site"] = line.site;
    j["station"] = line.station;
    j["record"] = line.record;
    j["offset"] = line.offset;
    j["end"] = line.end;
    j["gen"] = line.gen;
    j["first"] = line.first;
    j["id"] = line.id;
    if (line.malformed) {
        j["malformed"] = true;
        j["raw"] = line.raw;
    }
    // Bytes that are not UTF-8 (a device's odd serial) become U+FFFD rather than failing.
    return j.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::variant<AttemptLine, Rejected> readAttemptMessage(std::string_view topic, std::string_view payload) {
    if (payload.size() > kMaxAttemptPayload) return Rejected{"too large"};
    const std::optional<StationTopic> parts = parseStationTopic(topic);
    if (!parts || parts->leaf != "attempt") return Rejected{"bad topic"};
    const json j = json::parse(payload.begin(), payload.end(), nullptr, false);
    if (j.is_discarded()) return Rejected{"not JSON"};
    if (!j.is_object()) return Rejected{"not an object"};
    if (!j.contains("id")) return Rejected{"no id"};

    AttemptLine line;
    auto text = [&](const char* key, std::string& to, bool required) {
        const auto it = j.find(key);
        if (it == j.end()) return !required;
        if (!it->is_string()) return false;
        to = it->get<std::string>();
        return true;
    };
    auto number = [&](const char* key, uint64_t& to) {
        const auto it = j.find(key);
        if (it == j.end() || !it->is_number_unsigned()) return false;
        to = it->get<uint64_t>();
        return true;
    };
    auto flag = [&](const char* key, bool& to) {
        const auto it = j.find(key);
        if (it == j.end()) return true;
        if (!it->is_boolean()) return false;
        to = it->get<bool>();
        return true;
    };
    for (const char* key : {"id", "site", "station", "record", "gen"}) {
        std::string value;
        if (!text(key, value, true) || (std::string_view(key) == "id" && (value.empty() || value.size() > 128)))
            return Rejected{std::string("wrong type: ") + key};
    }
    text("id", line.id, true);
    text("site", line.site, true);
    text("station", line.station, true);
    text("record", line.record, true);
    text("gen", line.gen, true);
    if (!number("offset", line.offset)) return Rejected{"wrong type: offset"};
    if (!number("end", line.end) || line.end <= line.offset) return Rejected{"wrong type: end"};
    if (!flag("first", line.first)) return Rejected{"wrong type: first"};
    if (!flag("malformed", line.malformed)) return Rejected{"wrong type: malformed"};
    if (!text("raw", line.raw, line.malformed)) return Rejected{"wrong type: raw"};
    if (line.site != parts->site || line.station != parts->station) return Rejected{"topic mismatch"};
    for (const auto& [key, value] : j.items()) {
        if (isMeta(key)) continue;
        if (!value.is_string()) return Rejected{"wrong type: " + key};
        line.columns[key] = value.get<std::string>();
    }
    return line;
}

}  // namespace iap::fleet
