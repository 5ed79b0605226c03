// Windows smoke program: proves that the cross-built third-party libraries
// work together in one static .exe. It opens a window with a WGL context,
// loads the GL entry points through our loader, draws Dear ImGui frames with
// the Win32 and OpenGL3 back-ends (and checks that they drew something),
// logs through spdlog, decodes an image with stb_image, and reports what
// hidapi and libusb make of the machine.
//
//   smoke.exe [--frames N] [--hold-ms MS]
//
// --hold-ms keeps drawing for at least MS milliseconds and says when the
// window is ready for a screenshot. Exit 0 when
// the window, GL, Dear ImGui, spdlog, stb_image and libusb_init work; hidapi
// is reported only, as Wine 8 cannot run its hid_init().
#include <hidapi.h>
#include <imgui.h>
#include <imgui_impl_opengl3.h>
#include <imgui_impl_win32.h>
#include <libusb.h>
#include <spdlog/spdlog.h>
#include <stb_image.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gl_loader.h"
#include "wgl_window.h"
#include "win_gl.h"

extern IMGUI_IMPL_API LRESULT ImGui_ImplWin32_WndProcHandler(HWND, UINT, WPARAM, LPARAM);

namespace {

using iap::win::test::toUtf8;

constexpr int kWidth = 600;
constexpr int kHeight = 400;
constexpr float kClear[3] = {0.10f, 0.20f, 0.30f};

LRESULT CALLBACK windowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (ImGui_ImplWin32_WndProcHandler(hwnd, msg, wparam, lparam)) return 1;
    if (msg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wparam, lparam);
}

void line(const std::string& text) {
    std::fputs((text + "\n").c_str(), stdout);
    std::fflush(stdout);
}

// Pixels of the back buffer that are not the clear colour.
int drawnPixels() {
    std::vector<unsigned char> rgba(static_cast<size_t>(kWidth) * kHeight * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    const int clear[3] = {static_cast<int>(kClear[0] * 255 + 0.5f),
                          static_cast<int>(kClear[1] * 255 + 0.5f),
                          static_cast<int>(kClear[2] * 255 + 0.5f)};
    int drawn = 0;
    for (size_t i = 0; i < rgba.size(); i += 4)
        for (int c = 0; c < 3; ++c)
            if (std::abs(rgba[i + c] - clear[c]) > 2) {
                ++drawn;
                break;
            }
    return drawn;
}

// Returns the pixels drawn in frame number `frames` (read back once: on
// llvmpipe a read-back costs about as much as a frame).
int drawFrames(HWND hwnd, HDC dc, int frames, int holdMs, const std::string& glVersion) {
    const auto start = std::chrono::steady_clock::now();
    int drawn = 0;
    for (int frame = 0;; ++frame) {
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start).count();
        if (frame >= frames && elapsed >= holdMs) break;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        ImGui_ImplOpenGL3_NewFrame();
        ImGui_ImplWin32_NewFrame();
        ImGui::NewFrame();
        ImGui::SetNextWindowPos(ImVec2(20, 20));
        ImGui::SetNextWindowSize(ImVec2(400, 160));
        ImGui::Begin("IAP Windows smoke");
        ImGui::Text("Dear ImGui %s, Win32 + OpenGL3", ImGui::GetVersion());
        ImGui::Text("GL %s", glVersion.c_str());
        ImGui::Text("frame %d", frame);
        ImGui::Button("START", ImVec2(120, 40));
        ImGui::End();
        ImGui::Render();
        RECT client;
        GetClientRect(hwnd, &client);
        glViewport(0, 0, client.right, client.bottom);
        glClearColor(kClear[0], kClear[1], kClear[2], 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
        if (frame == frames - 1) drawn = drawnPixels();
        SwapBuffers(dc);
        if (frame == frames - 1 && holdMs > 0)
            line("smoke: window drawn, screenshot now");  // tests/win/run-wine.sh
        Sleep(16);
    }
    return drawn;
}

// A 2 x 1 24-bit BMP: one red pixel, one green one.
bool decodeWithStb() {
    const unsigned char bmp[] = {
        'B', 'M', 62, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,            // file header
        40, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 1, 0, 24, 0,          // info header
        0, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 255, 0, 255, 0, 0, 0};                                 // BGR BGR pad
    int w = 0, h = 0, n = 0;
    unsigned char* px = stbi_load_from_memory(bmp, sizeof bmp, &w, &h, &n, 4);
    const bool ok = px && w == 2 && h == 1 && px[0] == 255 && px[1] == 0 && px[4] == 0 &&
                    px[5] == 255;
    line(fmt::format("stb_image: {} ({}x{}, {})", ok ? "ok" : "FAILED", w, h,
                     px ? "decoded" : stbi_failure_reason()));
    stbi_image_free(px);
    return ok;
}

// hidapi 0.13 resolves these at hid_init(); names the ones this system lacks.
std::string missingHidapiImports() {
    const struct {
        const wchar_t* dll;
        std::vector<const char*> names;
    } needed[] = {
        {L"hid.dll",
         {"HidD_GetHidGuid", "HidD_GetAttributes", "HidD_GetSerialNumberString",
          "HidD_GetManufacturerString", "HidD_GetProductString", "HidD_SetFeature",
          "HidD_GetFeature", "HidD_GetInputReport", "HidD_GetIndexedString",
          "HidD_GetPreparsedData", "HidD_FreePreparsedData", "HidP_GetCaps",
          "HidD_SetNumInputBuffers"}},
        {L"cfgmgr32.dll",
         {"CM_Locate_DevNodeW", "CM_Get_Parent", "CM_Get_DevNode_PropertyW",
          "CM_Get_Device_Interface_PropertyW", "CM_Get_Device_Interface_List_SizeW",
          "CM_Get_Device_Interface_ListW"}},
    };
    std::string missing;
    for (const auto& dll : needed) {
        HMODULE module = LoadLibraryW(dll.dll);
        for (const char* name : dll.names)
            if (!module || !GetProcAddress(module, name))
                missing += (missing.empty() ? "" : ", ") + toUtf8(dll.dll) + "!" + name;
        if (module) FreeLibrary(module);
    }
    return missing.empty() ? "none" : missing;
}

void reportHidapi() {
    const int rc = hid_init();
    if (rc == 0) {
        line("hid_init: 0");
    } else {
        line(fmt::format("hid_init: {} (\"{}\"); missing: {}", rc, toUtf8(hid_error(nullptr)),
                         missingHidapiImports()));
    }
    hid_device_info* devices = hid_enumerate(0, 0);
    int count = 0;
    for (hid_device_info* d = devices; d; d = d->next) ++count;
    line(fmt::format("hid_enumerate: {} devices{}", count,
                     devices ? "" : fmt::format(" (\"{}\")", toUtf8(hid_error(nullptr)))));
    hid_free_enumeration(devices);
    line(fmt::format("hid_exit: {}", hid_exit()));
}

bool reportLibusb() {
    libusb_context* ctx = nullptr;
    const int rc = libusb_init(&ctx);
    line(fmt::format("libusb_init: {} ({})", rc, libusb_error_name(rc)));
    if (rc != 0) return false;
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(ctx, &list);
    line(fmt::format("libusb_get_device_list: {}{}", count,
                     count < 0 ? fmt::format(" ({})", libusb_error_name(static_cast<int>(count)))
                               : std::string(" devices")));
    if (count >= 0) libusb_free_device_list(list, 1);
    libusb_exit(ctx);
    line("libusb_exit: done");
    return count >= 0;
}

}  // namespace

