#pragma once
// The shared helpers every layer uses. Nothing here depends on Qt: the Qt
// layer installs the yield hook once at start-up (sessions/QtHooks.cpp).
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "foundation/StrUtil.h"

// ---- Version -------------------------------------------------------------
// "v" + the four numbers of the program's version joined by ".", with
// " Beta" appended when the first number is 0.
std::string GetVersionText();

// ---- Wildcard search -----------------------------------------------------
// 1-based position of Pattern in Text, ignoring case, where "?" in Pattern
// matches any one character; 0 when absent.
int WildcardPos(std::string_view pattern, std::string_view text);

// ---- Random text ---------------------------------------------------------
// Count random ASCII letters and digits.
std::string RandomText(int count);
// A random number from 0 to Limit - 1 (0 when Limit <= 0).
int RandomBelow(int limit);

// ---- Yield hook ----------------------------------------------------------
// Lets the user interface process its pending events when called on the main
// thread; does nothing on any other thread, or when no hook is installed.
using TYieldHook = void (*)();
void SetYieldHook(TYieldHook hook);
void Yield();
// Marks the calling thread as the main thread (done by the Qt layer).
void SetMainThread();
bool IsMainThread();
// Installs Qt's processEvents as the yield hook and marks this thread as the
// main thread. Defined in the Qt layer (sessions/QtHooks.cpp).
void InstallQtYieldHook();

// ---- Progress hook -------------------------------------------------------
// A long operation calls ProgressHook; the calling thread's registered
// callback answers whether the operation is to stop. Up to five threads may
// register. A call without text reaches the callback at most once per 200 ms;
// a thread without a callback always goes on.
using TProgressCallback = std::function<bool(const std::string &text, int64_t done, int64_t total)>;
bool RegisterProgressCallback(TProgressCallback callback);  // for the calling thread
void UnregisterProgressCallback();                          // for the calling thread
// Returns true when the operation is to stop.
bool ProgressHook(const std::string &text = std::string(), int64_t done = 0, int64_t total = 0);

// ---- Host lookup ---------------------------------------------------------
enum TDNSResult {
  dns_NoError = 0,
  dns_NoContactServer = 1,
  dns_BadResultReturned = 2,
  dns_Timeout = 3,
  dns_InternalError = 4,
  dns_NotPerformed = 5,
};
// Looks up HostName's IPv4 address within LimitMs, polling with Yield() so
// the calling thread's loop stays live. A dotted IPv4 text is converted
// without a lookup. Address is in network byte order; 0 when the name has no
// address (which still gives dns_NoError).
TDNSResult LookupHost(const std::string &hostName, int limitMs, uint32_t &address);
// Dotted text of a network-order IPv4 address.
std::string IPv4ToText(uint32_t address);
// Parses the classic dotted forms (a.b.c.d, a.b.c, a.b, a); network order.
bool ParseIPv4(std::string_view text, uint32_t &address);
// Whether a dotted IPv4 text is this machine.
bool IsLocalAddress(const std::string &text);
// The part of IsLocalAddress that needs no lookup: a dotted IPv4 text on the
// loopback network.
bool IsLoopbackAddressText(const std::string &text);

// ---- Program folder ------------------------------------------------------
// $BRELVANE_HOME when set, else $XDG_DATA_HOME/Brelvane, else
// ~/.local/share/Brelvane. Created on first use. Ends without a slash.
std::string GetProgramFolder();
// Overrides the program folder (the --home option); empty restores the default.
void SetProgramFolder(const std::string &folder);

// ---- Developer switch ----------------------------------------------------
// On when the host name is the developer word, when "-" + word is on the
// command line, when the environment variable of that name reads "Yes", or
// after SetDeveloperMode(true).
extern const char *const kDeveloperWord;
bool IsDeveloperMode();
void SetDeveloperMode(bool on);
void CheckDeveloperCommandLine(int argc, char **argv);

// ---- Pattern search ------------------------------------------------------
// Perl-like patterns. Flag bits: 0 caseless, 1 multi-line anchors, 2 "."
// matches line breaks, 3 greedy (when clear every quantifier is lazy), 4
// extended syntax, 5 whole match only.
enum : unsigned {
  pf_Caseless = 1,
  pf_Multiline = 2,
  pf_DotAll = 4,
  pf_Greedy = 8,
  pf_Extended = 16,
  pf_WholeMatchOnly = 32,
};
// The text of the first match; without pf_WholeMatchOnly the texts of the
// following capture groups are appended up to the first empty one. Empty when
// nothing matches or the pattern is invalid.
std::string PatternSearch(const std::string &pattern, const std::string &text, unsigned flags);
// Whether Pattern matches the whole of Text.
bool PatternMatchesWhole(const std::string &pattern, const std::string &text, unsigned flags);

// ---- Files ---------------------------------------------------------------
// Path made unique by appending a bracketed five-character random tag to the
// stem until no file of that name exists: Folder/Stem[abcde]Ext.
std::string GetUniquePath(const std::string &folder, const std::string &stem,
                          const std::string &ext);
// Writes Data to Path through a temporary file in the same folder that is
// flushed and renamed over Path, so a crash never leaves a truncated file.
// The file is readable and writable by this user only: every file the
// program writes this way (settings, messages, traces) may hold mail or a
// password.
bool WriteFileAtomically(const std::string &path, std::string_view data,
                         std::string *error = nullptr);
// A folder of this user's alone (mode 0700) for passing files: Brelvane
// under $XDG_RUNTIME_DIR when that is set, else Temp in the program folder.
// Never the shared temporary folder, where others could read or plant files.
std::string GetPrivateTempFolder();
