// The running executable's file on Windows: the module file name of the
// process, as a wide path. argv[0] is whatever the starter passed (a bare
// name found through PATH, a relative name, or text in the ANSI code page
// that cannot hold the folder's name), so it is used only when this fails.
#include <windows.h>

#include <string>

#include "package/package_loader.h"

namespace iap {

std::filesystem::path currentExecutablePath() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        // A full buffer means the name was cut: try again with more room.
        if (n < buffer.size()) {
            buffer.resize(n);
            return std::filesystem::path(buffer);
        }
        if (buffer.size() >= 32768) return {};
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace iap
