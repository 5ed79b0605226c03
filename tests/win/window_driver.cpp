// Drives the tool's window from another Windows process in the same Wine
// session, for the GUI scenario scripts (tests/gui/lib.sh):
//
//   window_driver info       title, client size, outer size and position, style
//   window_driver close      posts WM_CLOSE (the title bar's close)
//   window_driver minimize   ShowWindow SW_MINIMIZE, then waits for it
//   window_driver restore    ShowWindow SW_RESTORE, then waits for it
//   window_driver menu       whether the window's thread is in a menu loop
//   window_driver message    waits for the tool's message box, prints its
//                            text and presses its OK button
//
// The window is found by its class and title "USB IAP tool" (the message box
// by the dialog class and that title). Exit 1 when there is no such window.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string utf8(const wchar_t* text) {
    char out[512] = {};
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof out - 1, nullptr, nullptr);
    return out;
}

bool waitFor(HWND hwnd, bool iconic) {
    for (int i = 0; i < 100; ++i) {
        if ((IsIconic(hwnd) != FALSE) == iconic) return true;
        Sleep(50);
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: window_driver info|close|minimize|restore|menu|message\n");
        return 2;
    }
    if (std::strcmp(argv[1], "message") == 0) {
        for (int i = 0; i < 400; ++i) {
            if (HWND box = FindWindowW(L"#32770", L"USB IAP tool")) {
                wchar_t text[1024] = {};
                GetDlgItemTextW(box, 0xFFFF, text, 1023);  // the message box's static text
                std::printf("%s\n", utf8(text).c_str());
                return PostMessageW(box, WM_COMMAND, IDOK, 0) ? 0 : 1;
            }
            Sleep(50);
        }
        std::fprintf(stderr, "window_driver: no message box \"USB IAP tool\"\n");
        return 1;
    }
    HWND hwnd = FindWindowW(L"USB IAP tool", L"USB IAP tool");
    if (!hwnd) {
        std::fprintf(stderr, "window_driver: no window \"USB IAP tool\"\n");
        return 1;
    }
    const std::string cmd = argv[1];
    if (cmd == "info") {
        wchar_t title[256] = {};
        GetWindowTextW(hwnd, title, 255);
        RECT client{}, outer{};
        GetClientRect(hwnd, &client);
        GetWindowRect(hwnd, &outer);
        std::printf("title=%s\nclient=%ldx%ld\nouter=%ldx%ld\nat=%ld,%ld\nstyle=0x%08lX\n", utf8(title).c_str(),
                    client.right - client.left, client.bottom - client.top, outer.right - outer.left,
                    outer.bottom - outer.top, outer.left, outer.top,
                    static_cast<unsigned long>(GetWindowLongW(hwnd, GWL_STYLE) & 0xFFFF0000UL));
        std::printf("iconic=%d\n", IsIconic(hwnd) ? 1 : 0);
        return 0;
    }
    if (cmd == "close") return PostMessageW(hwnd, WM_CLOSE, 0, 0) ? 0 : 1;
    if (cmd == "minimize") {
        ShowWindow(hwnd, SW_MINIMIZE);
        return waitFor(hwnd, true) ? 0 : 1;
    }
    if (cmd == "restore") {
        ShowWindow(hwnd, SW_RESTORE);
        return waitFor(hwnd, false) ? 0 : 1;
    }
    if (cmd == "menu") {
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        const DWORD thread = GetWindowThreadProcessId(hwnd, nullptr);
        if (!GetGUIThreadInfo(thread, &info)) return 1;
        std::printf("menu=%d\n", (info.flags & (GUI_INMENUMODE | 0x0008 /* GUI_SYSMENUMODE */ | GUI_POPUPMENUMODE)) ? 1 : 0);
        return 0;
    }
    std::fprintf(stderr, "window_driver: unknown command %s\n", argv[1]);
    return 2;
}
