// The initialisation sequence: second logger, theme, font, worker pool, UI
// thread, tool package, package colours, HID library.
#include <imgui.h>

#include "app/font.h"
#include "app/shell.h"
#include "logging/logging.h"
#include "package/gl_texture.h"
#include "package/layout.h"
#include "package/package_loader.h"
#include "package/theme.h"
#include "ui/ui_thread.h"

namespace iap {

namespace {
constexpr const char* kCorruptPackage = "File corruption!\nPlease regenerate the tool.";
}

bool main_init(Shell& shell, int argc, char** argv) {
    createMainLogger();
    basic_logger->info("main_init initializing...");
    basic_logger->info("Log system OK");
    // One line per attempt, beside the log.
    shell.record = std::make_unique<UpgradeRecord>(defaultRecordPath());
    shell.ctx.record = shell.record.get();

    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;
    io.LogFilename = nullptr;

    // The running executable's own file; argv[0] may be a bare name found
    // through PATH, which names no file in the current directory.
    shell.state.executablePath = currentExecutablePath();
    if (shell.state.executablePath.empty() && argc > 0) shell.state.executablePath = argv[0];

    ApplyTheme();
    basic_logger->info("Theme OK");

    std::string fontFile;
    if (addToolFont(*io.Fonts, &fontFile))
        basic_logger->info("Font {}, {:.0f} px", fontFile, kToolFontPixels);
    else
        basic_logger->info("Font built-in, 13 px");
    basic_logger->info("Font OK");

    shell.pool = std::make_unique<ThreadPool>(10);
    basic_logger->info("Thread pool OK");

    shell.queue = std::make_unique<UIEventQueue>();
    shell.reporter = std::make_unique<EventReporter>(*shell.queue);
    shell.ctx.reporter = shell.reporter.get();
    {
        UIEventQueue* queue = shell.queue.get();
        DisplayState* display = &shell.display;
        shell.pool->enqueue([queue, display] { UIThread(*queue, *display); });
    }
    basic_logger->info("UI thread OK");

    const bool anyTextureSize = shell.gl.anyTextureSize;
    const int maxTextureSize = shell.gl.maxTextureSize;
    // On a station with a trust folder only packages signed by one of its
    // keys load; a key there that cannot be read refuses every package.
    std::string problem;
    TrustedKeys trust;
    bool trustRead = true;
    try {
        trust = loadTrustedKeys({}, systemTrustFolder());
    } catch (const std::exception& e) {
        problem = std::string("trusted keys: ") + e.what();
        trustRead = false;
    }
    if (trustRead) {
        shell.packageValid = LoadPackage(
            shell.state,
            [anyTextureSize, maxTextureSize](DecodedImage&& image) {
                return makeGlTexture(std::move(image), anyTextureSize, maxTextureSize);
            },
            trust, &problem);
    } else {
        shell.state.colours = defaultColours();
        for (const auto& [id, rect] : layoutTable()) shell.state.layout.insert_or_assign(id, rect);
    }
    if (trust.configured()) basic_logger->info("Trusted keys: {}", trust.keys.size());
    shell.record->setSigner(shell.state.signer);
    if (!shell.packageValid) {
        basic_logger->info("Tool package not loaded: {}", problem);
        shell.reporter->postTips(kCorruptPackage);
        shell.reporter->postMsg(kCorruptPackage);
    }

    LoadStyle(shell.state.colours);
    basic_logger->info("LoadStyle OK");

    basic_logger->info("Icon data OK");

    shell.ctx.bus->init();
    basic_logger->info("HIDInit OK");
    return true;
}

}  // namespace iap
