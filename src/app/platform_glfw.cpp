// The platform seam on GLFW (X11 or Wayland): one window, one GL context.
#include <GLFW/glfw3.h>
#include <imgui.h>
#include <imgui_impl_glfw.h>

#include <cstdio>
#include <string>

#include "app/platform.h"
#include "app/window_icon.h"

namespace iap {
namespace {

class GlfwPlatform final : public Platform {
public:
    ~GlfwPlatform() override {
        destroyWindow();
        releaseWindowSystem();
    }

    bool initWindowSystem() override {
        glfwSetErrorCallback([](int code, const char* text) {
            std::fprintf(stderr, "GLFW error 0x%X: %s\n", static_cast<unsigned>(code), text);
            lastError() = text ? text : "";
        });
        initialised_ = glfwInit() == GLFW_TRUE;
        if (!initialised_) return false;
        // Double-buffered RGBA with no depth or stencil bits; any GL version.
        glfwDefaultWindowHints();
        glfwWindowHint(GLFW_RED_BITS, 8);
        glfwWindowHint(GLFW_GREEN_BITS, 8);
        glfwWindowHint(GLFW_BLUE_BITS, 8);
        glfwWindowHint(GLFW_ALPHA_BITS, 8);
        glfwWindowHint(GLFW_DEPTH_BITS, 0);
        glfwWindowHint(GLFW_STENCIL_BITS, 0);
        glfwWindowHint(GLFW_DOUBLEBUFFER, GLFW_TRUE);
        glfwWindowHint(GLFW_RESIZABLE, GLFW_TRUE);
        glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
        return true;
    }

    bool createWindow(const WindowSpec& spec) override {
        if (!initialised_) return false;
        lastError().clear();
        window_ = glfwCreateWindow(spec.clientWidth, spec.clientHeight, spec.title, nullptr, nullptr);
        if (!window_) {
            // GLFW makes the window and its context in one: with a display
            // (glfwInit succeeded), what fails here is the GL context.
            glFailure_ = lastError().empty() ? "GLFW made no window with an OpenGL context" : lastError();
            return false;
        }
        glfwSetWindowUserPointer(window_, this);
        glfwSetFramebufferSizeCallback(window_, &GlfwPlatform::onSize);
        glfwSetWindowPos(window_, spec.x, spec.y);

        std::vector<IconImage> icons = makeWindowIcons();
        std::vector<GLFWimage> images;
        for (IconImage& icon : icons) images.push_back({icon.size, icon.size, icon.rgba.data()});
        glfwSetWindowIcon(window_, static_cast<int>(images.size()), images.data());

        int w = 0, h = 0;
        glfwGetFramebufferSize(window_, &w, &h);
        onSize(window_, w, h);
        glfwShowWindow(window_);
        return true;
    }

    bool makeContextCurrent() override {
        if (!window_) return false;
        glfwMakeContextCurrent(window_);
        return glfwGetCurrentContext() == window_;
    }

    std::string glFailure() const override { return glFailure_; }

    bool initImGui() override { return imguiUp_ = ImGui_ImplGlfw_InitForOpenGL(window_, true); }
    void newImGuiFrame() override { ImGui_ImplGlfw_NewFrame(); }
    void shutdownImGui() override {
        if (imguiUp_) ImGui_ImplGlfw_Shutdown();
        imguiUp_ = false;
    }

    bool pumpMessages() override {
        glfwPollEvents();
        return !glfwWindowShouldClose(window_);
    }

    void swapBuffers() override { glfwSwapBuffers(window_); }

    uint32_t clientWidth() const override { return width_; }
    uint32_t clientHeight() const override { return height_; }

    void destroyWindow() override {
        if (!window_) return;
        if (glfwGetCurrentContext() == window_) glfwMakeContextCurrent(nullptr);
        glfwDestroyWindow(window_);
        window_ = nullptr;
    }

    void releaseWindowSystem() override {
        if (initialised_) glfwTerminate();
        initialised_ = false;
    }

private:
    static void onSize(GLFWwindow* window, int w, int h) {
        auto* self = static_cast<GlfwPlatform*>(glfwGetWindowUserPointer(window));
        // A minimised window keeps the last size it had on screen.
        if (!self || w <= 0 || h <= 0 || glfwGetWindowAttrib(window, GLFW_ICONIFIED)) return;
        self->width_ = static_cast<uint32_t>(w);
        self->height_ = static_cast<uint32_t>(h);
    }

    // The text of GLFW's last error (its callback takes no user pointer).
    static std::string& lastError() {
        static std::string text;
        return text;
    }

    std::string glFailure_;
    bool initialised_ = false;
    bool imguiUp_ = false;
    GLFWwindow* window_ = nullptr;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
};

}  // namespace

std::unique_ptr<Platform> makeWindowPlatform(int) { return std::make_unique<GlfwPlatform>(); }

}  // namespace iap