int main(int argc, char** argv) {
    int frames = 5;  // at least 1
    int holdMs = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--frames") == 0) frames = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--hold-ms") == 0) holdMs = std::atoi(argv[i + 1]);
    }
    if (frames < 1) frames = 1;
    bool ok = true;

    iap::win::test::WglWindow window;
    if (!window.create(L"IAP Windows smoke", kWidth, kHeight, true, windowProc)) {
        line("window: FAILED: " + window.error());
        return 1;
    }
    line(fmt::format("window: ok, client {}x{}", kWidth, kHeight));

    const iap::win::GlLoadReport gl = iap::win::loadGl();
    std::string missing;
    for (const std::string& name : gl.missing) missing += " " + name;
    line(fmt::format("gl loader: {} entry points, {} from wglGetProcAddress, {} from "
                     "opengl32.dll exports, missing:{}",
                     iap::win::glEntryCount(), gl.fromWgl, gl.fromExports,
                     missing.empty() ? " none" : missing));
    if (!gl.ok()) return 1;
    auto glString = [](GLenum name) {
        const GLubyte* s = glGetString(name);
        return s ? std::string(reinterpret_cast<const char*>(s)) : std::string("(null)");
    };
    const std::string glVersion = glString(GL_VERSION);
    line(fmt::format("gl: version \"{}\", renderer \"{}\", vendor \"{}\"", glVersion,
                     glString(GL_RENDERER), glString(GL_VENDOR)));

    IMGUI_CHECKVERSION();
    ImGui::CreateContext();
    ImGui::GetIO().IniFilename = nullptr;
    if (!ImGui_ImplWin32_Init(window.hwnd()) || !ImGui_ImplOpenGL3_Init("#version 130")) {
        line("imgui: FAILED to initialise the back-ends");
        return 1;
    }
    const int drawn = drawFrames(window.hwnd(), window.dc(), frames, holdMs, glVersion);
    line(fmt::format("imgui: {} frames, {} pixels drawn in frame {}", frames, drawn, frames));
    ok = ok && drawn > 1000;
    ImGui_ImplOpenGL3_Shutdown();
    ImGui_ImplWin32_Shutdown();
    ImGui::DestroyContext();
    line("imgui: shut down");
    window.destroy();
    line("window: destroyed");

    spdlog::info("spdlog {}.{}.{} with fmt {} header-only", SPDLOG_VER_MAJOR, SPDLOG_VER_MINOR,
                 SPDLOG_VER_PATCH, FMT_VERSION);
    ok = decodeWithStb() && ok;
    reportHidapi();
    ok = reportLibusb() && ok;
    line(ok ? "smoke: ok" : "smoke: FAILED");
    return ok ? 0 : 1;
}
