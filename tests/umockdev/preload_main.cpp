// main() of the umockdev test binaries. umockdev only works with its preload
// library loaded before everything else, so a binary started without it
// starts itself again with LD_PRELOAD set (what umockdev-wrapper does); the
// listing of tests at build time needs no testbed and skips that.
//
// Also: temporary testbeds go under $IAP_UMOCKDEV_TMPDIR (the build folder,
// so that a crashed run leaves nothing in /tmp), AddressSanitizer is told not
// to insist on coming first, and SIGHUP is ignored, since hidapi opens the
// PTY-backed node without O_NOCTTY and a session leader would take it as
// its controlling terminal and be hung up with it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "preload_env.h"
#include "testbed.h"

int main(int argc, char** argv) {
    bool listing = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--gtest_list_tests") == 0) {
            listing = true;
        }
    }
    if (!listing && !iap::umock::Testbed::preloadActive()) {
        return iap::umock::reexecWithPreload(argv);
    }
    iap::umock::useTestTmpDir();
    std::signal(SIGHUP, SIG_IGN);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
