#pragma once
// Text lines tagged with the body form they belong to and a level, from which
// notes are inserted into both the HTML and the plain-text body of a message.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/StrUtil.h"

enum TSimpleHtmlForm : int {
  shfBoth = 0,   // the line belongs to either form
  shfHtml = 1,   // HTML only
  shfPlain = 2,  // plain text only
};

class TSimpleHtml {
 public:
  // Level -1 takes the level of the last line (5 for the first one); levels
  // are clamped to 0..255. WithBreak stores the line as "<br>" + Text.
  void AddLine(const std::string &text, int level = -1, bool withBreak = false, int form = shfBoth);
  // Removes every line that belongs to a form other than Form; Form 0 keeps all.
  void KeepForm(int form);
  // The lines rendered as plain text.
  void ToText(TStringList &lines) const;

  size_t Count() const { return FLines.size(); }
  const TStringList &Lines() const { return FLines; }
  const std::string &Line(size_t i) const { return FLines[i]; }
  int Level(size_t i) const { return FData[i] & 0xFF; }
  int Form(size_t i) const { return (FData[i] >> 8) & 0xFF; }
  void Clear();

 private:
  TStringList FLines;
  // Per line: level in bits 0-7, form in bits 8-15.
  std::vector<uint16_t> FData;
};

class TSimpleHtmlList {
 public:
  TSimpleHtml *Add();
  size_t Count() const { return FItems.size(); }
  TSimpleHtml *operator[](size_t i) const { return FItems[i].get(); }
  void Clear() { FItems.clear(); }

 private:
  std::vector<std::unique_ptr<TSimpleHtml>> FItems;
};
