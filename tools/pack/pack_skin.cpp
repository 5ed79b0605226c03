// `usb-iap-pack skin`: the built-in skin as files to edit.
#include <memory>
#include <stdexcept>

#include "pack/default_skin.h"
#include "pack/file_io.h"
#include "pack/pack_commands.h"
#include "pack/pack_options.h"
#include "pack/pack_subcommand.h"

namespace iap::pack {

namespace fs = std::filesystem;

int skinCommand(const fs::path& dir, std::ostream& out, std::ostream&) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) throw std::runtime_error(dir.string() + ": cannot create folder: " + ec.message());
    for (const skin::SkinImage& image : skin::makeDefaultSkin()) {
        writeFileAtomically(dir / image.fileName, {std::span<const uint8_t>(image.file)}, 0644);
    }
    out << "wrote the built-in skin's " << skin::skinSlots().size() << " images to "
        << dir.string() << "\n";
    return 0;
}

void addSkinCommand(CLI::App& app, CommandIo& io) {
    CLI::App* skin = app.add_subcommand("skin", "write the built-in skin's 19 BMP files to DIR, for --skin");
    skin->allow_extras();
    auto dir = std::make_shared<std::string>();
    skin->add_option("DIR", *dir, "the folder to write to");
    skin->callback([skin, dir, &io] {
        if (skin->count("DIR") != 1 || !skin->remaining().empty()) {
            throw UsageError("skin takes one argument: the folder to write to");
        }
        io.status = skinCommand(*dir, io.out, io.err);
    });
}

}  // namespace iap::pack
