#include "fleet/query_output.h"

#include <algorithm>
#include <set>

#include <nlohmann/json.hpp>

#include "fleet/csv.h"

namespace iap::fleet {

using nlohmann::json;

namespace {

std::string dump(const json& j) { return j.dump(-1, ' ', false, json::error_handler_t::replace); }

}  // namespace

void writeAttemptsCsv(std::ostream& out, const std::vector<StoredAttempt>& attempts) {
    std::vector<std::string> columns(kRecordColumns.begin(), kRecordColumns.end());
    std::set<std::string> others;
    for (const StoredAttempt& a : attempts) {
        for (const auto& [name, value] : a.line.columns) {
            if (std::find(columns.begin(), columns.end(), name) == columns.end()) others.insert(name);
        }
    }
    columns.insert(columns.end(), others.begin(), others.end());
    auto row = [&](const std::vector<std::string>& fields) {
        for (size_t i = 0; i < fields.size(); ++i) out << (i ? "," : "") << csvField(fields[i]);
        out << '\n';
    };
    std::vector<std::string> header{"site", "station"};
    header.insert(header.end(), columns.begin(), columns.end());
    for (const char* name : {"id", "record", "offset", "end", "gen", "malformed", "raw", "received"}) header.push_back(name);
    row(header);
    for (const StoredAttempt& s : attempts) {
        const AttemptLine& a = s.line;
        std::vector<std::string> fields{a.site, a.station};
        for (const std::string& c : columns) {
            const auto it = a.columns.find(c);
            fields.push_back(it == a.columns.end() ? "" : it->second);
        }
        for (std::string v : {a.id, a.record, std::to_string(a.offset), std::to_string(a.end), a.gen,
                              std::string(a.malformed ? "true" : ""), a.raw, s.received}) {
            fields.push_back(std::move(v));
        }
        row(fields);
    }
}

void writeAttemptsJson(std::ostream& out, const std::vector<StoredAttempt>& attempts) {
    for (const StoredAttempt& a : attempts) {
        json j = json::parse(attemptMessage(a.line));
        j["received"] = a.received;
        out << dump(j) << '\n';
    }
}

void writeYields(std::ostream& out, const std::vector<YieldRow>& rows, bool asJson) {
    if (!asJson) out << "site,station,day,passed,failed,failures\n";
    for (const YieldRow& y : rows) {
        if (asJson) {
            json failures = json::object();
            for (const auto& [word, n] : y.failures) failures[word] = n;
            out << dump({{"site", y.site}, {"station", y.station}, {"day", y.day}, {"passed", y.passed},
                         {"failed", y.failed}, {"failures", failures}})
                << '\n';
            continue;
        }
        std::string words;
        for (const auto& [word, n] : y.failures) words += (words.empty() ? "" : " ") + word + "=" + std::to_string(n);
        out << csvField(y.site) << ',' << csvField(y.station) << ',' << y.day << ',' << y.passed << ',' << y.failed << ','
            << csvField(words) << '\n';
    }
}

}  // namespace iap::fleet
