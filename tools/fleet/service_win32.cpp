#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>

#include "flash/fd_buffer.h"
#include "fleet/utc_time.h"
#include "fleet_cli/service_win32.h"
#include "package/package_loader.h"
#include "package/system_folder.h"
#include "package/tool_version.h"

namespace iap::fleet_cli {
namespace {

namespace fs = std::filesystem;

const wchar_t kServiceName[] = L"usb-iap-fleet-ship";
const wchar_t kDisplayName[] = L"USB IAP tool fleet shipper";
const wchar_t kDescription[] =
    L"Ships the upgrade records of this station's USB IAP tools to the factory's MQTT broker "
    L"(usb-iap-fleet ship, with the options of %ProgramData%\\USB IAP tool\\fleet.conf; its log beside it, "
    L"fleet-ship.log).";
const char kName[] = "usb-iap-fleet-ship";
// A log past this size is kept as fleet-ship.log.old when the service starts.
constexpr std::uintmax_t kLogKept = 1 << 20;

fs::path configFile() { return systemConfigFolder() / L"fleet.conf"; }
fs::path logFile() { return systemConfigFolder() / L"fleet-ship.log"; }

std::string utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                      nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::string utf8(const fs::path& path) { return utf8(path.wstring()); }

std::string systemText(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
        reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring s = n ? std::wstring(text, n) : std::wstring();
    if (text) LocalFree(text);
    while (!s.empty() && (s.back() == L'\n' || s.back() == L'\r' || s.back() == L' ' || s.back() == L'.')) s.pop_back();
    return (s.empty() ? "" : utf8(s) + " ") + "(error " + std::to_string(code) + ")";
}

struct CloseService {
    void operator()(SC_HANDLE h) const { CloseServiceHandle(h); }
};
using ScHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, CloseService>;

// Says why a call of the Service Control Manager failed, with what to do for
// the failures an operator meets.
int failed(CliIo& io, const char* command, const char* what, DWORD code) {
    io.err << "usb-iap-fleet service " << command << ": " << what << ": " << systemText(code) << "\n";
    if (code == ERROR_ACCESS_DENIED) {
        io.err << "usb-iap-fleet service " << command
               << ": run it from an elevated prompt (Command Prompt, Run as administrator)\n";
    }
    return kFailed;
}

// The service's state for the Service Control Manager. The handler's thread
// and the service's own both report.
class Reporter {
public:
    void open(SERVICE_STATUS_HANDLE handle) { handle_ = handle; }
    void report(DWORD state, DWORD waitHint = 0, int exitCode = 0) {
        std::lock_guard lock(mutex_);
        if (status_.dwCurrentState == SERVICE_STOPPED) return;
        status_.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
        status_.dwCurrentState = state;
        status_.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
        status_.dwWin32ExitCode = exitCode == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
        status_.dwServiceSpecificExitCode = static_cast<DWORD>(exitCode);
        status_.dwWaitHint = waitHint;
        status_.dwCheckPoint = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ? ++checkPoint_ : 0;
        SetServiceStatus(handle_, &status_);
    }

private:
    std::mutex mutex_;
    SERVICE_STATUS_HANDLE handle_ = nullptr;
    SERVICE_STATUS status_{};
    DWORD checkPoint_ = 0;
};

struct Service {
    Reporter reporter;
    StopHub stop;
    int code = kOk;
};
Service* g_service = nullptr;

DWORD WINAPI onControl(DWORD control, DWORD, void*, void*) {
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        g_service->reporter.report(SERVICE_STOP_PENDING, 5000);
        g_service->stop.request();  // ship stops within 2 s
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

long writeSome(int fd, const char* data, size_t size) {
    return ::_write(fd, data, static_cast<unsigned>(size));
}

// The log, appended to (text mode: CR LF), as a descriptor; -1 when it
// cannot be opened. A service has no standard output or error: the log
// becomes both (their handles and descriptors 1 and 2), for whatever
// writes there.
int openLog(const fs::path& log) {
    std::error_code ec;
    fs::create_directories(log.parent_path(), ec);
    if (fs::file_size(log, ec) > kLogKept && !ec) {
        fs::path old = log;
        fs::rename(log, old += L".old", ec);
    }
    const HANDLE file = CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_TEXT);
    if (fd < 0) {
        CloseHandle(file);
        return -1;
    }
    SetStdHandle(STD_OUTPUT_HANDLE, file);
    SetStdHandle(STD_ERROR_HANDLE, file);
    _dup2(fd, 1);
    _dup2(fd, 2);
    return fd;
}

// ship with fleet.conf's options until stopped, saying what it does in log;
// its exit code.
int ship(Service& service, std::ostream& log) {
    const fs::path conf = configFile();
    std::error_code ec;
    // Relative paths in fleet.conf (records, password-file) are beside it.
    SetCurrentDirectoryW(conf.parent_path().c_str());
    log << fleet::utcTime() << " " << kName << " " << toolVersion() << ": started, options from " << utf8(conf)
        << "\n";
    if (!fs::is_regular_file(conf, ec)) {
        log << kName << ": no " << utf8(conf)
            << ": write ship's options there, one per line in a [ship] section (broker, site, station, records; "
               "the fleet.conf of the zip is an example)\n";
        return kUsage;
    }
    service.reporter.report(SERVICE_RUNNING);
    CliIo io{log, log, service.stop};
    return runFleetTool({"--config", conf.string(), "ship"}, io);
}

void WINAPI serviceMain(DWORD, LPWSTR*) {
    Service& service = *g_service;
    const SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerExW(kServiceName, &onControl, nullptr);
    if (!handle) return;
    service.reporter.open(handle);
    service.reporter.report(SERVICE_START_PENDING, 3000);
    const int fd = openLog(logFile());
    if (fd < 0) {
        service.code = kFailed;
    } else {
        flash::FdBuffer buffer(fd, &writeSome);
        std::ostream log(&buffer);
        log << std::unitbuf;
        service.code = ship(service, log);
        log << fleet::utcTime() << " " << kName << ": stopped, exit code " << service.code << "\n";
    }
    service.reporter.report(SERVICE_STOPPED, 0, service.code);
}

}  // namespace

int installService(CliIo& io) {
    const fs::path exe = currentExecutablePath();
    if (exe.empty()) return failed(io, "install", "the program's own path", GetLastError());
    const std::wstring command = L"\"" + exe.wstring() + L"\" service run";
    const ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
    if (!manager) return failed(io, "install", "the Service Control Manager", GetLastError());
    // As LocalSystem (no account given), started at boot.
    const ScHandle service(CreateServiceW(manager.get(), kServiceName, kDisplayName, SERVICE_CHANGE_CONFIG | SERVICE_START,
                                          SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                          command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!service) {
        const DWORD code = GetLastError();
        if (code == ERROR_SERVICE_EXISTS || code == ERROR_DUPLICATE_SERVICE_NAME) {
            io.err << "usb-iap-fleet service install: " << kName
                   << " is installed already (usb-iap-fleet service remove first to install it again)\n";
            return kFailed;
        }
        return failed(io, "install", "creating the service", code);
    }
    SERVICE_DESCRIPTIONW description{const_cast<wchar_t*>(kDescription)};
    if (!ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, &description)) {
        io.err << "usb-iap-fleet service install: the description not set: " << systemText(GetLastError()) << "\n";
    }
    // Started again 10 s after it ends with an error (a fleet.conf written
    // late included), then every minute; the count starts over after a day.
    SC_ACTION actions[] = {{SC_ACTION_RESTART, 10000}, {SC_ACTION_RESTART, 60000}, {SC_ACTION_RESTART, 60000}};
    SERVICE_FAILURE_ACTIONSW failure{};
    failure.dwResetPeriod = 24 * 3600;
    failure.cActions = 3;
    failure.lpsaActions = actions;
    SERVICE_FAILURE_ACTIONS_FLAG onError{TRUE};  // an exit code other than 0 is a failure too
    if (!ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS, &failure)) {
        io.err << "usb-iap-fleet service install: the restart on failure not set: " << systemText(GetLastError())
               << "\n";
    } else if (!ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &onError)) {
        io.err << "usb-iap-fleet service install: the restart after an exit code other than 0 not set: "
               << systemText(GetLastError()) << "\n";
    }
    std::error_code ec;
    const fs::path conf = configFile();
    io.out << "installed the service " << kName << " (" << utf8(std::wstring(kDisplayName))
           << "): starts at boot as LocalSystem and runs " << utf8(command) << "\n"
           << "its options: " << utf8(conf) << (fs::is_regular_file(conf, ec) ? "" : " (not there yet: write it first)")
           << "\nits log: " << utf8(logFile()) << "\nstart it now with: net start " << kName << "\n";
    return kOk;
}

