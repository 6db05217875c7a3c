#pragma once
// The chunked transfer coding of an HTTP/1.1 answer body, taken apart as it
// arrives: the pieces handed to Feed may cut a size line, a chunk or its
// closing CR LF anywhere.
#include <cstdint>
#include <string>
#include <string_view>

class TChunkedDecoder {
 public:
  enum class TState { Size, Data, DataEnd, Trailer, Done, Failed };

  // Appends the body bytes found in Data to Body. Bytes after the last
  // chunk's trailer belong to no body and are left unread: Feed returns how
  // many bytes of Data it used.
  size_t Feed(std::string_view data, std::string &body);
  bool Done() const { return FState == TState::Done; }
  bool Failed() const { return FState == TState::Failed; }
  const std::string &Error() const { return FError; }

 private:
  // Takes one line (without CR LF) of a size or trailer line.
  void TakeLine(std::string_view line);
  void Fail(const char *error);

  TState FState = TState::Size;
  uint64_t FLeft = 0;
  // A size or trailer line cut by the end of a piece.
  std::string FLine;
  size_t FTrailerBytes = 0;
  std::string FError;
};
