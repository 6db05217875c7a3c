#pragma once
// A small blocking IPv4 TCP client with time limits, built on poll(). It
// keeps its own input buffer so that a line can be looked for without
// consuming what follows it. Failures are thrown as ESocketEngineError.
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

class ESocketEngineError : public std::runtime_error {
 public:
  explicit ESocketEngineError(const std::string &message) : std::runtime_error(message) {}
};

// A line that grew past the maximum line length without its terminator.
class ELineTooLong : public ESocketEngineError {
 public:
  using ESocketEngineError::ESocketEngineError;
};

class TSocketEngine {
 public:
  // Lines past this length are refused; the caller then takes the input in
  // pieces (a page can arrive as one enormous line).
  static constexpr int kDefaultMaxLineLength = 32768;

  TSocketEngine() = default;
  ~TSocketEngine();  // closes without a disconnect notice
  TSocketEngine(const TSocketEngine &) = delete;
  TSocketEngine &operator=(const TSocketEngine &) = delete;

  std::string Host;
  int Port = 0;
  int MaxLineLength = kDefaultMaxLineLength;
  // Limit of one blocked write, so that a peer that stops reading cannot
  // hold the caller forever.
  int WriteTimeoutMs = 60000;
  // Called between short waits while connecting or while a write is held
  // up; true aborts the operation.
  std::function<bool()> OnIdle;
  // Told when the connection is closed by Disconnect.
  std::function<void()> OnDisconnected;

  void Connect(int timeoutMs);
  // Takes over a socket that is already connected (a socket pair in tests
  // and fuzzing); it is made non-blocking and closed by this engine.
  void Attach(int fd);
  // Open and not closed by the peer, or input still waiting to be taken.
  bool Connected() const;
  // Whether a socket is open at all.
  bool IsOpen() const { return FSocket >= 0; }
  void Disconnect();

  // The next line without its terminator. When the limit runs out first,
  // TimedOut is set and an empty text returned; the input stays buffered.
  // MaxLength < 0 means MaxLineLength.
  std::string ReadLn(std::string_view terminator, int timeoutMs, int maxLength, bool &timedOut);
  size_t InputBufferSize() const { return FInput.size() - FInputPos; }
  std::string_view PeekBuffer() const { return std::string_view(FInput).substr(FInputPos); }
  // Takes exactly Count bytes out of the input buffer; throws when fewer wait.
  std::string ExtractFromBuffer(size_t count);
  // The same, appended to Out without a copy in between.
  void AppendFromBuffer(std::string &out, size_t count);
  // Reads whatever arrives within TimeoutMs into the input buffer; the number
  // of bytes read. With RaiseIfGone a peer that has gone (and left nothing
  // unread) throws; with RaiseOnTimeout so does an empty wait.
  int ReadAvailable(int timeoutMs, bool raiseIfGone, bool raiseOnTimeout);
  void Write(std::string_view data);
  void WriteLn(std::string_view line);

 private:
  // Waits for input at most TimeoutMs and appends it; bytes read.
  int Fill(int timeoutMs);
  void Compact();
  [[noreturn]] void ThrowErrno(int err) const;

  int FSocket = -1;
  bool FPeerClosed = false;
  std::string FInput;
  size_t FInputPos = 0;
};
