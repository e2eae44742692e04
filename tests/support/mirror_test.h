#pragma once
#include "core/text.h"
#include "support/mirror_env.h"

#include <gtest/gtest.h>

namespace Orv::Support {

// A test that talks to the test mirrors: English messages, and the fault server without rules and
// with an empty request log, before and after.
class MirrorTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(MirrorRoot().empty());
        turkishBefore = IsTurkish();
        SetTurkish(false);
        ClearFaultRules();
        ClearFaultRequests();
    }
    void TearDown() override {
        ClearFaultRules();
        SetTurkish(turkishBefore);
    }

private:
    bool turkishBefore = false;
};

} // namespace Orv::Support
