#include "app/shell.h"

#include <imgui.h>

#include <cstdio>
#include <cstdlib>
#include <exception>

#include "app/frame_loop.h"
#include "app/gl_renderer.h"
#include "app/shutdown.h"
#include "app/single_instance.h"
#include "logging/diagnostics.h"
#include "logging/logging.h"

namespace iap {
namespace {

void initImGuiContext(Shell& shell) {
    ImGui::CreateContext();
    ImGuiIO& io = ImGui::GetIO();
    // Keyboard and gamepad navigation. This GUI library has no docking and
    // no multi-viewport support, so those flags and hooks have no place here.
    io.ConfigFlags |= ImGuiConfigFlags_NavEnableKeyboard | ImGuiConfigFlags_NavEnableGamepad;
    ImGui::StyleColorsDark();
    ImGuiStyle& style = ImGui::GetStyle();
    style.WindowRounding = 0.0f;
    style.Colors[ImGuiCol_WindowBg].w = 1.0f;
    shell.platform->initImGui();
    initRenderer(shell.gl.backEnd);
}

void teardownWindow(Shell& shell) {
    shutdownRenderer(shell.gl.backEnd);
    shell.platform->shutdownImGui();
    ImGui::DestroyContext();
    // The GL textures go while their context still exists.
    shell.state.textures.clear();
    shell.platform->destroyWindow();
    shell.platform->releaseWindowSystem();
}

// No GL context to draw with: the reason to the log and to the user.
int noGlContext(Platform& platform, const std::string& why) {
    basic_logg->info("initWGL failed: {}", why);
    platform.showError(std::string(kWindowName) + " cannot draw its window: no OpenGL context (" + why +
                       ").\nIt needs OpenGL 1.1 or newer: install or update the graphics driver.");
    return 1;
}

int run(Shell& shell, int argc, char** argv) {
    InstanceLock lock = acquireInstanceLock(kWindowName);
    basic_logg->info("CreateMutex OK");
    if (lock == InstanceLock::AlreadyRunning) return 0;
    basic_logg->info("GetLastError OK");

    Platform& platform = *shell.platform;
    platform.initWindowSystem();
    basic_logg->info("MyRegisterClass OK");

    WindowSpec spec;
    spec.title = kWindowName;
    spec.clientWidth = kClientWidth;
    spec.clientHeight = kClientHeight;
    spec.x = 100;
    spec.y = 50;
    if (!platform.createWindow(spec)) {
        const std::string why = platform.glFailure();
        platform.releaseWindowSystem();
        if (!why.empty()) return noGlContext(platform, why);
        std::fprintf(stderr, "%s: cannot open the window (is a display available?)\n", kWindowName);
        return 1;
    }
    basic_logg->info("InitInstance OK");

    std::string why;
    if (platform.makeContextCurrent()) {
        const std::string missing = platform.missingOpenGL3EntryPoints();
        shell.gl = inspectCurrentGl(missing);
        why = shell.gl.failure;
        if (why.empty() && shell.gl.backEnd == GlRenderer::OpenGL2) {
            warning("OpenGL " + shell.gl.version + " (" + shell.gl.renderer + ")" +
                    (shell.gl.major >= 3 ? " without " + missing : std::string()) + ": drawing with OpenGL 1.1 calls" +
                    (shell.gl.anyTextureSize ? "" : ", images in power-of-two textures"));
        }
    } else {
        why = platform.glFailure();
        if (why.empty()) why = "the context cannot be made current";
    }
    if (!why.empty()) {
        platform.destroyWindow();
        platform.releaseWindowSystem();
        return noGlContext(platform, why);
    }
    basic_logg->info("initWGL OK");

    initImGuiContext(shell);
    basic_logg->info("InitImGuiContext OK");

    main_init(shell, argc, argv);

    runFrameLoop(shell);

    basic_logg->info("Main loop over OK");
    shell.workersEnded = requestShutdown(shell.ctx, shell.queue.get(), shell.pool.get());
    basic_logg->info("main_shutdown OK");
    teardownWindow(shell);
    return 0;
}

}  // namespace

void Platform::showError(const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); }

int WinMain(int argc, char** argv, DeviceBus& bus, int showCommand) {
    return WinMain(argc, argv, bus, makeWindowPlatform(showCommand));
}

int WinMain(int argc, char** argv, DeviceBus& bus, std::unique_ptr<Platform> platform) {
    // The floors' diagnostic lines on standard output, warnings on standard error.
    diagnostics().set(standardOutputLines());
    warnings().set(standardErrorWarnings());
    createShellLogger();
    basic_logg->info("WinMain initializing...");
    basic_logg->info("Log system OK");

    // Never destroyed: pool workers may still read it while the process ends.
    static Shell* shell = new Shell;
    shell->platform = std::move(platform);
    shell->ctx.package = &shell->state;
    shell->ctx.bus = &bus;
    shell->ctx.connection = &shell->connection;

    int code = 0;
    try {
        code = run(*shell, argc, argv);
    } catch (const std::exception& e) {
        basic_logg->info("Main exception {}", e.what());
        code = 1;
        shell->workersEnded = shell->ctx.busy.load() == BUSY_IDLE;
    }
    basic_logg->flush();
    basic_logger->flush();
    if (!shell->workersEnded) {
        // A worker is still inside a device call: end the process here, before
        // static destructors could pull the loggers from under it.
        std::fflush(nullptr);
        std::_Exit(code);
    }
    return code;
}

}  // namespace iap
