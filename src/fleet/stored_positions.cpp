#include "fleet/stored_positions.h"

#include <nlohmann/json.hpp>

namespace iap::fleet {

using nlohmann::json;

std::string storedMessage(const StoredPositions& positions) {
    json records = json::array();
    for (const StoredRecord& r : positions.records) {
        records.push_back({{"record", r.record}, {"gen", r.gen}, {"end", r.end}});
    }
    return json{{"epoch", positions.epoch}, {"records", std::move(records)}}
        .dump(-1, ' ', false, json::error_handler_t::replace);
}

std::optional<StoredPositions> readStoredMessage(std::string_view payload) {
    const json j = json::parse(payload.begin(), payload.end(), nullptr, false);
    if (!j.is_object()) return std::nullopt;
    const auto epoch = j.find("epoch");
    const auto records = j.find("records");
    if (epoch == j.end() || !epoch->is_string() || records == j.end() || !records->is_array()) {
        return std::nullopt;
    }
    StoredPositions out{epoch->get<std::string>(), {}};
    for (const json& r : *records) {
        if (!r.is_object()) return std::nullopt;
        const auto record = r.find("record"), gen = r.find("gen"), end = r.find("end");
        if (record == r.end() || !record->is_string() || gen == r.end() || !gen->is_string() ||
            end == r.end() || !end->is_number_unsigned()) {
            return std::nullopt;
        }
        out.records.push_back({record->get<std::string>(), gen->get<std::string>(), end->get<uint64_t>()});
    }
    return out;
}

}  // namespace iap::fleet