int removeService(CliIo& io) {
    const ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return failed(io, "remove", "the Service Control Manager", GetLastError());
    const ScHandle service(OpenServiceW(manager.get(), kServiceName, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
    if (!service) {
        const DWORD code = GetLastError();
        if (code == ERROR_SERVICE_DOES_NOT_EXIST) {
            io.err << "usb-iap-fleet service remove: " << kName << " is not installed\n";
            return kFailed;
        }
        return failed(io, "remove", "opening the service", code);
    }
    SERVICE_STATUS status{};
    if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status) ||
        GetLastError() == ERROR_SERVICE_CANNOT_ACCEPT_CTRL) {
        // ship stops within 2 s; a little more for the process to end.
        for (int i = 0; i < 100 && QueryServiceStatus(service.get(), &status) && status.dwCurrentState != SERVICE_STOPPED;
             ++i) {
            Sleep(100);
        }
        if (status.dwCurrentState == SERVICE_STOPPED) {
            io.out << "stopped the service " << kName << "\n";
        } else {
            io.err << "usb-iap-fleet service remove: " << kName << " has not stopped in 10 s; removed once it does\n";
        }
    } else if (GetLastError() != ERROR_SERVICE_NOT_ACTIVE) {
        return failed(io, "remove", "stopping the service", GetLastError());
    }
    if (!DeleteService(service.get())) {
        const DWORD code = GetLastError();
        if (code != ERROR_SERVICE_MARKED_FOR_DELETE) return failed(io, "remove", "removing the service", code);
    }
    io.out << "removed the service " << kName << "; " << utf8(configFile()) << " and " << utf8(logFile())
           << " stay\n";
    return kOk;
}

int runService(CliIo& io) {
    static Service service;
    g_service = &service;
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<wchar_t*>(kServiceName), &serviceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) {
        const DWORD code = GetLastError();
        if (code == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
            io.err << "usb-iap-fleet service run: only the Service Control Manager starts it (net start " << kName
                   << "); in a console: usb-iap-fleet --config FILE ship\n";
            return kUsage;
        }
        return failed(io, "run", "the service dispatcher", code);
    }
    return service.code;
}

}  // namespace iap::fleet_cli
