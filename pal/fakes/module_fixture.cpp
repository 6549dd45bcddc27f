// SPDX-License-Identifier: MIT
// A library for the module tests to load: exported functions with known results.
#ifdef _WIN32
#define FIXTURE_EXPORT extern "C" __declspec(dllexport)
#else
#define FIXTURE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {
// Starts again at zero each time the library is loaded afresh.
int gCalls = 0;
}  // namespace

FIXTURE_EXPORT int pal_fixture_answer() {
    return 4242;
}

FIXTURE_EXPORT int pal_fixture_count() {
    return ++gCalls;
}
