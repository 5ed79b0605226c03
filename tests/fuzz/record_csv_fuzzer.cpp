// The record's CSV reader on any bytes, record after record: what it
// consumes stays inside the input and moves on; a record written back with
// the record's own quoting reads back as the same fields.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fleet/csv.h"

using namespace iap::fleet;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view in(reinterpret_cast<const char*>(data), size);
    while (!in.empty()) {
        const CsvRead r = readCsvRecord(in);
        if (r.status == CsvStatus::Incomplete) break;
        if (r.consumed == 0 || r.consumed > in.size() || in[r.consumed - 1] != '\n' || r.fields.empty()) std::abort();
        if (r.status == CsvStatus::Record) {
            std::string line;
            for (size_t i = 0; i < r.fields.size(); ++i) line += (i ? "," : "") + csvField(r.fields[i]);
            line += "\r\n";
            const CsvRead back = readCsvRecord(line);
            if (back.status != CsvStatus::Record || back.consumed != line.size() || back.fields != r.fields) std::abort();
        }
        in.remove_prefix(r.consumed);
    }
    return 0;
}
