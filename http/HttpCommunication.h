#pragma once
// A request or a response as the HTTPMail session handles it: a plain list of
// lines (start line, headers "Name: value", one empty line, body lines).
// Callers fill requests from fixed templates line by line, so the message is
// kept as lines rather than as a parsed structure. A body read from the wire
// is kept as the one text it arrived as until somebody asks for lines: a
// message body of many megabytes split into a string per line costs about
// twice its size and most of the time of reading it.
#include <string>

#include "foundation/StrUtil.h"

class THttpCommunication {
 public:
  virtual ~THttpCommunication() = default;

  // The usual line-list operations.
  int Count() const { return int(Settled().size()); }
  bool Empty() const { return Settled().empty(); }
  // A header line is read without splitting a held body.
  const std::string &operator[](int index) const { return Line(size_t(index)); }
  std::string &operator[](int index) { return Line(size_t(index)); }
  void Add(const std::string &line) { Settled().push_back(line); }
  void Insert(int index, const std::string &line);
  void Delete(int index);
  void Clear() {
    FLines.clear();
    DropBodyText();
  }
  const TStringList &Lines() const { return Settled(); }
  TStringList &Lines() { return Settled(); }
  // Every line followed by CR LF: the wire form.
  std::string SaveToString() const { return JoinLines(Settled()); }
  void LoadFromString(std::string_view text) {
    DropBodyText();
    FLines = SplitLines(text);
  }

  // First header called Name (ignoring case) before the first empty line;
  // Value is what follows the colon without leading blanks.
  bool GetHeader(std::string_view name, std::string &value) const;

  // Index of the first empty line, or -1.
  int HeaderEnd() const;

  std::string DefaultHost;

 protected:
  int FindHeader(std::string_view name) const;
  // The lines with a held body text split into them first.
  TStringList &Settled() const {
    if (FBodyHeld) SplitBodyText();
    return FLines;
  }
  // Splitting only appends, so lines already held stay where they are.
  std::string &Line(size_t index) const {
    return index < FLines.size() ? FLines[index] : Settled()[index];
  }
  void DropBodyText() {
    std::string().swap(FBodyText);
    FBodyHeld = false;
  }

  // Logically const: splitting the held body changes the form, not the
  // content.
  mutable TStringList FLines;
  // A body that follows the lines' empty separator line, as received.
  mutable std::string FBodyText;
  mutable bool FBodyHeld = false;

 private:
  void SplitBodyText() const;
};
