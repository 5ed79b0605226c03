/* A test fixture, never installed, shipped or linked into a product file:
 * cfgmgr32.dll for the device tests under Wine 8 (win/README.md).
 *
 * hidapi's Windows back-end resolves six cfgmgr32 functions in hid_init.
 * Wine 8's cfgmgr32 does not export CM_Get_Device_Interface_PropertyW, and
 * its CM_Get_Device_Interface_ListW, CM_Get_Device_Interface_List_SizeW and
 * CM_Locate_DevNodeW are stubs. This DLL gives those four on top of Wine's
 * SetupAPI; every other export of Wine's builtin cfgmgr32 is forwarded to
 * setupapi, as the builtin itself does (cfgmgr32.def is made from the
 * builtin's export table at configure time). The tests load it from the
 * program's folder with WINEDLLOVERRIDES=cfgmgr32=n,b.
 *
 * Wine's SetupAPI keeps device nodes in one table without a lock, and hidapi
 * is called from several threads (usb-iap-flash): every SetupAPI call here,
 * and CM_Get_DevNode_PropertyW, runs under one lock. */
#include <windows.h>
#include <setupapi.h>
#include <devpropdef.h>

#include <wchar.h>

typedef DWORD CONFIGRET;
#define CR_SUCCESS 0x00
#define CR_OUT_OF_MEMORY 0x02
#define CR_INVALID_POINTER 0x03
#define CR_NO_SUCH_DEVNODE 0x0D
#define CR_BUFFER_SMALL 0x1A
#define CR_NO_SUCH_VALUE 0x25
#define CR_NO_SUCH_DEVICE_INTERFACE 0x37
#define CM_GET_DEVICE_INTERFACE_LIST_ALL_DEVICES 0x01
#define MAX_DEVICE_ID_LEN 200

/* DEVPKEY_Device_InstanceId */
static const DEVPROPKEY kInstanceId = {
    {0x78c34fc8, 0x104a, 0x4aca, {0x9e, 0xa4, 0x52, 0x4d, 0x52, 0x99, 0x6e, 0x57}}, 256};

static CRITICAL_SECTION lock;
/* Every device node handed out: a node stays valid while its set lives. */
static HDEVINFO located = INVALID_HANDLE_VALUE;

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) InitializeCriticalSection(&lock);
    return TRUE;
}

/* A growing multi-string. */
typedef struct {
    WCHAR* text;
    ULONG used, size;
} Strings;

static BOOL append(Strings* s, const WCHAR* item) {
    const ULONG n = (ULONG)wcslen(item) + 1;
    if (s->used + n + 1 > s->size) {
        const ULONG size = (s->used + n + 1) * 2;
        WCHAR* text = s->text ? HeapReAlloc(GetProcessHeap(), 0, s->text, size * sizeof(WCHAR))
                              : HeapAlloc(GetProcessHeap(), 0, size * sizeof(WCHAR));
        if (!text) return FALSE;
        s->text = text;
        s->size = size;
    }
    memcpy(s->text + s->used, item, n * sizeof(WCHAR));
    s->used += n;
    return TRUE;
}

/* Calls visit(set, interface path, device, context) for each interface of
 * class cls (present ones unless all), until it returns TRUE. */
typedef BOOL (*Visit)(HDEVINFO, const WCHAR*, SP_DEVINFO_DATA*, void*);
static void forEachInterface(const GUID* cls, BOOL all, Visit visit, void* context) {
    HDEVINFO set = SetupDiGetClassDevsW(cls, NULL, NULL, DIGCF_DEVICEINTERFACE | (all ? 0 : DIGCF_PRESENT));
    if (set == INVALID_HANDLE_VALUE) return;
    SP_DEVICE_INTERFACE_DATA iface = {sizeof iface};
    BOOL done = FALSE;
    for (DWORD i = 0; !done && SetupDiEnumDeviceInterfaces(set, NULL, cls, i, &iface); ++i) {
        DWORD size = 0;
        SetupDiGetDeviceInterfaceDetailW(set, &iface, NULL, 0, &size, NULL);
        SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail = HeapAlloc(GetProcessHeap(), 0, size);
        if (!detail) break;
        detail->cbSize = sizeof *detail;
        SP_DEVINFO_DATA device = {sizeof device};
        if (SetupDiGetDeviceInterfaceDetailW(set, &iface, detail, size, NULL, &device)) {
            done = visit(set, detail->DevicePath, &device, context);
        }
        HeapFree(GetProcessHeap(), 0, detail);
    }
    SetupDiDestroyDeviceInfoList(set);
}

typedef struct {
    const WCHAR* deviceId; /* NULL: every device */
    Strings list;
    BOOL failed;
} ListQuery;

static BOOL addPath(HDEVINFO set, const WCHAR* path, SP_DEVINFO_DATA* device, void* context) {
    ListQuery* q = context;
    if (q->deviceId) {
        WCHAR id[MAX_DEVICE_ID_LEN];
        if (!SetupDiGetDeviceInstanceIdW(set, device, id, MAX_DEVICE_ID_LEN, NULL) || _wcsicmp(id, q->deviceId)) {
            return FALSE;
        }
    }
    q->failed = !append(&q->list, path);
    return q->failed;
}

/* The list as one multi-string in q->list (an empty list is one NUL). */
static CONFIGRET interfaceList(const GUID* cls, const WCHAR* deviceId, ULONG flags, ListQuery* q) {
    if (!cls) return CR_INVALID_POINTER;
    q->deviceId = deviceId;
    EnterCriticalSection(&lock);
    forEachInterface(cls, (flags & CM_GET_DEVICE_INTERFACE_LIST_ALL_DEVICES) != 0, addPath, q);
    LeaveCriticalSection(&lock);
    if (q->failed || !append(&q->list, L"")) return CR_OUT_OF_MEMORY;
    q->list.used -= 1; /* the empty item is the list's end */
    return CR_SUCCESS;
}

