// The Windows pieces of the tool under Wine: the Win32 window (class, style,
// size, procedure, pump, pixel format, GL), the executable's resources, the
// report descriptor made from the HID parser's caps, and the generator's
// all-or-nothing write.
#include <windows.h>

extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/platform.h"
#include "app/platform_win32.h"
#include "link/descriptor.h"
#include "link/hid_caps_descriptor.h"
#include "pack/file_io.h"
#include "package/gl_api.h"
#include "package/package_loader.h"
#include "sim/sim_bootloader.h"

namespace iap {
namespace {

namespace fs = std::filesystem;

// --- the window ---------------------------------------------------------------

int appMessages = 0;
WNDPROC toolProcedure = nullptr;
LRESULT CALLBACK countingProcedure(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
    if (msg == WM_APP) ++appMessages;
    return CallWindowProcW(toolProcedure, hwnd, msg, w, l);
}

HWND toolWindow() { return FindWindowW(L"USB IAP tool", L"USB IAP tool"); }

TEST(Win32Window, ClassStyleSizeProcedureAndPump) {
    std::unique_ptr<Platform> platform = makeWindowPlatform(SW_SHOWNORMAL);
    ASSERT_TRUE(platform->initWindowSystem());
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    ASSERT_TRUE(GetClassInfoExW(GetModuleHandleW(nullptr), L"USB IAP tool", &wc));
    EXPECT_EQ(wc.style, static_cast<UINT>(CS_HREDRAW | CS_VREDRAW));
    EXPECT_NE(wc.hIcon, nullptr);  // icon 101 of this program's resources
    EXPECT_NE(wc.hIconSm, nullptr);
    EXPECT_EQ(wc.hCursor, LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)));
    EXPECT_EQ(wc.hbrBackground, nullptr);
    EXPECT_EQ(wc.lpszMenuName, nullptr);
    EXPECT_EQ(wc.cbClsExtra, 0);
    EXPECT_EQ(wc.cbWndExtra, 0);

    WindowSpec spec{"USB IAP tool", 600, 400, 100, 50};
    ASSERT_TRUE(platform->createWindow(spec));
    HWND hwnd = toolWindow();
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(GetWindowLongW(hwnd, GWL_STYLE) & 0x00CF0000L, 0x00CE0000L);
    EXPECT_EQ(GetWindowLongW(hwnd, GWL_EXSTYLE) & ~WS_EX_WINDOWEDGE, 0L);
    RECT outer{}, client{};
    GetWindowRect(hwnd, &outer);
    GetClientRect(hwnd, &client);
    EXPECT_EQ(outer.left, 100);
    EXPECT_EQ(outer.top, 50);
    EXPECT_EQ(client.right, 600);
    EXPECT_EQ(client.bottom, 400);
    EXPECT_EQ(platform->clientWidth(), 600u);
    EXPECT_EQ(platform->clientHeight(), 400u);

    // The pixel format and the GL context, with our loader's entry points.
    ASSERT_TRUE(platform->makeContextCurrent());
    HDC dc = wglGetCurrentDC();
    ASSERT_NE(dc, nullptr);
    PIXELFORMATDESCRIPTOR pfd{};
    ASSERT_GT(DescribePixelFormat(dc, GetPixelFormat(dc), sizeof pfd, &pfd), 0);
    EXPECT_EQ(pfd.dwFlags & 0x25u, 0x25u);
    EXPECT_EQ(pfd.iPixelType, PFD_TYPE_RGBA);
    EXPECT_GE(pfd.cColorBits, 24);
    ASSERT_NE(glGetString, nullptr);
    EXPECT_NE(glGetString(GL_VERSION), nullptr);
    ASSERT_NE(glBindFramebuffer, nullptr);

    // Minimised: the last size stays; restored at another size: taken.
    SendMessageW(hwnd, WM_SIZE, SIZE_MINIMIZED, 0);
    EXPECT_EQ(platform->clientWidth(), 600u);
    EXPECT_EQ(platform->clientHeight(), 400u);
    SendMessageW(hwnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(500, 300));
    EXPECT_EQ(platform->clientWidth(), 500u);
    EXPECT_EQ(platform->clientHeight(), 300u);

