#include "fleet/record_follower.h"

#include <algorithm>
#include <fstream>
#include <functional>
#include <optional>
#include <stdexcept>
#include <utility>

#include <sodium.h>

#include "bytes/uuid.h"
#include "fleet/csv.h"
#include "logging/diagnostics.h"
#include "logging/logging.h"

namespace iap::fleet {

namespace fs = std::filesystem;

namespace {

constexpr size_t kChunk = 64 * 1024;

// BLAKE2b-128, streamed.
class Hash {
public:
    Hash() { crypto_generichash_init(&state_, nullptr, 0, 16); }
    Hash& add(std::string_view bytes) {
        crypto_generichash_update(&state_, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
        return *this;
    }
    Uuid done() {
        Uuid out{};
        crypto_generichash_final(&state_, out.data(), out.size());
        return out;
    }

private:
    crypto_generichash_state state_;
};

Hash lineHash(std::string_view station, std::string_view record, uint64_t offset) {
    Hash h;
    h.add(station).add(std::string_view("\0", 1)).add(record).add(std::string_view("\0", 1));
    h.add(std::to_string(offset)).add(std::string_view("\0", 1));
    return h;
}

// Calls fn with the bytes of [from, to) in chunks until it returns false.
void eachChunk(std::istream& in, uint64_t from, uint64_t to, const std::function<bool(std::string_view, uint64_t)>& fn) {
    std::string chunk(kChunk, '\0');
    in.clear();
    in.seekg(static_cast<std::streamoff>(from));
    while (from < to && in) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(kChunk, to - from));
        in.read(chunk.data(), static_cast<std::streamsize>(n));
        const auto got = static_cast<size_t>(in.gcount());
        if (got == 0 || !fn(std::string_view(chunk.data(), got), from)) return;
        from += got;
    }
}

std::string readRange(std::istream& in, uint64_t from, size_t n) {
    std::string out;
    eachChunk(in, from, from + n, [&](std::string_view bytes, uint64_t) {
        out += bytes;
        return true;
    });
    return out;
}

}  // namespace

