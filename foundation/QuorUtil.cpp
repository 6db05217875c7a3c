#include "foundation/QuorUtil.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>
#include <thread>

#include "BuildConfig.h"

// ---- Version -------------------------------------------------------------

std::string GetVersionText() {
  std::string s = "v" + std::to_string(BRELVANE_VERSION_MAJOR) + "." +
                  std::to_string(BRELVANE_VERSION_MINOR) + "." +
                  std::to_string(BRELVANE_VERSION_PATCH) + "." +
                  std::to_string(BRELVANE_VERSION_TWEAK + 0);
  if (BRELVANE_VERSION_MAJOR == 0) s += " Beta";
  return s;
}

// ---- Wildcard search -----------------------------------------------------

int WildcardPos(std::string_view pattern, std::string_view text) {
  if (pattern.empty() || pattern.size() > text.size()) return 0;
  const size_t last = text.size() - pattern.size();
  for (size_t i = 0; i <= last; ++i) {
    size_t j = 0;
    while (j < pattern.size() &&
           (pattern[j] == '?' || UpCaseChar(pattern[j]) == UpCaseChar(text[i + j])))
      ++j;
    if (j == pattern.size()) return static_cast<int>(i) + 1;
  }
  return 0;
}

// ---- Random text ---------------------------------------------------------

namespace {
std::mt19937_64 &ThreadRng() {
  // Each thread seeds its own engine so that lock names made at the same
  // moment on two threads still differ.
  thread_local std::mt19937_64 rng{[] {
    std::random_device rd;
    std::seed_seq seq{rd(), rd(), rd(), rd()};
    return std::mt19937_64(seq);
  }()};
  return rng;
}
}  // namespace

std::string RandomText(int count) {
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::uniform_int_distribution<int> pick(0, static_cast<int>(sizeof(kChars)) - 2);
  std::string s;
  if (count <= 0) return s;
  s.reserve(static_cast<size_t>(count));
  auto &rng = ThreadRng();
  for (int i = 0; i < count; ++i) s += kChars[pick(rng)];
  return s;
}

// Used by the lock to spread the retries of colliding threads.
int RandomBelow(int limit) {
  if (limit <= 0) return 0;
  std::uniform_int_distribution<int> pick(0, limit - 1);
  return pick(ThreadRng());
}

// ---- Yield hook ----------------------------------------------------------

namespace {
std::atomic<TYieldHook> gYieldHook{nullptr};
std::atomic<bool> gMainThreadSet{false};
std::thread::id gMainThreadId;  // written before gMainThreadSet is released
}  // namespace

void SetYieldHook(TYieldHook hook) { gYieldHook.store(hook, std::memory_order_release); }

void SetMainThread() {
  gMainThreadId = std::this_thread::get_id();
  gMainThreadSet.store(true, std::memory_order_release);
}

bool IsMainThread() {
  return gMainThreadSet.load(std::memory_order_acquire) &&
         gMainThreadId == std::this_thread::get_id();
}

void Yield() {
  TYieldHook hook = gYieldHook.load(std::memory_order_acquire);
  if (hook && IsMainThread()) hook();
}

// ---- Progress hook -------------------------------------------------------

namespace {
constexpr int kProgressSlots = 5;
// Callers report progress from tight loops; without a text the report only
// moves a bar, so a few per second are plenty.
constexpr auto kProgressThrottle = std::chrono::milliseconds(200);

struct TProgressSlot {
  bool used = false;
  std::thread::id thread;
  TProgressCallback callback;
  std::chrono::steady_clock::time_point lastCall{};
};
std::mutex gProgressMutex;
TProgressSlot gProgressSlots[kProgressSlots];
}  // namespace

bool RegisterProgressCallback(TProgressCallback callback) {
  const auto me = std::this_thread::get_id();
  std::lock_guard<std::mutex> lock(gProgressMutex);
  TProgressSlot *freeSlot = nullptr;
  for (auto &slot : gProgressSlots) {
    if (slot.used && slot.thread == me) {
      slot.callback = std::move(callback);
      return true;
    }
    if (!slot.used && !freeSlot) freeSlot = &slot;
  }
  if (!freeSlot) return false;
  freeSlot->used = true;
  freeSlot->thread = me;
  freeSlot->callback = std::move(callback);
  freeSlot->lastCall = {};
  return true;
}

void UnregisterProgressCallback() {
  const auto me = std::this_thread::get_id();
  std::lock_guard<std::mutex> lock(gProgressMutex);
  for (auto &slot : gProgressSlots) {
    if (slot.used && slot.thread == me) slot = TProgressSlot{};
  }
}

bool ProgressHook(const std::string &text, int64_t done, int64_t total) {
  const auto me = std::this_thread::get_id();
  TProgressCallback callback;
  {
    std::lock_guard<std::mutex> lock(gProgressMutex);
    for (auto &slot : gProgressSlots) {
      if (!slot.used || slot.thread != me) continue;
      const auto now = std::chrono::steady_clock::now();
      if (text.empty() && slot.lastCall != std::chrono::steady_clock::time_point{} &&
          now - slot.lastCall < kProgressThrottle)
        return false;
      slot.lastCall = now;
      callback = slot.callback;
      break;
    }
  }
  // The callback runs outside the table lock: it may show a window or
  // register a callback of its own.
  if (!callback) return false;
  return callback(text, done, total);
}

