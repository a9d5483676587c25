// Cases that skip, for skip_policy_test.sh: never a test of the suite itself.
#include <gtest/gtest.h>

TEST(Probe, ListedSkip) { GTEST_SKIP() << "listed in the probe's list"; }
TEST(Probe, UnlistedSkip) { GTEST_SKIP() << "no pseudo-terminal here"; }
TEST(Probe, ListedWithoutReason) { GTEST_SKIP() << "listed without a reason"; }
TEST(Probe, Passes) { SUCCEED(); }
