// The USB port chain of a Windows HID device (a hidapi path is the path of
// the device's HID interface), from the location paths of the USB node
// above it: SetupAPI finds the device of the interface, the configuration
// manager (cfgmgr32.dll) its parent and the parent's location paths; every
// call is there since Windows Vista. A step the system cannot take leaves
// the port unknown: Wine 8's SetupDiOpenDeviceInterfaceW and CM_Get_Parent
// are stubs (Wine models no USB parent).
#include <windows.h>
// After windows.h, whose types they use.
#include <cfgmgr32.h>
#include <setupapi.h>

#include <cwchar>
#include <string>
#include <vector>

#include "bytes/wide_text.h"
#include "link/hid_node.h"
#include "link/usb_location.h"

namespace iap {
namespace {

// devpkey.h's DEVPKEY_Device_LocationPaths.
const DEVPROPKEY kLocationPaths = {{0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 37};

// The device node of an interface path; false when the system cannot tell.
// The node stays valid while the set lives.
bool deviceOfInterface(HDEVINFO set, const std::wstring& path, DEVINST& node) {
    SP_DEVICE_INTERFACE_DATA iface{};
    iface.cbSize = sizeof iface;
    if (!SetupDiOpenDeviceInterfaceW(set, path.c_str(), 0, &iface)) return false;
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailW(set, &iface, nullptr, 0, &size, nullptr);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) return false;
    std::vector<DWORD> buffer(size / sizeof(DWORD) + 1);  // aligned as the structure wants
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
    detail->cbSize = sizeof *detail;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    if (!SetupDiGetDeviceInterfaceDetailW(set, &iface, detail, size, nullptr, &device)) return false;
    node = device.DevInst;
    return true;
}

// The location paths of a device node; empty when it has none.
std::vector<std::string> locationPaths(DEVINST node) {
    DEVPROPTYPE type = 0;
    ULONG size = 0;
    if (CM_Get_DevNode_PropertyW(node, &kLocationPaths, &type, nullptr, &size, 0) != CR_BUFFER_SMALL ||
        type != DEVPROP_TYPE_STRING_LIST || size == 0) {
        return {};
    }
    // Two NULs more than asked for: the list ends within the buffer whatever the system wrote.
    std::vector<wchar_t> list(size / sizeof(wchar_t) + 2, L'\0');
    if (CM_Get_DevNode_PropertyW(node, &kLocationPaths, &type, reinterpret_cast<PBYTE>(list.data()), &size, 0) !=
            CR_SUCCESS ||
        type != DEVPROP_TYPE_STRING_LIST) {
        return {};
    }
    std::vector<std::string> paths;
    for (size_t at = 0; at < list.size() && list[at] != L'\0'; at += std::wcslen(&list[at]) + 1) {
        paths.push_back(utf8FromWide(&list[at]));
    }
    return paths;
}

}  // namespace

std::string hidNodePortChain(const std::string& path) {
    const HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    if (set == INVALID_HANDLE_VALUE) return {};
    DEVINST hid = 0, usb = 0;
    std::string chain;
    // The parent is the USB device, or the interface of a composite device,
    // whose paths are its device's with "#USBMI(n)" added.
    if (deviceOfInterface(set, wideFromUtf8(path), hid) && CM_Get_Parent(&usb, hid, 0) == CR_SUCCESS) {
        chain = portChainFromLocationPaths(locationPaths(usb));
    }
    SetupDiDestroyDeviceInfoList(set);
    return chain;
}

}  // namespace iap
