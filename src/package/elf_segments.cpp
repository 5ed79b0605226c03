// ELF32 and ELF64, either byte order: the file bytes of each PT_LOAD program
// header at its physical address (p_paddr); what only memory holds (p_memsz
// beyond p_filesz, such as .bss) is not part of the image.
#include <string>

#include "package/payload_segments.h"

namespace iap {

namespace {

class Fields {
public:
    Fields(std::span<const uint8_t> file, bool bigEndian) : file_(file), big_(bigEndian) {}
    // The width-byte field at offset; throws when it lies outside the file.
    uint64_t at(uint64_t offset, size_t width, const std::string& what) const {
        if (offset > file_.size() || width > file_.size() - offset) {
            throw PayloadError(what + " lies past the end of the file");
        }
        uint64_t value = 0;
        for (size_t i = 0; i < width; ++i) {
            const uint8_t b = file_[static_cast<size_t>(offset) + (big_ ? i : width - 1 - i)];
            value = value << 8 | b;
        }
        return value;
    }

private:
    std::span<const uint8_t> file_;
    bool big_;
};

}  // namespace

Segments readElfSegments(std::span<const uint8_t> file) {
    if (file.size() < 16 || file[0] != 0x7F || file[1] != 'E' || file[2] != 'L' || file[3] != 'F') {
        throw PayloadError("not an ELF file");
    }
    const bool is64 = file[4] == 2;
    if ((file[4] != 1 && file[4] != 2) || (file[5] != 1 && file[5] != 2)) {
        throw PayloadError("ELF class or byte order unknown");
    }
    const Fields f(file, file[5] == 2);
    const size_t word = is64 ? 8 : 4;
    const uint64_t phoff = f.at(is64 ? 32 : 28, word, "the ELF header");
    const uint64_t phentsize = f.at(is64 ? 54 : 42, 2, "the ELF header");
    const uint64_t phnum = f.at(is64 ? 56 : 44, 2, "the ELF header");
    if (phnum != 0 && phentsize < (is64 ? 56u : 32u)) throw PayloadError("ELF program headers too small");
    Segments out;
    out.placeName = "segment";
    for (uint64_t i = 0; i < phnum; ++i) {
        const std::string what = "segment " + std::to_string(i);
        const uint64_t ph = phoff + i * phentsize;
        if (f.at(ph, 4, what + "'s program header") != 1) continue;  // PT_LOAD
        const uint64_t offset = f.at(ph + (is64 ? 8 : 4), word, what);
        const uint64_t paddr = f.at(ph + (is64 ? 24 : 12), word, what);
        const uint64_t filesz = f.at(ph + (is64 ? 32 : 16), word, what);
        if (filesz == 0) continue;
        if (offset > file.size() || filesz > file.size() - offset) {
            throw PayloadError(what + ": " + std::to_string(filesz) + " bytes at file offset " +
                               std::to_string(offset) + " run past the end of the file");
        }
        // Segments of one file do not share its bytes: together they are
        // never more than the file, which bounds what is copied.
        if (filesz > file.size() - out.data.size()) {
            throw PayloadError(what + ": the loadable segments together are larger than the file");
        }
        out.chunks.push_back({paddr, out.data.size(), static_cast<size_t>(filesz), i});
        out.data.insert(out.data.end(), file.begin() + static_cast<std::ptrdiff_t>(offset),
                        file.begin() + static_cast<std::ptrdiff_t>(offset + filesz));
    }
    if (out.chunks.empty()) throw PayloadError("the ELF file has no loadable data (no PT_LOAD segment with file bytes)");
    return out;
}

}  // namespace iap
