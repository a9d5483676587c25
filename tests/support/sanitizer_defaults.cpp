// Linked into every GoogleTest binary. CTest's environment sets these for a
// test run, but not when the build lists a binary's cases (gtest_discover_tests
// runs it bare): under the sanitizers Qt's one-time allocations would then
// count as leaks and fail the build. Unused in a build without them.
extern "C" const char* __asan_default_options();
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }
