// Follows one upgrade record as it grows: reads the complete lines after a
// position (a line ends in LF outside quotes; a torn last line is left until
// it is complete), maps each by its own file's header, and notices a record
// that shrank or whose header line changed (started over: a new generation).
// Reads in bounded chunks: the backlog stays in the file, not in memory.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "fleet/attempt.h"

namespace iap::fleet {

struct FollowPosition {
    std::string gen;          // the record's generation ("" before the first read)
    uint64_t confirmed = 0;   // lines before this are stored (0: from the start)
    std::string headerHash;   // identifies the header line of that generation
};

class RecordFollower {
public:
    RecordFollower(std::filesystem::path record, std::string site, std::string station);

    // Up to maxLines complete lines starting at from (0: the first line after
    // the header). A record that shrank below from or whose header changed
    // starts a new generation: restarted() tells it once, and the lines come
    // from the beginning.
    std::vector<AttemptLine> read(uint64_t from, size_t maxLines);
    bool restarted();
    const std::string& gen() const;
    // The offset after the last complete line on disk.
    uint64_t completeEnd() const;

    const std::filesystem::path& path() const;
    // (a draft: the shipper's author settles the members)
};

}  // namespace iap::fleet
