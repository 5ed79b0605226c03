#include "shared_testbed.h"

namespace iap::umock {

Testbed& testbed() {
    static Testbed bed;
    return bed;
}

}  // namespace iap::umock
