// One testbed for the whole test binary (umockdev allows one per process);
// each test plugs its own devices and the fixture unplugs them afterwards.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "testbed.h"

namespace iap::umock {

Testbed& testbed();

class TestbedTest : public ::testing::Test {
protected:
    FakeHidraw& plug(const UsbHidIdentity& identity, Responder responder) {
        FakeHidraw& node = testbed().plug(identity, std::move(responder));
        plugged_.push_back(&node);
        return node;
    }
    void TearDown() override {
        for (FakeHidraw* node : plugged_) {
            testbed().unplug(*node);
        }
    }

private:
    std::vector<FakeHidraw*> plugged_;
};

}  // namespace iap::umock
