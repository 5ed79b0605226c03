// The USB port chain of a Windows HID device (a hidapi path is the path of
// the device's HID interface), from the location paths of the USB node
// above it, through the configuration manager (cfgmgr32.dll). A step the
// system cannot take (Wine 8 models no USB parent: its CM_Get_Parent finds
// none) leaves the port unknown.
#include <windows.h>
// After windows.h, whose types it uses.
#include <cfgmgr32.h>

#include <cwchar>
#include <string>
#include <vector>

#include "bytes/wide_text.h"
#include "link/hid_node.h"
#include "link/usb_location.h"

// cfgmgr32.dll has it since Windows 8; mingw's cfgmgr32.h does not declare it.
extern "C" CONFIGRET WINAPI CM_Get_Device_Interface_PropertyW(LPCWSTR path, const DEVPROPKEY* key,
                                                              DEVPROPTYPE* type, PBYTE buffer, PULONG size,
                                                              ULONG flags);

namespace iap {
namespace {

// devpkey.h's DEVPKEY_Device_InstanceId and DEVPKEY_Device_LocationPaths.
const DEVPROPKEY kInstanceId = {{0x78c34fc8, 0x104a, 0x4aca, {0x9e, 0xa4, 0x52, 0x4d, 0x52, 0x99, 0x6e, 0x57}}, 256};
const DEVPROPKEY kLocationPaths = {{0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 37};

// A string or string-list property through get(type, buffer, size), always
// ending in two NULs; empty when the system has none of that type.
template <typename Get>
std::vector<wchar_t> wideProperty(DEVPROPTYPE wanted, Get get) {
    DEVPROPTYPE type = 0;
    ULONG size = 0;
    if (get(&type, nullptr, &size) != CR_BUFFER_SMALL || type != wanted || size == 0) return {};
    std::vector<wchar_t> text(size / sizeof(wchar_t) + 2, L'\0');
    if (get(&type, reinterpret_cast<PBYTE>(text.data()), &size) != CR_SUCCESS || type != wanted) return {};
    return text;
}

}  // namespace

std::string hidNodePortChain(const std::string& path) {
    const std::wstring interfacePath = wideFromUtf8(path);
    std::vector<wchar_t> instanceId = wideProperty(DEVPROP_TYPE_STRING, [&](DEVPROPTYPE* t, PBYTE b, PULONG s) {
        return CM_Get_Device_Interface_PropertyW(interfacePath.c_str(), &kInstanceId, t, b, s, 0);
    });
    DEVINST hid = 0, usb = 0;
    if (instanceId.empty() || CM_Locate_DevNodeW(&hid, instanceId.data(), CM_LOCATE_DEVNODE_NORMAL) != CR_SUCCESS ||
        CM_Get_Parent(&usb, hid, 0) != CR_SUCCESS) {
        return {};
    }
    // The parent is the USB device, or the interface of a composite device,
    // whose paths are its device's with "#USBMI(n)" added.
    const std::vector<wchar_t> list = wideProperty(DEVPROP_TYPE_STRING_LIST, [&](DEVPROPTYPE* t, PBYTE b, PULONG s) {
        return CM_Get_DevNode_PropertyW(usb, &kLocationPaths, t, b, s, 0);
    });
    std::vector<std::string> paths;
    for (size_t at = 0; at < list.size() && list[at] != L'\0'; at += std::wcslen(&list[at]) + 1) {
        paths.push_back(utf8FromWide(&list[at]));
    }
    return portChainFromLocationPaths(paths);
}

}  // namespace iap
