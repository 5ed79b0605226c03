// The shipper's small state file of one record: its generation, how far it
// is confirmed, and its header line's hash (a FollowPosition), as one JSON
// object:
//   {"record":"<path>","gen":"<generation>","confirmed":N,"header":"<hash>"}
// It lies beside the record as "<record>.ship-state", or, where the record's
// folder cannot be written, in the state folder as
// "<record's name>.<hash of its path>.ship-state". Each write goes to a
// temporary file first, flushed to the disk, then renamed over the old one
// (on Windows with MoveFileExW, which replaces), so a crash leaves the old
// state or the new, never a torn one.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "fleet/record_follower.h"

namespace iap::fleet {

class StateFile {
public:
    StateFile(std::filesystem::path record, std::filesystem::path stateFolder);

    // The saved position; none when there is no state file, or (with a
    // warning) when it cannot be read or belongs to another record.
    std::optional<FollowPosition> load() const;
    // Beside the record, else in the state folder; false (with a warning,
    // once) when neither takes it.
    bool save(const FollowPosition& position);

    // Where the last save went (empty before it).
    const std::filesystem::path& where() const { return where_; }

private:
    std::filesystem::path record_, beside_, inFolder_, where_;
    bool warned_ = false;
};

// Writes text to file atomically: a temporary file beside it, flushed to the
// disk, renamed over file. False (why says why) when it cannot.
bool writeFileAtomically(const std::filesystem::path& file, const std::string& text, std::string& why);

}  // namespace iap::fleet