__declspec(dllexport) CONFIGRET WINAPI CM_Get_Device_Interface_List_SizeW(ULONG* length, GUID* cls,
                                                                         WCHAR* deviceId, ULONG flags) {
    if (!length) return CR_INVALID_POINTER;
    ListQuery q = {0};
    const CONFIGRET cr = interfaceList(cls, deviceId, flags, &q);
    *length = cr == CR_SUCCESS ? q.list.used + 1 : 0;
    HeapFree(GetProcessHeap(), 0, q.list.text);
    return cr;
}

__declspec(dllexport) CONFIGRET WINAPI CM_Get_Device_Interface_ListW(GUID* cls, WCHAR* deviceId, WCHAR* buffer,
                                                                    ULONG length, ULONG flags) {
    if (!buffer || length == 0) return CR_INVALID_POINTER;
    ListQuery q = {0};
    CONFIGRET cr = interfaceList(cls, deviceId, flags, &q);
    if (cr == CR_SUCCESS) {
        if (q.list.used + 1 > length) {
            buffer[0] = 0;
            cr = CR_BUFFER_SMALL;
        } else {
            memcpy(buffer, q.list.text, q.list.used * sizeof(WCHAR));
            buffer[q.list.used] = 0;
        }
    }
    HeapFree(GetProcessHeap(), 0, q.list.text);
    return cr;
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

/* The interface class GUID at the end of a path: "...#{4d1e55b2-...}". */
static BOOL classOfPath(const WCHAR* path, GUID* cls) {
    const WCHAR* brace = wcsrchr(path, L'{');
    unsigned long d1;
    unsigned d2, d3, b[8];
    if (!brace || swscanf(brace, L"{%8lx-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}", &d1, &d2, &d3, &b[0], &b[1],
                          &b[2], &b[3], &b[4], &b[5], &b[6], &b[7]) != 11) {
        return FALSE;
    }
    cls->Data1 = d1;
    cls->Data2 = (USHORT)d2;
    cls->Data3 = (USHORT)d3;
    for (int i = 0; i < 8; ++i) cls->Data4[i] = (UCHAR)b[i];
    return TRUE;
}

/* Only the device's instance ID, the one property hidapi asks of an
 * interface. */
__declspec(dllexport) CONFIGRET WINAPI CM_Get_Device_Interface_PropertyW(const WCHAR* path, const DEVPROPKEY* key,
                                                                        DEVPROPTYPE* type, BYTE* buffer,
                                                                        ULONG* size, ULONG flags) {
    (void)flags;
    if (!path || !key || !type || !size) return CR_INVALID_POINTER;
    if (memcmp(key, &kInstanceId, sizeof kInstanceId) != 0) return CR_NO_SUCH_VALUE;
    GUID cls;
    if (!classOfPath(path, &cls)) return CR_NO_SUCH_DEVICE_INTERFACE;
    IdQuery q = {path, {0}, FALSE};
    EnterCriticalSection(&lock);
    forEachInterface(&cls, TRUE, findPath, &q);
    LeaveCriticalSection(&lock);
    if (!q.found) return CR_NO_SUCH_DEVICE_INTERFACE;
    const ULONG needed = (ULONG)(wcslen(q.id) + 1) * sizeof(WCHAR);
    *type = DEVPROP_TYPE_STRING;
    if (!buffer || *size < needed) {
        *size = needed;
        return CR_BUFFER_SMALL;
    }
    memcpy(buffer, q.id, needed);
    *size = needed;
    return CR_SUCCESS;
}

__declspec(dllexport) CONFIGRET WINAPI CM_Locate_DevNodeW(DWORD* node, WCHAR* deviceId, ULONG flags) {
    (void)flags;
    if (!node) return CR_INVALID_POINTER;
    *node = 0;
    if (!deviceId) return CR_NO_SUCH_DEVNODE;  /* the root node: not needed by the tests */
    CONFIGRET cr = CR_NO_SUCH_DEVNODE;
    EnterCriticalSection(&lock);
    if (located == INVALID_HANDLE_VALUE) located = SetupDiCreateDeviceInfoList(NULL, NULL);
    SP_DEVINFO_DATA device = {sizeof device};
    if (located != INVALID_HANDLE_VALUE && SetupDiOpenDeviceInfoW(located, deviceId, NULL, 0, &device)) {
        *node = device.DevInst;
        cr = CR_SUCCESS;
    }
    LeaveCriticalSection(&lock);
    return cr;
}

/* setupapi's own, under the lock. */
__declspec(dllexport) CONFIGRET WINAPI CM_Get_DevNode_PropertyW(DWORD node, const DEVPROPKEY* key, DEVPROPTYPE* type,
                                                               BYTE* buffer, ULONG* size, ULONG flags) {
    typedef CONFIGRET(WINAPI * Get)(DWORD, const DEVPROPKEY*, DEVPROPTYPE*, BYTE*, ULONG*, ULONG);
    static Get get;
    if (!get) get = (Get)(void (*)(void))GetProcAddress(GetModuleHandleW(L"setupapi.dll"), "CM_Get_DevNode_PropertyW");
    if (!get) return CR_NO_SUCH_VALUE;
    EnterCriticalSection(&lock);
    const CONFIGRET cr = get(node, key, type, buffer, size, flags);
    LeaveCriticalSection(&lock);
    return cr;
}
