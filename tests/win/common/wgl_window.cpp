#include "wgl_window.h"

#include <fmt/format.h>

namespace iap::win::test {
namespace {

const wchar_t kClassName[] = L"IapWinTestWindow";

}  // namespace

bool WglWindow::fail(const char* step) {
    error_ = fmt::format("{} failed (GetLastError {})", step, GetLastError());
    destroy();
    return false;
}

bool WglWindow::create(const wchar_t* title, int clientWidth, int clientHeight, bool visible,
                       WNDPROC proc) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.style = CS_OWNDC | CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = kClassName;
    // A second window of the same process finds the class registered.
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return fail("RegisterClassExW");

    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT rect{0, 0, clientWidth, clientHeight};
    AdjustWindowRectEx(&rect, style, FALSE, 0);
    hwnd_ = CreateWindowExW(0, kClassName, title, style, 40, 40, rect.right - rect.left,
                            rect.bottom - rect.top, nullptr, nullptr, instance, nullptr);
    if (!hwnd_) return fail("CreateWindowExW");
    dc_ = GetDC(hwnd_);
    if (!dc_) return fail("GetDC");

    PIXELFORMATDESCRIPTOR pfd{};
    pfd.nSize = sizeof(pfd);  // 40
    pfd.nVersion = 1;
    pfd.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    pfd.iPixelType = PFD_TYPE_RGBA;
    pfd.cColorBits = 32;
    pfd.iLayerType = PFD_MAIN_PLANE;
    const int format = ChoosePixelFormat(dc_, &pfd);
    if (format == 0) return fail("ChoosePixelFormat");
    if (!SetPixelFormat(dc_, format, &pfd)) return fail("SetPixelFormat");
    context_ = wglCreateContext(dc_);
    if (!context_) return fail("wglCreateContext");
    if (!wglMakeCurrent(dc_, context_)) return fail("wglMakeCurrent");

    if (visible) {
        ShowWindow(hwnd_, SW_SHOWNORMAL);
        UpdateWindow(hwnd_);
    }
    return true;
}

void WglWindow::destroy() {
    if (context_) {
        if (wglGetCurrentContext() == context_) wglMakeCurrent(nullptr, nullptr);
        wglDeleteContext(context_);
        context_ = nullptr;
    }
    if (dc_) {
        ReleaseDC(hwnd_, dc_);
        dc_ = nullptr;
    }
    if (hwnd_) {
        DestroyWindow(hwnd_);
        hwnd_ = nullptr;
    }
}

std::string toUtf8(const wchar_t* text) {
    if (!text) return "(null)";
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return {};
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    out.resize(static_cast<size_t>(size - 1));
    return out;
}

}  // namespace iap::win::test
