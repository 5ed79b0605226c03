/* A test fixture, never installed, shipped or linked into a product file:
 * cfgmgr32.dll for the device tests under Wine 8 (win/README.md).
 *
 * Wine 8's cfgmgr32 lacks CM_Get_Device_Interface_PropertyW and has stubs
 * for CM_Get_Device_Interface_List_SizeW, CM_Get_Device_Interface_ListW and
 * CM_Locate_DevNodeW, which hidapi's Windows back-end resolves in hid_init.
 * This DLL gives the four, as hidapi 0.13 calls them, on top of Wine's
 * SetupAPI; every other export is forwarded to setupapi as in the builtin
 * (cfgmgr32.def, tests/win/CMakeLists.txt).
 *
 * Wine's SetupAPI keeps device nodes in one table without a lock, and hidapi
 * is called from several threads (usb-iap-flash): every SetupAPI call here,
 * and CM_Get_DevNode_PropertyW, runs under one lock. */
#define CMAPI __declspec(dllexport) /* the functions defined here */
#include <initguid.h>
#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>
#include <devpkey.h>
#include <hidclass.h>

#include <wchar.h>

static SRWLOCK lock = SRWLOCK_INIT;
/* Every device node handed out: a node stays valid while its set lives. */
static HDEVINFO located = INVALID_HANDLE_VALUE;

/* Calls visit(set, interface path, device, context) for each HID interface
 * (present ones with DIGCF_PRESENT in flags), under the lock, until it
 * returns TRUE. */
typedef BOOL (*Visit)(HDEVINFO, const WCHAR*, SP_DEVINFO_DATA*, void*);
static void forEachInterface(DWORD flags, Visit visit, void* context) {
    AcquireSRWLockExclusive(&lock);
    HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVINTERFACE_HID, NULL, NULL, DIGCF_DEVICEINTERFACE | flags);
    SP_DEVICE_INTERFACE_DATA iface = {sizeof iface};
    struct {
        SP_DEVICE_INTERFACE_DETAIL_DATA_W head;
        WCHAR rest[1024];
    } detail;
    BOOL done = set == INVALID_HANDLE_VALUE;
    for (DWORD i = 0; !done && SetupDiEnumDeviceInterfaces(set, NULL, &GUID_DEVINTERFACE_HID, i, &iface); ++i) {
        SP_DEVINFO_DATA device = {sizeof device};
        detail.head.cbSize = sizeof detail.head;
        if (SetupDiGetDeviceInterfaceDetailW(set, &iface, &detail.head, sizeof detail, NULL, &device)) {
            done = visit(set, detail.head.DevicePath, &device, context);
        }
    }
    if (set != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(set);
    ReleaseSRWLockExclusive(&lock);
}

/* A multi-string written into buffer while it fits; used counts on past it. */
typedef struct {
    WCHAR* buffer;
    ULONG length, used;
} List;

static BOOL addPath(HDEVINFO set, const WCHAR* path, SP_DEVINFO_DATA* device, void* context) {
    (void)set;
    (void)device;
    List* list = context;
    const ULONG n = (ULONG)wcslen(path) + 1;
    if (list->used + n < list->length) memcpy(list->buffer + list->used, path, n * sizeof(WCHAR));
    list->used += n;
    return FALSE;
}

/* The present HID interfaces into buffer; the length the list takes, its
 * final NUL included. */
static ULONG hidInterfaces(WCHAR* buffer, ULONG length) {
    List list = {buffer, length, 0};
    forEachInterface(DIGCF_PRESENT, addPath, &list);
    if (list.used < length) buffer[list.used] = 0;
    return list.used + 1;
}

