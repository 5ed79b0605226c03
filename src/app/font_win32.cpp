// The GUI font on Windows: the system's SimHei file.
#include <windows.h>

#include <imgui.h>

#include "app/font.h"

namespace iap {

ImFont* addToolFont(ImFontAtlas& atlas) {
    // Dear ImGui stops on a file it cannot read (an assertion in a debug
    // build), so a missing file is found out here first.
    const DWORD attributes = GetFileAttributesW(L"c:\\Windows\\Fonts\\simhei.ttf");
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return nullptr;
    return atlas.AddFontFromFileTTF(kWin32FontFile, 36.0f, nullptr, toolGlyphRanges());
}

}  // namespace iap
