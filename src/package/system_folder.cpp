#include "package/system_folder.h"

#ifdef _WIN32
#include <shlobj.h>
#include <windows.h>

#include <cstdlib>
#endif

namespace iap {

std::filesystem::path systemConfigFolder() {
#ifdef _WIN32
    // The known folder first: a service under Wine has %ProgramData% pointing
    // elsewhere (C:\users\Public).
    std::filesystem::path data;
    wchar_t* known = nullptr;
    if (SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &known) == S_OK) data = known;
    CoTaskMemFree(known);
    if (data.empty()) {
        const wchar_t* env = _wgetenv(L"ProgramData");
        data = env && *env ? env : L"C:\\ProgramData";
    }
    return data / L"USB IAP tool";
#else
    return "/etc/usb-iap-tools";
#endif
}

}  // namespace iap
