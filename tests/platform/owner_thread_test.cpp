#include "platform/owner_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace qs::platform {
namespace {

TEST(OwnerThread, FailedStartUpEndsTheThread) {
  OwnerThread owner;
  EXPECT_FALSE(owner.Start([] { return false; }));
}

// Jobs touch state without a lock of their own: only running them one after another on the
// owner thread keeps this free of races (ThreadSanitizer checks that).
TEST(OwnerThread, JobsFromManyThreadsRunOneAfterAnotherOnTheOwner) {
  constexpr int kCallers = 4;
  constexpr int kJobsEach = 200;
  OwnerThread owner;
  std::thread::id owner_id;
  int after_each = 0;
  ASSERT_TRUE(owner.Start(
      [&] {
        owner_id = std::this_thread::get_id();
        return true;
      },
      [&] { ++after_each; }));

  int counter = 0;
  std::atomic<int> foreign{0};
  std::vector<std::thread> callers;
  for (int t = 0; t < kCallers; ++t) {
    callers.emplace_back([&] {
      for (int i = 0; i < kJobsEach; ++i) {
        const int seen = owner.Run([&] {
          if (std::this_thread::get_id() != owner_id) ++foreign;
          return ++counter;
        });
        EXPECT_GT(seen, 0);
      }
    });
  }
  for (auto& c : callers) c.join();
  EXPECT_EQ(owner.Run([&] { return counter; }), kCallers * kJobsEach);
  EXPECT_EQ(foreign.load(), 0);
  EXPECT_EQ(owner.Run([&] { return after_each; }), kCallers * kJobsEach + 1);
}

TEST(OwnerThread, AJobThatRunsAnotherDoesNotWaitForItself) {
  OwnerThread owner;
  ASSERT_TRUE(owner.Start([] { return true; }));
  EXPECT_EQ(owner.Run([&] { return owner.Run([] { return 7; }) + 1; }), 8);
}

}  // namespace
}  // namespace qs::platform
