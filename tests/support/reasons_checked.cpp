// Linked into every test binary: at the end of the run, no failure that
// the product passed on (passed()) may have gone without a reason, so that
// each fault sweep of the suite checks the reasons of the failures it makes.
#include <gtest/gtest.h>

#include "platform/fault.h"

namespace {

class ReasonsChecked : public testing::Environment {
public:
    void TearDown() override
    {
        EXPECT_EQ(fault_reasonless(), 0) << "a failure passed on without a reason, last at "
                                         << fault_reasonless_where();
    }
};

testing::Environment *const checked = testing::AddGlobalTestEnvironment(new ReasonsChecked);

}  // namespace
