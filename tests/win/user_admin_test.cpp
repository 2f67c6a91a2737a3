#include "app/user_admin.h"

#include <gtest/gtest.h>

namespace {

// Wine's token lists the Administrators group, as does an elevated token on Windows.
TEST(IsUserAdmin, IsTrueForAnElevatedToken) { EXPECT_TRUE(IsUserAdmin()); }

}  // namespace
