#include "app/instance_lock.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "app/temp_folder.h"

namespace tarnwick {
namespace {

TEST(InstanceLock, SecondHolderIsTurnedAwayUntilTheFirstLetsGo) {
    testing::TempFolder temp;
    const std::string path = temp / "Tarnwick.lock";
    InstanceLock first;
    ASSERT_EQ(first.Acquire(path), InstanceLock::Result::Acquired);
    EXPECT_TRUE(first.Held());
    {
        InstanceLock second;
        EXPECT_EQ(second.Acquire(path), InstanceLock::Result::HeldByOther);
        EXPECT_FALSE(second.Held());
    }
    first.Release();
    InstanceLock third;
    EXPECT_EQ(third.Acquire(path), InstanceLock::Result::Acquired);
}

TEST(InstanceLock, FolderThatDoesNotExistMakesItUnavailable) {
    testing::TempFolder temp;
    InstanceLock lock;
    EXPECT_EQ(lock.Acquire(temp / "missing/Tarnwick.lock"), InstanceLock::Result::Unavailable);
    EXPECT_NE(lock.Problem().find("missing"), std::string::npos);
}

TEST(InstanceLock, PlaceFollowsTheRuntimeFolder) {
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string keep = saved ? saved : "";
    ::setenv("XDG_RUNTIME_DIR", "/run/user/1234", 1);
    EXPECT_EQ(InstanceLock::DefaultPath(), "/run/user/1234/Tarnwick.lock");
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(InstanceLock::DefaultPath(), "/tmp/Tarnwick-" + std::to_string(::getuid()) + ".lock");
    if (saved) ::setenv("XDG_RUNTIME_DIR", keep.c_str(), 1);
}

}  // namespace
}  // namespace tarnwick
