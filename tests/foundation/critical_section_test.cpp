#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "foundation/QuorCriticalSections.h"

namespace {
using Clock = std::chrono::steady_clock;
constexpr int kTimeOutMs = 100;

long ElapsedMs(Clock::time_point since) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

TEST(MutexCriticalSection, NestedEnterAndLeaveLeaveItFreeForOthers) {
  TMutexCriticalSection cs("Nested_CS");
  cs.SetTimeOut(kTimeOutMs);
  cs.Enter();
  EXPECT_TRUE(cs.TryEnter());
  cs.Enter();
  EXPECT_EQ(cs.Depth(), 3);
  cs.Leave();
  cs.Leave();
  EXPECT_TRUE(cs.IsOwned()) << "one Leave short must still hold it";
  cs.Leave();
  EXPECT_FALSE(cs.IsOwned());
  EXPECT_EQ(cs.OwnerThreadId(), 0u);

  bool other = false;
  std::thread([&] {
    other = cs.TryEnter();
    if (other) cs.Leave();
  }).join();
  EXPECT_TRUE(other);
}

TEST(MutexCriticalSection, StrayLeaveFromAnotherThreadDoesNotFreeIt) {
  TMutexCriticalSection cs("Stray_CS");
  cs.SetTimeOut(kTimeOutMs);
  cs.Enter();
  std::thread([&] { cs.Leave(); }).join();
  EXPECT_EQ(cs.Depth(), 1);
  bool other = true;
  std::thread([&] { other = cs.TryEnter(); }).join();
  EXPECT_FALSE(other);
  cs.Leave();
}

TEST(MutexCriticalSection, LiveOwnerMakesWaiterTimeOutWithOwnerInMessage) {
  TMutexCriticalSection cs("Busy_CS");
  cs.SetTimeOut(kTimeOutMs);
  std::atomic<bool> held{false}, release{false};
  std::atomic<uint32_t> ownerTid{0};
  std::thread owner([&] {
    cs.Enter();
    ownerTid = cs.OwnerThreadId();
    held = true;
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    cs.Leave();
  });
  while (!held) std::this_thread::sleep_for(std::chrono::milliseconds(1));

  std::string message;
  long elapsed = -1;
  std::thread waiter([&] {
    auto start = Clock::now();
    try {
      cs.Enter();
      cs.Leave();
    } catch (const ECriticalSectionException &e) {
      message = e.what();
    }
    elapsed = ElapsedMs(start);
  });
  waiter.join();
  release = true;
  owner.join();

  EXPECT_EQ(message, "Timed out waiting on critial section Busy_CS Owned by Thread " +
                         std::to_string(ownerTid.load()));
  EXPECT_GE(elapsed, kTimeOutMs);
  // Upper bound generous for a loaded machine; the point is that it does not
  // keep waiting round after round.
  EXPECT_LT(elapsed, 2 * kTimeOutMs + 400);
  EXPECT_FALSE(cs.IsOwned());
}

TEST(MutexCriticalSection, OwnerThatEndedWhileHoldingIsTakenOverWithFreshDepth) {
  TMutexCriticalSection cs("Orphan_CS");
  cs.SetTimeOut(kTimeOutMs);
  std::thread([&] {
    cs.Enter();
    cs.Enter();  // ends holding it twice
  }).join();
  EXPECT_EQ(cs.Depth(), 2);

  auto start = Clock::now();
  EXPECT_NO_THROW(cs.Enter());
  EXPECT_GE(ElapsedMs(start), kTimeOutMs);
  EXPECT_EQ(cs.Depth(), 1);
  cs.Leave();
  EXPECT_FALSE(cs.IsOwned());
}

TEST(MutexCriticalSection, TryEnterAgainstDeadOwnerRenewsTheLock) {
  TMutexCriticalSection cs("OrphanTry_CS");
  std::thread([&] { cs.Enter(); }).join();
  EXPECT_FALSE(cs.TryEnter()) << "the first try only finds the owner gone";
  EXPECT_FALSE(cs.IsOwned());
  EXPECT_TRUE(cs.TryEnter());
  EXPECT_EQ(cs.Depth(), 1);
  cs.Leave();
}

TEST(MutexCriticalSection, GuardsCountersAcrossThreads) {
  TMutexCriticalSection cs("Counter_CS");
  long counter = 0;
  auto work = [&] {
    for (int i = 0; i < 20000; ++i) {
      TCriticalSectionGuard guard(cs);
      TCriticalSectionGuard nested(cs);
      ++counter;
    }
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(counter, 40000);
  EXPECT_FALSE(cs.IsOwned());
}
}  // namespace