std::string pathText(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::string stableLineId(std::string_view station, std::string_view record, uint64_t offset, std::string_view bytes) {
    return uuidText(uuidV8(lineHash(station, record, offset).add(bytes).done()));
}

RecordFollower::RecordFollower(fs::path record, std::string site, std::string station)
    : path_(std::move(record)), site_(std::move(site)), station_(std::move(station)), record_(pathText(path_)) {
    if (sodium_init() < 0) throw std::runtime_error("libsodium cannot start");
}

void RecordFollower::resume(const FollowPosition& saved) {
    gen_ = saved.gen;
    headerHash_ = saved.gen.empty() ? "" : saved.headerHash;
    seen_ = saved.confirmed;
}

bool RecordFollower::restarted() { return std::exchange(restarted_, false); }

bool RecordFollower::checkHeader(std::istream& in) {
    auto startOver = [&](const std::string& why) {
        warning("the record " + record_ + " " + why + ": shipping it again from its beginning");
        gen_.clear();
        headerHash_.clear();
        restarted_ = true;
    };
    if (!gen_.empty() && size_ < seen_) startOver("shrank");
    const std::string head = readRange(in, 0, static_cast<size_t>(std::min<uint64_t>(size_, kMaxLine)));
    const CsvRead header = readCsvRecord(head);
    if (header.status == CsvStatus::Incomplete) {
        headerEnd_ = 0;
        return false;
    }
    const Uuid digest = Hash().add(std::string_view(head).substr(0, header.consumed)).done();
    const std::string hash = uuidText(digest);  // its hex digits
    if (!headerHash_.empty() && hash != headerHash_) startOver("has another header line");
    if (gen_.empty()) {
        gen_ = uuidText(uuidV7());
        seen_ = 0;
    }
    headerHash_ = hash;
    headerEnd_ = header.consumed;
    columns_ = header.fields;
    headerFields_ = columns_.size();
    // A record begun by an older tool: the lines a newer one appended since
    // carry the later columns too, named as the record names them now.
    const size_t known = std::size(kUpgradeRecordColumns);
    if (headerFields_ < known && std::equal(columns_.begin(), columns_.end(), kUpgradeRecordColumns.begin())) {
        columns_.assign(kUpgradeRecordColumns.begin(), kUpgradeRecordColumns.end());
    }
    return true;
}

AttemptLine RecordFollower::makeLine(uint64_t offset, std::string_view bytes, const std::vector<std::string>* fields) const {
    AttemptLine line{site_, station_, record_, gen_, offset, offset + bytes.size(), offset == headerEnd_};
    if (fields) {
        for (size_t i = 0; i < fields->size(); ++i) line.columns[columns_[i]] = (*fields)[i];
        const auto id = line.columns.find("attempt_id");
        if (id != line.columns.end() && !id->second.empty()) line.id = id->second;
    } else {
        line.malformed = true;
        line.raw = std::string(bytes.substr(0, kMaxRaw));
    }
    if (line.id.empty()) line.id = stableLineId(station_, record_, offset, bytes);
    return line;
}

std::vector<AttemptLine> RecordFollower::read(uint64_t from, size_t maxLines) {
    std::vector<AttemptLine> lines;
    std::ifstream in(path_, std::ios::binary);
    if (!in) return lines;
    in.seekg(0, std::ios::end);
    size_ = static_cast<uint64_t>(in.tellg());
    const std::string genBefore = gen_;
    if (!checkHeader(in)) return lines;
    uint64_t at = gen_ != genBefore || from < headerEnd_ ? headerEnd_ : from;
    std::string buf;
    uint64_t bufAt = at;
    while (lines.size() < maxLines && at < size_) {
        size_t off = static_cast<size_t>(at - bufAt);
        if (off > 0 && off >= buf.size() / 2) {
            buf.erase(0, off);
            bufAt = at;
            off = 0;
        }
        const CsvRead r = readCsvRecord(std::string_view(buf).substr(off));
        if (r.status == CsvStatus::Incomplete) {
            const uint64_t bufEnd = bufAt + buf.size();
            if (bufEnd < size_ && buf.size() - off < kMaxLine) {
                buf += readRange(in, bufEnd, static_cast<size_t>(std::min<uint64_t>(kChunk, size_ - bufEnd)));
                continue;
            }
            const std::string_view pending = std::string_view(buf).substr(off);
            const size_t lf = pending.find('\n');
            if (lf != std::string_view::npos && (pending.size() >= kMaxLine || pending.back() == '\n')) {
                // An open quote that no sound record closes: the line up to its break.
                lines.push_back(makeLine(at, pending.substr(0, lf + 1), nullptr));
                at += lf + 1;
                continue;
            }
            if (pending.size() < kMaxLine) break;  // a torn last line: wait for its end
            // A line longer than any record: its end further on, its bytes hashed as they pass.
            std::optional<uint64_t> end;
            Hash h = lineHash(station_, record_, at);
            eachChunk(in, at, size_, [&](std::string_view bytes, uint64_t pos) {
                const size_t n = bytes.find('\n');
                h.add(bytes.substr(0, n == std::string_view::npos ? bytes.size() : n + 1));
                if (n != std::string_view::npos) end = pos + n + 1;
                return !end;
            });
            if (!end) break;
            AttemptLine line = makeLine(at, pending, nullptr);
            line.end = *end;
            line.id = uuidText(uuidV8(h.done()));
            lines.push_back(std::move(line));
            at = *end;
            buf.clear();
            bufAt = at;
            continue;
        }
        std::string_view bytes = std::string_view(buf).substr(off, r.consumed);
        const bool sound = r.status == CsvStatus::Record && r.fields.size() >= headerFields_ &&
                           r.fields.size() <= columns_.size();
        const size_t lf = bytes.find('\n');
        if (!sound && lf + 1 < bytes.size()) bytes = bytes.substr(0, lf + 1);  // cut at its first break
        lines.push_back(makeLine(at, bytes, sound ? &r.fields : nullptr));
        at += bytes.size();
    }
    seen_ = std::max(seen_, at);
    return lines;
}

uint64_t RecordFollower::countLineEnds(uint64_t from, uint64_t to) const {
    std::ifstream in(path_, std::ios::binary);
    uint64_t count = 0;
    if (in) {
        eachChunk(in, from, to, [&](std::string_view bytes, uint64_t) {
            count += static_cast<uint64_t>(std::count(bytes.begin(), bytes.end(), '\n'));
            return true;
        });
    }
    return count;
}

}  // namespace iap::fleet
