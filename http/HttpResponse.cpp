#include "http/HttpResponse.h"

#include <iterator>

namespace {

// Splits at runs of blanks, as the status line is read.
TStringList Words(const std::string &text) {
  TStringList words;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && text[i] == ' ') ++i;
    size_t j = i;
    while (j < text.size() && text[j] != ' ') ++j;
    if (j > i) words.push_back(text.substr(i, j - i));
    i = j;
  }
  return words;
}

}  // namespace

bool THttpResponse::GetStatusCode(int &code) {
  if (!FLines.empty() && FLines.front().empty()) Delete(0);
  if (FLines.empty()) return false;
  const TStringList words = Words(Trim(FLines.front()));
  if (words.size() < 2) return false;
  return TryStrToInt(words[1], code);
}

std::string THttpResponse::GetStatusText() {
  int code = 0;
  if (!GetStatusCode(code)) return std::string();
  const std::string line = Trim(FLines.front());
  const TStringList words = Words(line);
  // The code is the second word; skip past it in the line itself so the
  // phrase keeps its own spacing.
  size_t pos = line.find(words[0]) + words[0].size();
  pos = line.find(words[1], pos) + words[1].size();
  return pos + 1 < line.size() ? line.substr(pos + 1) : std::string();
}

TStringList THttpResponse::GetBody() const {
  const int end = HeaderEnd();
  if (end < 0) return {};
  if (FBodyHeld) return SplitLines(FBodyText);
  return TStringList(FLines.begin() + end + 1, FLines.end());
}

TStringList THttpResponse::TakeBody() {
  const int end = HeaderEnd();
  if (end < 0) return {};
  if (FBodyHeld) {
    TStringList body = SplitLines(FBodyText);
    DropBodyText();
    return body;
  }
  TStringList body(std::make_move_iterator(FLines.begin() + end + 1),
                   std::make_move_iterator(FLines.end()));
  FLines.resize(size_t(end) + 1);
  return body;
}

std::string THttpResponse::TakeBodyText() {
  const int end = HeaderEnd();
  if (end < 0) return {};
  std::string text;
  if (FBodyHeld) {
    text.swap(FBodyText);
    DropBodyText();
    return text;
  }
  size_t bytes = 0;
  for (size_t i = size_t(end) + 1; i < FLines.size(); ++i) bytes += FLines[i].size() + 2;
  text.reserve(bytes);
  for (size_t i = size_t(end) + 1; i < FLines.size(); ++i) {
    text += FLines[i];
    text += "\r\n";
  }
  FLines.resize(size_t(end) + 1);
  return text;
}

void THttpResponse::MergeHeaders(const TStringList &headers) {
  if (headers.empty()) return;
  Settled();
  if (FLines.empty()) {
    FLines = headers;
    FLines.emplace_back();
    return;
  }
  const int n = int(headers.size());
  for (int i = 0; i < n; ++i) {
    if (i < Count() && !FLines[size_t(i)].empty())
      FLines[size_t(i)] = headers[size_t(i)];
    else
      Insert(i, headers[size_t(i)]);
  }
  // The header block must stay closed by an empty line, also when the old
  // content ended right where the new headers end.
  if (n >= Count() || !FLines[size_t(n)].empty()) Insert(n, std::string());
  if (!FLines.empty() && FLines.front().empty()) Delete(0);
}

void THttpResponse::PutBody(const TStringList &body) {
  DropBodyText();
  FLines.resize(BodyStart());
  FLines.insert(FLines.end(), body.begin(), body.end());
}

void THttpResponse::PutBody(TStringList &&body) {
  DropBodyText();
  FLines.resize(BodyStart());
  FLines.reserve(FLines.size() + body.size());
  std::move(body.begin(), body.end(), std::back_inserter(FLines));
  body.clear();
}

void THttpResponse::PutBodyText(std::string body) {
  DropBodyText();
  FLines.resize(BodyStart());
  FBodyText = std::move(body);
  FBodyHeld = !FBodyText.empty();
}

size_t THttpResponse::BodyStart() {
  int end = HeaderEnd();
  if (end < 0) {
    FLines.emplace_back();
    end = Count() - 1;
  }
  return size_t(end) + 1;
}
