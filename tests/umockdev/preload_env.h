// Environment for processes that run inside a umockdev testbed.
#pragma once

namespace iap::umock {

// Puts libumockdev-preload first in LD_PRELOAD and adds
// verify_asan_link_order=0 to ASAN_OPTIONS (the preload library then comes
// before the sanitizer runtime).
void setPreloadEnvironment();

// Starts this program again with setPreloadEnvironment(). Returns only on
// failure: when the exec fails, or when this process already is such a
// second start and the library still did not load (no endless re-exec).
int reexecWithPreload(char** argv);

// Points TMPDIR at $IAP_UMOCKDEV_TMPDIR, or else at umockdev-tmp next to the
// running binary (creating it), so that testbed folders left by a crash stay
// in the build folder.
void useTestTmpDir();

}  // namespace iap::umock
