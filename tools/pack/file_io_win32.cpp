// The all-or-nothing write on Windows: a new file of a unique name beside the
// target, flushed to disk, then moved over the target in one step.
#include <windows.h>

#include <string>

#include "pack/file_io.h"

namespace iap::pack {

namespace fs = std::filesystem;

namespace {

std::runtime_error winError(const fs::path& path, const std::string& what, DWORD error) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = text ? text : L"";
    if (text) LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
        message.pop_back();
    return std::runtime_error(path.string() + ": " + what + ": " + fs::path(message).string() + " (error " +
                              std::to_string(error) + ")");
}

}  // namespace

void writeFileAtomically(const fs::path& path, const std::vector<std::span<const uint8_t>>& parts, unsigned) {
    // CREATE_NEW on a name of this process and a counter: never someone
    // else's file, and a name left by a crashed run is skipped.
    static unsigned counter = 0;
    HANDLE file = INVALID_HANDLE_VALUE;
    fs::path temp;
    for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
        temp = path;
        temp += L".tmp-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
        file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
    }
    if (file == INVALID_HANDLE_VALUE) throw winError(path, "cannot create a temporary file beside it", GetLastError());
    auto failWith = [&](const char* what) {
        const DWORD error = GetLastError();
        CloseHandle(file);
        DeleteFileW(temp.c_str());
        return winError(path, what, error);
    };
    for (std::span<const uint8_t> part : parts) {
        const uint8_t* data = part.data();
        size_t left = part.size();
        while (left > 0) {
            const DWORD chunk = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
            DWORD written = 0;
            if (!WriteFile(file, data, chunk, &written, nullptr) || written == 0) throw failWith("write failed");
            data += written;
            left -= written;
        }
    }
    if (!FlushFileBuffers(file)) throw failWith("cannot flush to disk");
    if (!CloseHandle(file)) {
        const DWORD error = GetLastError();
        DeleteFileW(temp.c_str());
        throw winError(path, "close failed", error);
    }
    if (!MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = GetLastError();
        DeleteFileW(temp.c_str());
        throw winError(path, "cannot replace", error);
    }
}

}  // namespace iap::pack
