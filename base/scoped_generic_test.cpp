// SPDX-License-Identifier: MIT
#include "base/scoped_generic.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/scoped_fd.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// Records every value it frees, so a test sees each one freed exactly once.
std::vector<int> freed;

struct RecordingTraits {
    static int invalidValue() { return 0; }
    static void free(int value) { freed.push_back(value); }
};
using Scoped = mb::ScopedGeneric<int, RecordingTraits>;

class ScopedGenericTest : public ::testing::Test {
  protected:
    void SetUp() override { freed.clear(); }
};

TEST_F(ScopedGenericTest, FreesOnceWhenItGoesAndNeverTheInvalidValue) {
    { Scoped empty; EXPECT_FALSE(empty); }
    EXPECT_TRUE(freed.empty());
    { Scoped held(7); EXPECT_TRUE(held); EXPECT_EQ(held.get(), 7); }
    EXPECT_EQ(freed, std::vector<int>{7});
}

TEST_F(ScopedGenericTest, ResetFreesTheOldValueAndReleaseFreesNothing) {
    Scoped held(1);
    held.reset(2);
    EXPECT_EQ(freed, std::vector<int>{1});
    EXPECT_EQ(held.release(), 2);
    EXPECT_FALSE(held);
    held.reset();
    EXPECT_EQ(freed, std::vector<int>{1});
}

TEST_F(ScopedGenericTest, MovingHandsOverOwnership) {
    Scoped a(3);
    Scoped b(std::move(a));
    EXPECT_FALSE(a);  // NOLINT(bugprone-use-after-move): the moved-from state is the point
    EXPECT_EQ(b.get(), 3);
    Scoped c(4);
    c = std::move(b);
    EXPECT_EQ(freed, std::vector<int>{4});
    EXPECT_EQ(c.get(), 3);
    c = std::move(c);
    EXPECT_EQ(c.get(), 3);
    EXPECT_EQ(freed, std::vector<int>{4});
}

#if !defined(_WIN32)
TEST(ScopedFd, ClosesTheDescriptor) {
    int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    { mb::ScopedFd owned(fd); }
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1);
    EXPECT_EQ(errno, EBADF);
}
#endif

}  // namespace
