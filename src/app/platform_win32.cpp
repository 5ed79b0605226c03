// The platform seam on Win32 and WGL: the window class, the window and its
// procedure, the pixel format and the one GL context, the message pump, and
// the wall clock that frames are paced by.
#include <windows.h>

#include <imgui.h>
#include <imgui_impl_win32.h>

#include <cstdio>
#include <string>

#include <gl_loader.h>

#include "app/platform.h"
#include "bytes/wide_text.h"
#include "app/platform_win32.h"

extern IMGUI_IMPL_API LRESULT ImGui_ImplWin32_WndProcHandler(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

namespace iap {
namespace {

// 100-nanosecond ticks of the system time, in microseconds.
int64_t wallClockMicros() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    ULARGE_INTEGER ticks;
    ticks.LowPart = ft.dwLowDateTime;
    ticks.HighPart = ft.dwHighDateTime;
    return static_cast<int64_t>(ticks.QuadPart / 10);
}

class Win32Platform;
// The one window of the process; the window procedure reaches it here.
Win32Platform* theWindow = nullptr;

class Win32Platform final : public Platform {
public:
    explicit Win32Platform(int showCommand) : show_(showCommand) {}
    ~Win32Platform() override {
        destroyWindow();
        releaseWindowSystem();
        if (theWindow == this) theWindow = nullptr;
    }

    bool initWindowSystem() override {
        instance_ = GetModuleHandleW(nullptr);
        className_ = wideFromUtf8(kWin32ClassName);
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(WNDCLASSEXW);
        wc.style = CS_HREDRAW | CS_VREDRAW;
        wc.lpfnWndProc = &Win32Platform::windowProc;
        wc.hInstance = instance_;
        wc.hIcon = LoadIconW(instance_, MAKEINTRESOURCEW(kWin32IconId));
        wc.hIconSm = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(kWin32IconId), IMAGE_ICON,
                                                   GetSystemMetrics(SM_CXSMICON),
                                                   GetSystemMetrics(SM_CYSMICON), LR_SHARED));
        wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
        wc.hbrBackground = nullptr;
        wc.lpszMenuName = nullptr;
        wc.lpszClassName = className_.c_str();
        // Not examined: a failed registration shows as a failed window.
        registered_ = RegisterClassExW(&wc) != 0;
        return true;
    }

    bool createWindow(const WindowSpec& spec) override {
        const SIZE outer = win32OuterSize(spec.clientWidth, spec.clientHeight);
        theWindow = this;
        const std::wstring title = wideFromUtf8(spec.title);
        hwnd_ = CreateWindowExW(0, className_.c_str(), title.c_str(), kWin32WindowStyle, spec.x, spec.y, outer.cx,
                                outer.cy, nullptr, nullptr, instance_, nullptr);
        if (!hwnd_) return false;
        ShowWindow(hwnd_, show_);
        UpdateWindow(hwnd_);
        return true;
    }

    // openGLDevice, then the context made current and initWGL. On failure
    // glFailure() says which step failed and the system's error code.
    bool makeContextCurrent() override {
        glFailure_.clear();
        if (!hwnd_ || !openGLDevice(hwnd_, &dc_) || !glrc_ || !current()) {
            if (glFailure_.empty()) glFailure_ = "no window";
            closeGLDevice(hwnd_, dc_);
            dc_ = nullptr;
            return false;
        }
        return initWGL();
    }

    std::string glFailure() const override { return glFailure_; }
    std::string missingOpenGL3EntryPoints() const override { return missingOpenGL3_; }

    void showError(const std::string& text) override {
        Platform::showError(text);
        // The window destroyed before has posted WM_QUIT, which would end
        // the message box's own loop at once.
        MSG msg;
        while (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
        MessageBoxW(nullptr, wideFromUtf8(text).c_str(), wideFromUtf8(kWin32ClassName).c_str(),
                    MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
    }

    bool initImGui() override { return imguiUp_ = ImGui_ImplWin32_Init(hwnd_); }
    void newImGuiFrame() override { ImGui_ImplWin32_NewFrame(); }
    void shutdownImGui() override {
        if (imguiUp_) ImGui_ImplWin32_Shutdown();
        imguiUp_ = false;
    }

    // Every waiting message; a WM_QUIT among them ends the loop once the whole
    // batch has been dispatched.
    bool pumpMessages() override {
        bool quit = false;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
            if (msg.message == WM_QUIT) quit = true;
        }
        return !quit;
    }

    void swapBuffers() override { SwapBuffers(dc_); }

    uint32_t clientWidth() const override { return clientWidth_; }
    uint32_t clientHeight() const override { return clientHeight_; }

    void destroyWindow() override {
        if (!hwnd_) return;
        closeGLDevice(hwnd_, dc_);
        dc_ = nullptr;
        if (glrc_) wglDeleteContext(glrc_);
        glrc_ = nullptr;
        DestroyWindow(hwnd_);
        hwnd_ = nullptr;
    }

    void releaseWindowSystem() override {
        if (registered_) UnregisterClassW(className_.c_str(), instance_);
        registered_ = false;
    }

    PacingClock pacingClock() const override { return wallClockMicros; }

private:
    // Sets the pixel format on the window's DC and makes the GL context if
    // there is none yet. False when no pixel format could be chosen or set.
    bool openGLDevice(HWND hwnd, HDC* dc) {
        HDC hdc = GetDC(hwnd);
        *dc = hdc;
        if (!hdc) return failed("GetDC");
        PIXELFORMATDESCRIPTOR pfd = win32PixelFormat();
        const int format = ChoosePixelFormat(hdc, &pfd);
        if (format == 0) return failed("ChoosePixelFormat");
        if (SetPixelFormat(hdc, format, &pfd) == FALSE) return failed("SetPixelFormat");
        if (!glrc_) glrc_ = wglCreateContext(hdc);
        return glrc_ ? true : failed("wglCreateContext");
    }

    bool current() { return wglMakeCurrent(dc_, glrc_) ? true : failed("wglMakeCurrent"); }

    // Records the failed step with the thread's last error; false.
    bool failed(const char* step) {
        char text[160];
        std::snprintf(text, sizeof text, "%s failed, error %lu", step, static_cast<unsigned long>(GetLastError()));
        glFailure_ = text;
        return false;
    }

    static void closeGLDevice(HWND hwnd, HDC dc) {
        wglMakeCurrent(nullptr, nullptr);
        if (hwnd && dc) ReleaseDC(hwnd, dc);
    }

    // Our loader in place of glad: wglGetProcAddress, then opengl32.dll's
    // own exports. What the OpenGL3 back-end lacks is kept for the choice of
    // back-end; the OpenGL 1.1 calls of the tool and of the OpenGL2 back-end
    // are opengl32.dll's exports, always there.
    bool initWGL() {
        const win::GlLoadReport report = win::loadGl();
        missingOpenGL3_.clear();
        for (const std::string& name : report.missing) {
            if (!missingOpenGL3_.empty()) missingOpenGL3_ += ", ";
            missingOpenGL3_ += name;
        }
        for (const char* name : {"glGetString", "glViewport", "glClearColor", "glClear", "glEnable", "glBlendFunc",
                                 "glGenTextures", "glBindTexture", "glTexParameteri", "glTexImage2D",
                                 "glDeleteTextures"}) {
            if (!win::loadedGl(name)) {
                glFailure_ = std::string("opengl32.dll has no ") + name;
                return false;
            }
        }
        return true;
    }

    static LRESULT CALLBACK windowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        if (ImGui_ImplWin32_WndProcHandler(hwnd, msg, wParam, lParam)) return 1;
        uint32_t* width = theWindow ? &theWindow->clientWidth_ : nullptr;
        uint32_t* height = theWindow ? &theWindow->clientHeight_ : nullptr;
        return win32WindowProcedure(hwnd, msg, wParam, lParam, width, height);
    }

    int show_;
    HINSTANCE instance_ = nullptr;
    std::wstring className_;
    bool registered_ = false;
    HWND hwnd_ = nullptr;
    HDC dc_ = nullptr;
    HGLRC glrc_ = nullptr;
    std::string glFailure_;
    std::string missingOpenGL3_;
    bool imguiUp_ = false;
    uint32_t clientWidth_ = 0;
    uint32_t clientHeight_ = 0;
};

}  // namespace