/* hidapi asks for every present interface of the HID class. */
CONFIGRET WINAPI CM_Get_Device_Interface_List_SizeW(PULONG length, LPGUID cls, DEVINSTID_W deviceId, ULONG flags) {
    if (!IsEqualGUID(cls, &GUID_DEVINTERFACE_HID) || deviceId || flags) return CR_CALL_NOT_IMPLEMENTED;
    *length = hidInterfaces(NULL, 0);
    return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Get_Device_Interface_ListW(LPGUID cls, DEVINSTID_W deviceId, PWCHAR buffer, ULONG length,
                                               ULONG flags) {
    if (!IsEqualGUID(cls, &GUID_DEVINTERFACE_HID) || deviceId || flags) return CR_CALL_NOT_IMPLEMENTED;
    if (hidInterfaces(buffer, length) <= length) return CR_SUCCESS;
    buffer[0] = 0;
    return CR_BUFFER_SMALL;
}

typedef struct {
    const WCHAR* path;
    WCHAR id[MAX_DEVICE_ID_LEN];
    BOOL found;
} IdQuery;

static BOOL findPath(HDEVINFO set, const WCHAR* path, SP_DEVINFO_DATA* device, void* context) {
    IdQuery* q = context;
    if (_wcsicmp(path, q->path)) return FALSE;
    q->found = SetupDiGetDeviceInstanceIdW(set, device, q->id, MAX_DEVICE_ID_LEN, NULL);
    return TRUE;
}

/* The device's instance ID, the one property hidapi asks of an interface. */
__declspec(dllexport) CONFIGRET WINAPI CM_Get_Device_Interface_PropertyW(const WCHAR* path, const DEVPROPKEY* key,
                                                                        DEVPROPTYPE* type, BYTE* buffer,
                                                                        ULONG* size, ULONG flags) {
    if (memcmp(key, &DEVPKEY_Device_InstanceId, sizeof *key) || flags) return CR_CALL_NOT_IMPLEMENTED;
    IdQuery q = {path, {0}, FALSE};
    forEachInterface(0, findPath, &q);
    if (!q.found) return CR_NO_SUCH_DEVICE_INTERFACE;
    const ULONG needed = (ULONG)(wcslen(q.id) + 1) * sizeof(WCHAR);
    const BOOL fits = buffer && *size >= needed;
    if (fits) memcpy(buffer, q.id, needed);
    *type = DEVPROP_TYPE_STRING;
    *size = needed;
    return fits ? CR_SUCCESS : CR_BUFFER_SMALL;
}

CONFIGRET WINAPI CM_Locate_DevNodeW(PDEVINST node, DEVINSTID_W deviceId, ULONG flags) {
    if (!deviceId || flags) return CR_CALL_NOT_IMPLEMENTED;
    SP_DEVINFO_DATA device = {sizeof device};
    AcquireSRWLockExclusive(&lock);
    if (located == INVALID_HANDLE_VALUE) located = SetupDiCreateDeviceInfoList(NULL, NULL);
    const BOOL found = located != INVALID_HANDLE_VALUE && SetupDiOpenDeviceInfoW(located, deviceId, NULL, 0, &device);
    ReleaseSRWLockExclusive(&lock);
    *node = found ? device.DevInst : 0;
    return found ? CR_SUCCESS : CR_NO_SUCH_DEVNODE;
}

/* setupapi's own, under the lock. */
CONFIGRET WINAPI CM_Get_DevNode_PropertyW(DEVINST node, const DEVPROPKEY* key, DEVPROPTYPE* type, PBYTE buffer,
                                          PULONG size, ULONG flags) {
    typedef CONFIGRET(WINAPI * Get)(DEVINST, const DEVPROPKEY*, DEVPROPTYPE*, PBYTE, PULONG, ULONG);
    AcquireSRWLockExclusive(&lock);
    static Get get;
    if (!get) get = (Get)(void (*)(void))GetProcAddress(GetModuleHandleW(L"setupapi.dll"), "CM_Get_DevNode_PropertyW");
    const CONFIGRET cr = get ? get(node, key, type, buffer, size, flags) : CR_NO_SUCH_VALUE;
    ReleaseSRWLockExclusive(&lock);
    return cr;
}
