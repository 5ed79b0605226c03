// One record of CSV as RFC 4180 quotes it, read from the start of a buffer:
// fields separated by commas, a record ending in LF or CR LF outside quotes,
// a quoted field holding commas, line breaks and doubled quotes ("").
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace iap::fleet {

enum class CsvStatus {
    Record,      // fields hold the record; consumed includes its line break
    Incomplete,  // no line break outside quotes yet (a torn tail): read more
    Malformed,   // a complete line with bad quoting (a quote inside an
                 // unquoted field, text after a closing quote); consumed
                 // covers it, stray quotes taken as text
};

struct CsvRead {
    CsvStatus status = CsvStatus::Incomplete;
    std::vector<std::string> fields;
    size_t consumed = 0;
};

CsvRead readCsvRecord(std::string_view buffer);

// A field as a record writes it: quoted when it holds a comma, a quote or a
// line break.
std::string csvField(std::string_view text);

}  // namespace iap::fleet