SIZE win32OuterSize(int clientWidth, int clientHeight) {
    RECT rect{0, 0, clientWidth, clientHeight};
    AdjustWindowRectEx(&rect, kWin32WindowStyle, FALSE, 0);
    return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

PIXELFORMATDESCRIPTOR win32PixelFormat() {
    PIXELFORMATDESCRIPTOR pfd{};
    pfd.nSize = sizeof(PIXELFORMATDESCRIPTOR);
    pfd.nVersion = 1;
    pfd.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    pfd.iPixelType = PFD_TYPE_RGBA;
    pfd.cColorBits = 32;
    return pfd;
}

LRESULT win32WindowProcedure(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, uint32_t* clientWidth,
                             uint32_t* clientHeight) {
    switch (msg) {
    case WM_DESTROY:
    case WM_CLOSE:
        // The window stays: shutdown destroys it after the loop.
        PostQuitMessage(0);
        return 0;
    case WM_SIZE:
        if (wParam != SIZE_MINIMIZED && clientWidth && clientHeight) {
            *clientWidth = LOWORD(lParam);
            *clientHeight = HIWORD(lParam);
        }
        return 0;
    case WM_GETICON:
        return reinterpret_cast<LRESULT>(LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kWin32IconId)));
    case WM_COMMAND:
        if (wParam == 1) PostQuitMessage(0);
        break;
    case WM_SYSCOMMAND:
        // Alt alone opens no menu.
        if ((wParam & 0xFFF0) == SC_KEYMENU) return 0;
        break;
    default:
        break;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

std::unique_ptr<Platform> makeWindowPlatform(int showCommand) { return std::make_unique<Win32Platform>(showCommand); }

}  // namespace iap
