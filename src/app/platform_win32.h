// The pieces of the Win32 window that the tests reach one by one: the class,
// style and size of the window, its pixel format and its procedure.
#pragma once

#include <windows.h>

#include <cstdint>

namespace iap {

// Window class name, also the name of the single-instance mutex (UTF-8).
inline constexpr const char* kWin32ClassName = "USB IAP tool";
// Icon group of the executable's resources (src/app/resources_win32.rc).
inline constexpr int kWin32IconId = 101;
// WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX: a resizable
// frame and a minimise box, no maximise box.
inline constexpr DWORD kWin32WindowStyle = 0x00CE0000;

// The outer size of a window of kWin32WindowStyle whose client area is
// clientWidth x clientHeight, from the system's own frame metrics
// (AdjustWindowRectEx).
SIZE win32OuterSize(int clientWidth, int clientHeight);

// Size 40, version 1, PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL |
// PFD_DOUBLEBUFFER (0x25), RGBA, 32 colour bits, nothing else.
PIXELFORMATDESCRIPTOR win32PixelFormat();

// The window procedure after the GUI's handler: WM_CLOSE and WM_DESTROY
// post WM_QUIT; WM_SIZE stores the client size unless minimised; WM_GETICON
// gives icon 101; WM_COMMAND 1 posts WM_QUIT; SC_KEYMENU is swallowed;
// everything else goes to DefWindowProcW.
LRESULT win32WindowProcedure(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, uint32_t* clientWidth,
                             uint32_t* clientHeight);

}  // namespace iap
