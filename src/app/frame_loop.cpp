#include "app/frame_loop.h"

#include "package/gl_api.h"
#include <imgui.h>

#include <thread>

#include "logging/logging.h"
#include "ui/main_screen.h"

namespace iap {

int64_t steadyMicros() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

std::chrono::microseconds FramePacer::pace() {
    using namespace std::chrono;
    const int64_t now = clock_();
    if (first_) {
        first_ = false;
        lastFrameTime_ = now;
        return microseconds(0);
    }
    const int64_t elapsed = now - lastFrameTime_;
    microseconds slept(0);
    if (elapsed < budget_.count()) {
        slept = elapsed < 0 ? budget_ : budget_ - microseconds(elapsed);
        // steady_clock: a sleep that ends no earlier than asked.
        std::this_thread::sleep_for(slept);
    }
    // The pacing point is the start of this frame, after the sleep, so that
    // every frame (not only every second one) keeps the budget.
    lastFrameTime_ = clock_();
    return slept;
}

void runFrameLoop(Shell& shell) {
    Platform& platform = *shell.platform;
    FramePacer pacer(kFrameBudget, platform.pacingClock());
    Screen screen{shell.ctx, shell.state, *shell.pool, shell.display, *shell.reporter, shell.packageValid};
    for (;;) {
        if (!platform.pumpMessages()) break;
        pacer.pace();

        rendererNewFrame(shell.gl.backEnd);
        platform.newImGuiFrame();
        basic_logg->info("ImGui_ImplOpenGL3_NewFrame OK");

        // OpenGL 3.0's call: the window's own framebuffer is the only one
        // the tool draws to, so an older context has nothing to rebind.
        if (shell.gl.backEnd == GlRenderer::OpenGL3) glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glViewport(0, 0, kClientWidth, kClientHeight);
        glClearColor(0.1f, 0.1f, 0.1f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glEnable(GL_DEPTH_TEST);
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);

        ImGui::NewFrame();
        basic_logger->info("main_gui OK");
        main_gui(screen);
        basic_logg->info("main_gui OK");

        ImGui::Render();
        glViewport(0, 0, static_cast<GLsizei>(platform.clientWidth()),
                   static_cast<GLsizei>(platform.clientHeight()));
        renderDrawData(shell.gl.backEnd, ImGui::GetDrawData());
        basic_logg->info("ImGui_ImplOpenGL3_RenderDrawData OK");

        platform.swapBuffers();
    }
}

}  // namespace iap
