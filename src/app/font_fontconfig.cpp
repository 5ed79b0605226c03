// The GUI font on Linux: fontconfig's match for SimHei.
#include <fontconfig/fontconfig.h>
#include <imgui.h>
#include <unistd.h>

#include "app/font.h"

namespace iap {

std::optional<FontFile> matchFont(const char* pattern) {
    if (!FcInit()) return std::nullopt;
    FcPattern* pat = FcNameParse(reinterpret_cast<const FcChar8*>(pattern));
    if (!pat) {
        FcFini();
        return std::nullopt;
    }
    FcConfigSubstitute(nullptr, pat, FcMatchPattern);
    FcDefaultSubstitute(pat);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pat, &result);
    FcPatternDestroy(pat);
    if (!match) {
        FcFini();
        return std::nullopt;
    }

    std::optional<FontFile> found;
    FcChar8* file = nullptr;
    int index = 0;
    if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file) {
        if (FcPatternGetInteger(match, FC_INDEX, 0, &index) != FcResultMatch) index = 0;
        std::string path = reinterpret_cast<const char*>(file);
        if (::access(path.c_str(), R_OK) == 0) found = FontFile{path, index};
    }
    FcPatternDestroy(match);
    // Nothing else in the tool uses fontconfig: release its configuration
    // and caches (tens of kilobytes) now.
    FcFini();
    return found;
}

ImFont* addToolFont(ImFontAtlas& atlas, std::string* path) {
    std::optional<FontFile> file = matchFont("SimHei:lang=zh-cn");
    if (!file) return nullptr;
    ImFontConfig config;
    config.FontNo = file->faceIndex;
    ImFont* font = atlas.AddFontFromFileTTF(file->path.c_str(), kToolFontPixels, &config, toolGlyphRanges());
    if (font && path) *path = file->path;
    return font;
}

}  // namespace iap
