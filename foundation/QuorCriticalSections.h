#pragma once
// Named re-entrant lock with a time-out and recovery from an owner thread
// that died while holding it.
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

class ECriticalSectionException : public std::runtime_error {
 public:
  explicit ECriticalSectionException(const std::string &message) : std::runtime_error(message) {}
};

class TAbstractCriticalSection {
 public:
  explicit TAbstractCriticalSection(std::string name) : FName(std::move(name)) {}
  virtual ~TAbstractCriticalSection() = default;
  virtual void Enter();
  virtual void Leave();
  // Takes the lock only when that needs no wait; false otherwise. Each kind
  // of lock says how it tries, since a try that fell back on a waiting
  // acquire would hold up a caller that polls to avoid exactly that wait.
  virtual bool TryEnter() = 0;

  const std::string &Name() const { return FName; }
  int32_t TimeOut() const { return FTimeOut; }
  void SetTimeOut(int32_t ms) { FTimeOut = ms; }

 protected:
  virtual void Acquire() = 0;
  virtual void Release() = 0;
  std::string FName;
  int32_t FTimeOut = 2000;
};

class TMutexCriticalSection : public TAbstractCriticalSection {
 public:
  explicit TMutexCriticalSection(std::string name);
  ~TMutexCriticalSection() override;
  TMutexCriticalSection(const TMutexCriticalSection &) = delete;
  TMutexCriticalSection &operator=(const TMutexCriticalSection &) = delete;

  void Enter() override;
  void Leave() override;
  bool TryEnter() override;
  bool IsOwned() const;
  // Kernel id of the owning thread, 0 when free; nesting depth of the owner.
  uint32_t OwnerThreadId() const;
  int32_t Depth() const;

 protected:
  void Acquire() override;
  void Release() override;

 private:
  struct Impl;
  std::unique_ptr<Impl> FImpl;
};

// Enter on construction, Leave on destruction.
class TCriticalSectionGuard {
 public:
  explicit TCriticalSectionGuard(TAbstractCriticalSection &cs) : FCs(cs) { FCs.Enter(); }
  ~TCriticalSectionGuard() { FCs.Leave(); }
  TCriticalSectionGuard(const TCriticalSectionGuard &) = delete;
  TCriticalSectionGuard &operator=(const TCriticalSectionGuard &) = delete;

 private:
  TAbstractCriticalSection &FCs;
};