    EXPECT_NE(SendMessageW(hwnd, WM_GETICON, ICON_BIG, 0), 0);
    // Alt: swallowed, no menu loop (which would not return here until closed).
    EXPECT_EQ(SendMessageW(hwnd, WM_SYSCOMMAND, SC_KEYMENU, 0), 0);
    EXPECT_EQ(SendMessageW(hwnd, WM_SYSCOMMAND, SC_KEYMENU | 0x000F, VK_MENU), 0);
    EXPECT_TRUE(platform->pumpMessages());

    toolProcedure = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&countingProcedure)));
    // WM_CLOSE: a quit message, the window stays; the pump still dispatches
    // the rest of its batch before it reports the quit.
    EXPECT_EQ(SendMessageW(hwnd, WM_CLOSE, 0, 0), 0);
    EXPECT_TRUE(IsWindow(hwnd));
    PostMessageW(hwnd, WM_APP, 0, 0);
    PostMessageW(hwnd, WM_APP, 0, 0);
    appMessages = 0;
    EXPECT_FALSE(platform->pumpMessages());
    EXPECT_EQ(appMessages, 2);
    EXPECT_TRUE(platform->pumpMessages());

    // Command 1 quits too; another command does not.
    SendMessageW(hwnd, WM_COMMAND, 2, 0);
    EXPECT_TRUE(platform->pumpMessages());
    SendMessageW(hwnd, WM_COMMAND, 1, 0);
    EXPECT_FALSE(platform->pumpMessages());

    platform->destroyWindow();
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(wglGetCurrentContext(), nullptr);
    platform->releaseWindowSystem();
    EXPECT_FALSE(GetClassInfoExW(GetModuleHandleW(nullptr), L"USB IAP tool", &wc));
}

