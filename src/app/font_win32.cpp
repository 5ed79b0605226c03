// The GUI font on Windows: SimHei from the system's Fonts folder; where it
// is missing (a Windows without its Chinese fonts), the first font of those
// every Windows installs, at the same size.
#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <imgui.h>

#include "app/font.h"
#include "bytes/wide_text.h"

namespace iap {
namespace {

// The Fonts folder as the system names it; the shared Windows folder's
// "Fonts" where the shell does not answer (GetSystemWindowsDirectoryW, not
// GetWindowsDirectoryW, which is a private folder per user on a terminal
// server).
std::wstring fontsFolder() {
    std::wstring folder;
    PWSTR known = nullptr;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Fonts, 0, nullptr, &known)) && known) folder = known;
    CoTaskMemFree(known);
    if (!folder.empty()) return folder;
    wchar_t windows[MAX_PATH] = {};
    const UINT n = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(windows) + L"\\Fonts" : L"C:\\Windows\\Fonts";
}

bool isFile(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

ImFont* addToolFont(ImFontAtlas& atlas, std::string* file) {
    const std::wstring folder = fontsFolder();
    for (const wchar_t* name : kWin32FontFiles) {
        const std::wstring path = folder + L"\\" + name;
        // Dear ImGui stops on a file it cannot read (an assertion in a debug
        // build), so a missing file is found out here first.
        if (!isFile(path)) continue;
        const std::string utf8 = utf8FromWide(path);  // Dear ImGui opens it with _wfopen
        ImFont* font = atlas.AddFontFromFileTTF(utf8.c_str(), kToolFontPixels, nullptr, toolGlyphRanges());
        if (!font) continue;
        if (file) *file = utf8;
        return font;
    }
    return nullptr;
}

}  // namespace iap
