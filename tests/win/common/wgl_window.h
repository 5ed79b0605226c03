// A Win32 window with a WGL context current on the calling thread, set up
// the way the tool's window needs it: a CS_OWNDC class (the DC, and so the
// pixel format, must stay the same for the window's life), a 32-bit RGBA
// double-buffered pixel format and a legacy wglCreateContext context, which
// Mesa (under Wine) and Windows drivers give as a compatibility profile of
// their highest version.
#pragma once

#include <windows.h>

#include <string>

namespace iap::win::test {

class WglWindow {
public:
    WglWindow() = default;
    WglWindow(const WglWindow&) = delete;
    WglWindow& operator=(const WglWindow&) = delete;
    ~WglWindow() { destroy(); }

    // The client area is clientWidth x clientHeight; the window is shown when
    // visible. On failure error() names the step and GetLastError().
    bool create(const wchar_t* title, int clientWidth, int clientHeight, bool visible,
                WNDPROC proc = DefWindowProcW);
    void destroy();

    HWND hwnd() const { return hwnd_; }
    HDC dc() const { return dc_; }
    HGLRC context() const { return context_; }
    const std::string& error() const { return error_; }

private:
    bool fail(const char* step);

    HWND hwnd_ = nullptr;
    HDC dc_ = nullptr;
    HGLRC context_ = nullptr;
    std::string error_;
};

// A UTF-16 string from Windows as UTF-8 ("(null)" for null).
std::string toUtf8(const wchar_t* text);

}  // namespace iap::win::test