// ---- Program folder ------------------------------------------------------

namespace {
std::mutex gFolderMutex;
std::string gFolderOverride;
}  // namespace

std::string GetProgramFolder() {
  std::string folder;
  {
    std::lock_guard<std::mutex> lock(gFolderMutex);
    folder = gFolderOverride;
  }
  if (folder.empty()) {
    const char *home = std::getenv("BRELVANE_HOME");
    if (home && *home) {
      folder = home;
    } else {
      const char *xdg = std::getenv("XDG_DATA_HOME");
      if (xdg && *xdg) {
        folder = std::string(xdg) + "/Brelvane";
      } else {
        const char *user = std::getenv("HOME");
        folder = std::string(user && *user ? user : ".") + "/.local/share/Brelvane";
      }
    }
  }
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  std::error_code ec;
  std::filesystem::create_directories(folder,
                                      ec);  // a failure shows up when a file is written there
  return folder;
}

std::string GetPrivateTempFolder() {
  std::string folder;
  const char *runtime = std::getenv("XDG_RUNTIME_DIR");
  std::error_code ec;
  if (runtime && *runtime && std::filesystem::is_directory(runtime, ec)) {
    folder = std::string(runtime);
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    folder += "/Brelvane";
  } else {
    folder = GetProgramFolder() + "/Temp";
  }
  ::mkdir(folder.c_str(), 0700);
  // A folder made earlier (or by someone else's umask) is tightened.
  ::chmod(folder.c_str(), 0700);
  return folder;
}

void SetProgramFolder(const std::string &folder) {
  std::lock_guard<std::mutex> lock(gFolderMutex);
  gFolderOverride = folder;
}

// ---- Developer switch ----------------------------------------------------

const char *const kDeveloperWord = "quarry";

namespace {
// -1: not decided yet; 0/1: decided or forced.
std::atomic<int> gDeveloperMode{-1};

bool DeveloperWordInEnvironment() {
  char host[256] = {};
  if (gethostname(host, sizeof(host) - 1) == 0 && SameText(host, kDeveloperWord)) return true;
  const char *env = std::getenv(kDeveloperWord);
  return env && SameText(Trim(env), "Yes");
}
}  // namespace

bool IsDeveloperMode() {
  int mode = gDeveloperMode.load();
  if (mode < 0) {
    int decided = DeveloperWordInEnvironment() ? 1 : 0;
    gDeveloperMode.compare_exchange_strong(mode, decided);
    return gDeveloperMode.load() == 1;
  }
  return mode == 1;
}

void SetDeveloperMode(bool on) { gDeveloperMode.store(on ? 1 : 0); }

void CheckDeveloperCommandLine(int argc, char **argv) {
  const std::string flag = std::string("-") + kDeveloperWord;
  for (int i = 1; i < argc; ++i) {
    if (argv[i] && SameText(argv[i], flag)) SetDeveloperMode(true);
  }
}

// ---- Files ---------------------------------------------------------------

std::string GetUniquePath(const std::string &folder, const std::string &stem,
                          const std::string &ext) {
  std::string base = folder;
  if (!base.empty() && base.back() != '/') base += '/';
  for (;;) {
    std::string path = base + stem + "[" + RandomText(5) + "]" + ext;
    std::error_code ec;
    if (!std::filesystem::exists(std::filesystem::symlink_status(path, ec))) return path;
  }
}

bool WriteFileAtomically(const std::string &path, std::string_view data, std::string *error) {
  auto fail = [&](const std::string &what, int err) {
    if (error) *error = what + ": " + std::strerror(err);
    return false;
  };
  std::filesystem::path target(path);
  std::filesystem::path dir = target.parent_path();
  if (dir.empty()) dir = ".";
  const std::string tmp =
      (dir / ("." + target.filename().string() + "." + RandomText(8) + ".tmp")).string();

  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return fail("cannot create " + tmp, errno);
  size_t off = 0;
  while (off < data.size()) {
    ssize_t n = ::write(fd, data.data() + off, data.size() - off);
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      ::close(fd);
      ::unlink(tmp.c_str());
      return fail("cannot write " + tmp, err);
    }
    off += static_cast<size_t>(n);
  }
  if (::fsync(fd) != 0) {
    int err = errno;
    ::close(fd);
    ::unlink(tmp.c_str());
    return fail("cannot flush " + tmp, err);
  }
  if (::close(fd) != 0) {
    int err = errno;
    ::unlink(tmp.c_str());
    return fail("cannot close " + tmp, err);
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    int err = errno;
    ::unlink(tmp.c_str());
    return fail("cannot rename " + tmp + " to " + path, err);
  }
  // The rename itself must survive a crash too.
  int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  if (error) error->clear();
  return true;
}
