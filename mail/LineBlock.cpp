#include "mail/LineBlock.h"

#include <stdexcept>

TLineBlock::TLineBlock(const TStringList &lines) {
  size_t bytes = 0;
  for (const std::string &line : lines) bytes += line.size();
  Reserve(lines.size(), bytes);
  for (const std::string &line : lines) Add(line);
}

void TLineBlock::Add(std::string_view line) {
  if (FText.size() + line.size() > UINT32_MAX) throw std::length_error("Line block too large");
  FText.append(line);
  FEnds.push_back(uint32_t(FText.size()));
}

void TLineBlock::AddRange(const TLineBlock &other, size_t begin, size_t end) {
  if (end > other.Count()) end = other.Count();
  if (begin >= end) return;
  const size_t from = begin == 0 ? 0 : other.FEnds[begin - 1];
  const size_t to = other.FEnds[end - 1];
  if (FText.size() + (to - from) > UINT32_MAX) throw std::length_error("Line block too large");
  const uint32_t shift = uint32_t(FText.size());
  FText.append(other.FText, from, to - from);
  FEnds.reserve(FEnds.size() + (end - begin));
  for (size_t i = begin; i < end; ++i) FEnds.push_back(other.FEnds[i] - uint32_t(from) + shift);
}

void TLineBlock::Reserve(size_t lines, size_t bytes) {
  FEnds.reserve(lines);
  FText.reserve(bytes);
}

void TLineBlock::Clear() {
  FText.clear();
  FEnds.clear();
}

void TLineBlock::Release() {
  std::string().swap(FText);
  std::vector<uint32_t>().swap(FEnds);
}

void TLineBlock::EraseFront(size_t count) {
  if (count == 0) return;
  if (count >= Count()) {
    Clear();
    return;
  }
  // Into fresh storage of the size left: what stays is usually a short
  // epilogue, and it must not keep the capacity of the whole body.
  const uint32_t cut = FEnds[count - 1];
  std::string text = FText.substr(cut);
  std::vector<uint32_t> ends(FEnds.begin() + std::ptrdiff_t(count), FEnds.end());
  for (uint32_t &end : ends) end -= cut;
  FText.swap(text);
  FEnds.swap(ends);
}

TStringList TLineBlock::ToList() const {
  TStringList lines;
  lines.reserve(Count());
  for (size_t i = 0; i < Count(); ++i) lines.emplace_back((*this)[i]);
  return lines;
}

std::string TLineBlock::Join() const {
  std::string text;
  text.reserve(FText.size() + 2 * Count());
  for (size_t i = 0; i < Count(); ++i) {
    text += (*this)[i];
    text += "\r\n";
  }
  return text;
}
