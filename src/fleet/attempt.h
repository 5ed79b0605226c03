// One attempt as the fleet carries it: a complete line of an upgrade record,
// the JSON message shipped for it on iap/v1/<site>/<station>/attempt, and that
// message read back and checked by the collector.
//
// The message (one JSON object):
//   every column of the record, by its file's header name, as the CSV text
//   (strings, "" for an empty field; columns a file's header lacks are absent)
//   site, station   strings, the same as in the topic
//   record          the record file's path on the station (string)
//   offset, end     the line's byte range in the record (integers, end > offset)
//   gen             the record's generation: changes when a record is started
//                   over from its beginning (string)
//   first           true for the record's first line after its header
//   id              the attempt_id column, or a stable ID made from the
//                   station, the record's path and the line's bytes (string)
//   malformed       present and true for a line that does not parse as CSV or
//                   has another number of fields than its header: then raw
//                   holds the line's text and no columns are given
//   raw             the line's bytes as text (malformed lines only)
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <variant>

namespace iap::fleet {

struct AttemptLine {
    std::string site, station;
    std::string record;   // the record's path on the station
    std::string gen;
    uint64_t offset = 0, end = 0;
    bool first = false;
    std::string id;
    bool malformed = false;
    std::string raw;      // malformed: the line as it is
    std::map<std::string, std::string> columns;  // header name -> field
};

// The JSON message for a line.
std::string attemptMessage(const AttemptLine& line);

// A message that cannot be stored, kept apart with its bytes.
struct Rejected {
    std::string reason;   // "not JSON", "no id", "wrong type: offset", "too large", "bad topic", ...
};

// Reads one message of the attempt topic. The topic's site and station must
// be the message's own; payloads above kMaxAttemptPayload are not parsed.
inline constexpr size_t kMaxAttemptPayload = 64 * 1024;
std::variant<AttemptLine, Rejected> readAttemptMessage(std::string_view topic, std::string_view payload);

}  // namespace iap::fleet
