#pragma once
// A list of lines held as one text and the end offset of each line. A
// message body of many megabytes costs its bytes and four more per line,
// where one string per line would cost about twice the text for the short
// lines of encoded attachments.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/StrUtil.h"

class TLineBlock {
 public:
  TLineBlock() = default;
  explicit TLineBlock(const TStringList &lines);

  size_t Count() const { return FEnds.size(); }
  bool Empty() const { return FEnds.empty(); }
  std::string_view operator[](size_t index) const {
    const size_t begin = index == 0 ? 0 : FEnds[index - 1];
    return std::string_view(FText).substr(begin, FEnds[index] - begin);
  }
  std::string_view Back() const { return (*this)[Count() - 1]; }
  // Bytes of all lines together, without line ends.
  size_t TextSize() const { return FText.size(); }

  void Add(std::string_view line);
  // Lines [Begin, End) of Other, appended with one copy.
  void AddRange(const TLineBlock &other, size_t begin, size_t end);
  void Reserve(size_t lines, size_t bytes);
  void Clear();
  // Frees what Clear keeps for reuse.
  void Release();
  // Drops the first Count lines.
  void EraseFront(size_t count);

  TStringList ToList() const;
  // Every line followed by CR LF: the wire form.
  std::string Join() const;

  bool operator==(const TLineBlock &other) const {
    return FText == other.FText && FEnds == other.FEnds;
  }

 private:
  std::string FText;
  // 32 bits: a message is limited to 2 GB everywhere else already.
  std::vector<uint32_t> FEnds;
};
