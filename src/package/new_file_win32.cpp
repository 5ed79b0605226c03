// A new file on Windows. File modes mean nothing there: an owner-only file
// gets a protected DACL that grants the current user alone full access (no
// inherited entries), set as the file is created.
#include <windows.h>
#include <sddl.h>

#include <memory>
#include <stdexcept>

#include "package/signing_key.h"

namespace iap {

namespace {

std::runtime_error winError(const std::filesystem::path& path, const std::string& what) {
    return std::runtime_error(path.string() + ": " + what + " (Windows error " + std::to_string(GetLastError()) + ")");
}

// "D:P(A;;FA;;;<SID of the current user>)".
std::wstring ownerOnlyDacl(const std::filesystem::path& path) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) throw winError(path, "cannot read the user");
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::unique_ptr<BYTE[]> buffer(new BYTE[size ? size : 1]);
    const BOOL ok = GetTokenInformation(token, TokenUser, buffer.get(), size, &size);
    CloseHandle(token);
    LPWSTR sid = nullptr;
    if (!ok || !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.get())->User.Sid, &sid)) {
        throw winError(path, "cannot read the user");
    }
    std::wstring dacl = L"D:P(A;;FA;;;" + std::wstring(sid) + L")";
    LocalFree(sid);
    return dacl;
}

}  // namespace

void writeNewFile(const std::filesystem::path& path, const std::string& bytes, bool ownerOnly) {
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
    if (ownerOnly &&
        !ConvertStringSecurityDescriptorToSecurityDescriptorW(ownerOnlyDacl(path).c_str(), SDDL_REVISION_1,
                                                              &attributes.lpSecurityDescriptor, nullptr)) {
        throw winError(path, "cannot make an owner-only access list");
    }
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, ownerOnly ? &attributes : nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (attributes.lpSecurityDescriptor) LocalFree(attributes.lpSecurityDescriptor);
    if (file == INVALID_HANDLE_VALUE) throw winError(path, "cannot create");
    DWORD written = 0;
    const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size() && FlushFileBuffers(file);
    const std::runtime_error error = winError(path, "write failed");
    CloseHandle(file);
    if (!ok) {
        DeleteFileW(path.c_str());
        throw error;
    }
}

}  // namespace iap
