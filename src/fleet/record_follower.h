// Follows one upgrade record as it grows: reads the complete records after a
// position (a record ends in LF or CR LF outside quotes; a torn last line is
// left until it is complete), maps each by its own file's header, and
// notices a record that shrank or whose header line changed (started over:
// a new generation, said as a warning). Reads in bounded chunks: the backlog
// stays in the file, not in memory.
//
// A line that does not parse, or holds another number of fields than its
// header, comes as malformed with its raw bytes; but under a header that an
// older tool wrote (a prefix of the record's columns) a line may carry the
// columns added since, and they are named as the record names them now. A quoted field that runs
// over line breaks and does not end in a sound record (a torn line's open
// quote) is cut at its first line break, so one bad line never swallows the
// lines after it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "fleet/attempt.h"

namespace iap::fleet {

// What the state file keeps of a record: the generation, how far it is
// confirmed, and its header line's hash.
struct FollowPosition {
    std::string gen;          // "" before the first read
    uint64_t confirmed = 0;   // the lines before this offset are stored (0: none)
    std::string headerHash;   // the header line's BLAKE2b-128 (hex)
};

// The record's path as the fleet names it: UTF-8, as given.
std::string pathText(const std::filesystem::path& path);

// The stable ID of a line without an attempt_id: a version 8 UUID of
// BLAKE2b-128 over the station, the record's path, the line's offset and its
// bytes (NUL-separated).
std::string stableLineId(std::string_view station, std::string_view record, uint64_t offset,
                         std::string_view bytes);

class RecordFollower {
public:
    // Longest record read as CSV; a longer line is cut at its line break and
    // comes as malformed with its first kMaxRaw bytes.
    static constexpr size_t kMaxLine = 64 * 1024;
    static constexpr size_t kMaxRaw = 8 * 1024;

    RecordFollower(std::filesystem::path record, std::string site, std::string station);

    // Continues a generation saved before: checked against the file at the
    // next read (its header's hash, and a file shorter than confirmed).
    void resume(const FollowPosition& saved);

    // Up to maxLines complete lines starting at from (0 or any offset inside
    // the header: the first line after it). A record that shrank below what
    // was seen of it or whose header changed starts a new generation:
    // restarted() tells it once, and the lines come from the beginning. A
    // missing record or one without a whole header line gives none.
    std::vector<AttemptLine> read(uint64_t from, size_t maxLines);
    bool restarted();

    const std::string& gen() const { return gen_; }
    // The offset after the header line (0 while there is none).
    uint64_t headerEnd() const { return headerEnd_; }
    // The file's size at the last read.
    uint64_t size() const { return size_; }
    FollowPosition position(uint64_t confirmed) const { return {gen_, confirmed, headerHash_}; }

    // The line breaks in [from, to) of the file, read in chunks.
    uint64_t countLineEnds(uint64_t from, uint64_t to) const;

    const std::filesystem::path& path() const { return path_; }

private:
    bool checkHeader(std::istream& in);
    AttemptLine makeLine(uint64_t offset, std::string_view bytes, const std::vector<std::string>* fields) const;

    std::filesystem::path path_;
    std::string site_, station_, record_;
    std::string gen_, headerHash_;
    std::vector<std::string> columns_;  // the header's, and the record's later ones after an older header
    size_t headerFields_ = 0;           // the fields of the header line itself
    uint64_t headerEnd_ = 0, size_ = 0;
    uint64_t seen_ = 0;  // the furthest offset known in this generation
    bool restarted_ = false;
};

}  // namespace iap::fleet
