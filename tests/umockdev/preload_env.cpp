#include "preload_env.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace iap::umock {

void setPreloadEnvironment() {
    std::string preload = "libumockdev-preload.so.0";
    if (const char* old = std::getenv("LD_PRELOAD"); old != nullptr && *old != '\0') {
        preload += ":";
        preload += old;
    }
    ::setenv("LD_PRELOAD", preload.c_str(), 1);
    std::string asan = "verify_asan_link_order=0";
    if (const char* old = std::getenv("ASAN_OPTIONS"); old != nullptr && *old != '\0') {
        asan = std::string(old) + ":" + asan;
    }
    ::setenv("ASAN_OPTIONS", asan.c_str(), 1);
}

int reexecWithPreload(char** argv) {
    if (std::getenv("IAP_UMOCK_REEXEC") != nullptr) {
        std::fprintf(stderr, "libumockdev-preload.so.0 did not load (is umockdev installed?)\n");
        return 1;
    }
    ::setenv("IAP_UMOCK_REEXEC", "1", 1);
    setPreloadEnvironment();
    ::execv("/proc/self/exe", argv);
    std::perror("re-exec with libumockdev-preload");
    return 1;
}

void useTestTmpDir() {
    std::string dir;
    if (const char* env = std::getenv("IAP_UMOCKDEV_TMPDIR"); env != nullptr && *env != '\0') {
        dir = env;
    } else {
        // Next to the test binary, in the build folder.
        char exe[4096];
        const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
        if (n <= 0) {
            return;
        }
        dir.assign(exe, static_cast<size_t>(n));
        dir = dir.substr(0, dir.find_last_of('/')) + "/umockdev-tmp";
    }
    ::mkdir(dir.c_str(), 0755);
    ::setenv("TMPDIR", dir.c_str(), 1);
}

}  // namespace iap::umock
