#pragma once
// A request or a response as the HTTPMail session handles it: a plain list of
// lines (start line, headers "Name: value", one empty line, body lines).
// Callers fill requests from fixed templates line by line, so the message is
// kept as lines rather than as a parsed structure.
#include <string>

#include "foundation/StrUtil.h"

class THttpCommunication {
 public:
  virtual ~THttpCommunication() = default;

  // The usual line-list operations.
  int Count() const { return int(FLines.size()); }
  bool Empty() const { return FLines.empty(); }
  const std::string &operator[](int index) const { return FLines[size_t(index)]; }
  std::string &operator[](int index) { return FLines[size_t(index)]; }
  void Add(const std::string &line) { FLines.push_back(line); }
  void Insert(int index, const std::string &line);
  void Delete(int index);
  void Clear() { FLines.clear(); }
  const TStringList &Lines() const { return FLines; }
  TStringList &Lines() { return FLines; }
  // Every line followed by CR LF: the wire form.
  std::string SaveToString() const { return JoinLines(FLines); }
  void LoadFromString(std::string_view text) { FLines = SplitLines(text); }

  // First header called Name (ignoring case) before the first empty line;
  // Value is what follows the colon without leading blanks.
  bool GetHeader(std::string_view name, std::string &value) const;

  // Index of the first empty line, or -1.
  int HeaderEnd() const;

  std::string DefaultHost;

 protected:
  int FindHeader(std::string_view name) const;

  TStringList FLines;
};