TEST(Win32Window, TheWallClockPacesInMicroseconds) {
    std::unique_ptr<Platform> platform = makeWindowPlatform(SW_HIDE);
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    const int64_t ticks = (static_cast<int64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    const int64_t micros = platform->pacingClock()();
    EXPECT_NEAR(static_cast<double>(micros), static_cast<double>(ticks / 10), 2e6);
}

// --- resources ------------------------------------------------------------------

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
struct GroupIconDir {
    WORD reserved, type, count;
    GroupIconEntry entries[1];
};
#pragma pack(pop)

TEST(Resources, IconGroup101HoldsTenImagesOf32BitsAndTheManifestAsksForNoMore) {
    HMODULE self = GetModuleHandleW(nullptr);
    HRSRC group = FindResourceW(self, MAKEINTRESOURCEW(101), MAKEINTRESOURCEW(14));  // RT_GROUP_ICON
    ASSERT_NE(group, nullptr);
    const auto* dir = static_cast<const GroupIconDir*>(LockResource(LoadResource(self, group)));
    ASSERT_NE(dir, nullptr);
    ASSERT_EQ(dir->count, 10);
    std::vector<int> sizes;
    for (int i = 0; i < dir->count; ++i) {
        const GroupIconEntry& e = dir->entries[i];
        sizes.push_back(e.width == 0 ? 256 : e.width);
        EXPECT_EQ(e.bitCount, 32);
        HICON icon = CreateIconFromResourceEx(
            static_cast<PBYTE>(LockResource(LoadResource(self, FindResourceW(self, MAKEINTRESOURCEW(e.id), MAKEINTRESOURCEW(3))))),
            e.bytes, TRUE, 0x00030000, 0, 0, LR_DEFAULTCOLOR);
        EXPECT_NE(icon, nullptr) << sizes.back();
        ICONINFO info{};
        if (icon && GetIconInfo(icon, &info)) {
            BITMAP bm{};
            GetObjectW(info.hbmColor, sizeof bm, &bm);
            EXPECT_EQ(bm.bmWidth, sizes.back());
            DeleteObject(info.hbmColor);
            DeleteObject(info.hbmMask);
        }
        if (icon) DestroyIcon(icon);
    }
    EXPECT_EQ(sizes, (std::vector<int>{16, 24, 32, 48, 64, 72, 80, 96, 128, 256}));

    HRSRC manifest = FindResourceW(self, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // RT_MANIFEST
    ASSERT_NE(manifest, nullptr);
    std::string text(static_cast<const char*>(LockResource(LoadResource(self, manifest))), SizeofResource(self, manifest));
    EXPECT_NE(text.find("level=\"asInvoker\""), std::string::npos);
    EXPECT_NE(text.find(">True/PM</dpiAware>"), std::string::npos);
}

TEST(Resources, TheExecutablePathIsTheModulesOwnWidePath) {
    wchar_t buffer[MAX_PATH];
    GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    const fs::path path = currentExecutablePath();
    EXPECT_EQ(path, fs::path(buffer));
    EXPECT_TRUE(path.is_absolute());
    EXPECT_TRUE(fs::exists(path));
}

// --- the report descriptor from the HID parser's caps -----------------------------

// The parser's output, as the driver kit declares it (hidpddi.h).
struct HIDP_COLLECTION_DESC {
    USAGE UsagePage;
    USAGE Usage;
    UCHAR CollectionNumber;
    UCHAR Reserved[15];
    USHORT InputLength;
    USHORT OutputLength;
    USHORT FeatureLength;
    USHORT PreparsedDataLength;
    PHIDP_PREPARSED_DATA PreparsedData;
};
struct HIDP_REPORT_IDS {
    UCHAR ReportID;
    UCHAR CollectionNumber;
    USHORT InputLength;
    USHORT OutputLength;
    USHORT FeatureLength;
};
struct HIDP_DEVICE_DESC {
    HIDP_COLLECTION_DESC* CollectionDesc;
    ULONG CollectionDescLength;
    HIDP_REPORT_IDS* ReportIDs;
    ULONG ReportIDsLength;
    ULONG Dbg[8];
};

// Wine's kernel-side HID parser (hidparse.sys) turns a report descriptor into
// the parsed form that hid.dll reads; it loads into a user process.
struct Parser {
    HMODULE module = load();
    static HMODULE load() {
        wchar_t dir[MAX_PATH] = {};
        GetSystemDirectoryW(dir, MAX_PATH);
        return LoadLibraryW((std::wstring(dir) + L"\\drivers\\hidparse.sys").c_str());
    }
    using Get = NTSTATUS(WINAPI*)(void*, ULONG, int, HIDP_DEVICE_DESC*);
    using Free = void(WINAPI*)(HIDP_DEVICE_DESC*);
    Get get = module ? reinterpret_cast<Get>(reinterpret_cast<void*>(GetProcAddress(module, "HidP_GetCollectionDescription"))) : nullptr;
    Free release = module ? reinterpret_cast<Free>(reinterpret_cast<void*>(GetProcAddress(module, "HidP_FreeCollectionDescription"))) : nullptr;
};

bool chosenBy(const DescriptorFacts& f, uint8_t reportId) {
    return f.hasReportId && f.hasUsagePage && f.usagePage == 0xFF00 && f.reportId == reportId;
}

std::vector<uint8_t> corpusFile(const char* name) {
    std::ifstream in(fs::path(IAP_SOURCE_DIR) / "tests/fuzz/corpus/fuzz_link_descriptor" / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(HidCapsDescriptor, DiscoveryReadsFromItWhatItReadsFromTheDevicesOwnDescriptor) {
    Parser parser;
    if (!parser.get || !parser.release) GTEST_SKIP() << "no hidparse.sys to parse with";
    struct Case {
        const char* what;
        std::vector<uint8_t> descriptor;
    };
    std::vector<uint8_t> keyboard = corpusFile("keyboard-and-long-item.bin");
    keyboard.resize(std::min<size_t>(keyboard.size(), 45));
    ASSERT_EQ(keyboard.back(), 0xC0);  // End Collection
    // The usual 63-byte vendor report first, then a report of eight buttons
    // under another ID: the parser lists buttons before values.
    std::vector<uint8_t> valuesThenButtons = sim::vendorDescriptor(0x01);
    valuesThenButtons.insert(valuesThenButtons.end() - 1, {
        0x85, 0x02, 0x05, 0x09, 0x19, 0x01, 0x29, 0x08,  // Report ID 2, Usage Page (Button), Usages 1-8
        0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02,  // Logical Max 1, 8 x 1 bit, Input (Data, Var, Abs)
    });
    const std::vector<Case> cases = {
        {"vendor report 0x01, then buttons under 0x02", valuesThenButtons},
        {"vendor, report 0x01", sim::vendorDescriptor(0x01)},
        {"vendor, report 0x3C", sim::vendorDescriptor(0x3C)},
        {"vendor, report 0xFE", sim::vendorDescriptor(0xFE)},
        {"vendor-01.bin", corpusFile("vendor-01.bin")},
        {"vendor-3c.bin", corpusFile("vendor-3c.bin")},
        // Its keyboard collection (report 0x02, usage page 0x0001 by a
        // one-byte item): the parser refuses the long item that follows.
        {"keyboard of keyboard-and-long-item.bin", keyboard},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_FALSE(c.descriptor.empty());
        HIDP_DEVICE_DESC desc{};
        std::vector<uint8_t> copy = c.descriptor;
        const NTSTATUS status = parser.get(copy.data(), static_cast<ULONG>(copy.size()), 0, &desc);
        ASSERT_GE(status, 0) << std::hex << status;
        ASSERT_GE(desc.CollectionDescLength, 1u);
        HidCapsSummary caps;
        ASSERT_TRUE(capsSummaryOf(desc.CollectionDesc[0].PreparsedData, caps));
        parser.release(&desc);

        const std::vector<uint8_t> made = descriptorFromCaps(caps);
        const DescriptorFacts real = walkReportDescriptor(c.descriptor.data(), c.descriptor.size());
        const DescriptorFacts fromCaps = walkReportDescriptor(made.data(), made.size());
        EXPECT_EQ(fromCaps.hasReportId, real.hasReportId);
        if (real.hasReportId) {
            EXPECT_EQ(fromCaps.reportId, real.reportId);
        }
        for (int id = 0; id < 256; ++id)
            ASSERT_EQ(chosenBy(fromCaps, static_cast<uint8_t>(id)), chosenBy(real, static_cast<uint8_t>(id))) << id;
    }
    // A device that numbers no reports (report ID 0 in every field): no
    // Report ID item, so discovery does not take it, as on Linux.
    const std::vector<uint8_t> unnumbered = descriptorFromCaps({0xFF00, 1, {0, 0}});
    EXPECT_FALSE(walkReportDescriptor(unnumbered.data(), unnumbered.size()).hasReportId);
}

// --- the generator's all-or-nothing write ------------------------------------------

std::string readText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(AtomicWrite, ReplacesWholeOrLeavesTheOldFileAndNoTemporaryFile) {
    const fs::path dir = fs::temp_directory_path() / (L"iap-write-\u56fa\u4ef6-" + std::to_wstring(GetCurrentProcessId()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path target = dir / L"\u5de5\u5177.exe";
    const std::string a = "first", b(300000, 'b');
    auto bytes = [](const std::string& s) { return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(s.data()), s.size()); };
    pack::writeFileAtomically(target, {bytes(a)}, 0755);
    EXPECT_EQ(readText(target), a);
    pack::writeFileAtomically(target, {bytes(b), bytes(a)}, 0755);
    EXPECT_EQ(readText(target), b + a);

    // Held open without delete sharing: the move over it fails.
    HANDLE held = CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_THROW(pack::writeFileAtomically(target, {bytes(a)}, 0755), std::runtime_error);
    CloseHandle(held);
    EXPECT_EQ(readText(target), b + a);
    // Into a folder that is not there.
    EXPECT_THROW(pack::writeFileAtomically(dir / "none" / "x.exe", {bytes(a)}, 0755), std::runtime_error);

    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(dir)) left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{target.filename().string()});
    fs::remove_all(dir);
}

}  // namespace
}  // namespace iap
