// The lock is process-local: no lock is ever shared between processes. A
// thread's liveness is tracked by a token that lives in thread-local storage
// and whose destructor runs when the thread ends, so a lock whose owner
// ended without releasing it can be taken over.
#include "foundation/QuorCriticalSections.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "foundation/QuorUtil.h"

namespace {
struct TThreadToken {
  std::shared_ptr<std::atomic<bool>> alive = std::make_shared<std::atomic<bool>>(true);
  uint32_t id = static_cast<uint32_t>(::syscall(SYS_gettid));
  ~TThreadToken() { alive->store(false); }
};

TThreadToken &CurrentThreadToken() {
  thread_local TThreadToken token;
  return token;
}
}  // namespace

// ---- TAbstractCriticalSection --------------------------------------------

void TAbstractCriticalSection::Enter() { Acquire(); }
void TAbstractCriticalSection::Leave() { Release(); }

// ---- TMutexCriticalSection -----------------------------------------------

struct TMutexCriticalSection::Impl {
  std::mutex mutex;  // guards the fields below
  std::condition_variable freed;
  // Diagnostic name of the underlying lock; renewed when a dead owner's lock
  // is abandoned, so that a stale holder could never be confused with the new.
  std::string lockName;
  uint32_t ownerId = 0;
  std::shared_ptr<std::atomic<bool>> ownerAlive;  // the "owner handle"; null when none
  int32_t depth = 0;

  // True while the owner may still release the lock. With no owner recorded
  // nothing is changed; with a dead owner the lock is renewed and left free.
  bool OwnerRunning(const std::string &name) {
    if (!ownerAlive) return false;
    if (ownerAlive->load()) return true;
    lockName = RandomText(20) + " " + name;
    ownerId = 0;
    ownerAlive.reset();
    depth = 0;
    freed.notify_all();
    return false;
  }

  // By token rather than by id: the kernel reuses the id of a thread that
  // ended, and its successor must not inherit a lock it never took.
  bool OwnedBy(const TThreadToken &me) const { return ownerAlive && ownerAlive == me.alive; }

  void TakeFor(TThreadToken &me) {
    ++depth;
    ownerId = me.id;
    ownerAlive = me.alive;
  }
};

TMutexCriticalSection::TMutexCriticalSection(std::string name)
    : TAbstractCriticalSection(std::move(name)), FImpl(std::make_unique<Impl>()) {
  FImpl->lockName = RandomText(10) + " " + FName;
}

TMutexCriticalSection::~TMutexCriticalSection() = default;

void TMutexCriticalSection::Enter() { Acquire(); }
void TMutexCriticalSection::Leave() { Release(); }

bool TMutexCriticalSection::TryEnter() {
  TThreadToken &me = CurrentThreadToken();
  std::lock_guard<std::mutex> lock(FImpl->mutex);
  if (FImpl->depth == 0 || FImpl->OwnedBy(me)) {
    FImpl->TakeFor(me);
    return true;
  }
  FImpl->OwnerRunning(FName);
  return false;
}

void TMutexCriticalSection::Acquire() {
  TThreadToken &me = CurrentThreadToken();
  std::unique_lock<std::mutex> lock(FImpl->mutex);
  for (;;) {
    int32_t waitMs = FTimeOut > 0 ? FTimeOut : 0;
    // Threads other than the main one stagger their waits so that two of
    // them that collide do not time out and retry in step.
    if (!IsMainThread() && FTimeOut > 0) waitMs += RandomBelow(FTimeOut);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    const bool got = FImpl->freed.wait_until(
        lock, deadline, [&] { return FImpl->depth == 0 || FImpl->OwnedBy(me); });
    if (got) {
      FImpl->TakeFor(me);
      return;
    }
    const std::string message = "Timed out waiting on critial section " + FName +
                                " Owned by Thread " + std::to_string(FImpl->ownerId);
    if (FImpl->OwnerRunning(FName)) throw ECriticalSectionException(message);
    // The owner died holding the lock, which is now renewed: wait again.
  }
}

void TMutexCriticalSection::Release() {
  TThreadToken &me = CurrentThreadToken();
  std::lock_guard<std::mutex> lock(FImpl->mutex);
  // Only the owner may release; a stray Leave must not free a lock that
  // another thread holds.
  if (FImpl->depth == 0 || !FImpl->OwnedBy(me)) return;
  if (--FImpl->depth == 0) {
    FImpl->ownerId = 0;
    FImpl->ownerAlive.reset();
    FImpl->freed.notify_all();
  }
}

bool TMutexCriticalSection::IsOwned() const {
  std::lock_guard<std::mutex> lock(FImpl->mutex);
  return FImpl->depth > 0;
}

uint32_t TMutexCriticalSection::OwnerThreadId() const {
  std::lock_guard<std::mutex> lock(FImpl->mutex);
  return FImpl->ownerId;
}

int32_t TMutexCriticalSection::Depth() const {
  std::lock_guard<std::mutex> lock(FImpl->mutex);
  return FImpl->depth;
}
