#include "fleet/csv.h"

namespace iap::fleet {

CsvRead readCsvRecord(std::string_view in) {
    CsvRead out;
    out.fields.emplace_back();
    bool malformed = false;
    bool quoted = false;       // inside a quoted field
    bool afterQuote = false;   // a quoted field was closed: only ',' or the line end may follow
    bool fieldStart = true;
    for (size_t i = 0; i < in.size(); ++i) {
        const char c = in[i];
        std::string& field = out.fields.back();
        if (quoted) {
            if (c != '"') {
                field += c;
            } else if (i + 1 == in.size()) {
                return {CsvStatus::Incomplete, {}, 0};  // a doubled quote or the closing one
            } else if (in[i + 1] == '"') {
                field += '"';
                ++i;
            } else {
                quoted = false;
                afterQuote = true;
            }
            continue;
        }
        if (c == '\n' || (c == '\r' && i + 1 < in.size() && in[i + 1] == '\n')) {
            out.consumed = i + (c == '\r' ? 2 : 1);
            out.status = malformed ? CsvStatus::Malformed : CsvStatus::Record;
            return out;
        }
        if (c == ',') {
            out.fields.emplace_back();
            fieldStart = true;
            afterQuote = false;
            continue;
        }
        if (c == '"' && fieldStart) {
            quoted = true;
            fieldStart = false;
            continue;
        }
        if (c == '"' || afterQuote) malformed = true;
        fieldStart = false;
        field += c;
    }
    return {CsvStatus::Incomplete, {}, 0};
}

std::string csvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

}  // namespace iap::fleet
