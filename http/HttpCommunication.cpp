#include "http/HttpCommunication.h"

#include <iterator>

void THttpCommunication::SplitBodyText() const {
  TStringList body = SplitLines(FBodyText);
  std::string().swap(FBodyText);
  FBodyHeld = false;
  FLines.reserve(FLines.size() + body.size());
  std::move(body.begin(), body.end(), std::back_inserter(FLines));
}

void THttpCommunication::Insert(int index, const std::string &line) {
  if (index < 0) index = 0;
  if (index > Count()) index = Count();
  FLines.insert(FLines.begin() + index, line);
}

void THttpCommunication::Delete(int index) {
  if (index >= 0 && index < Count()) FLines.erase(FLines.begin() + index);
}

// The header block never reaches into a held body, so neither needs it split.
int THttpCommunication::HeaderEnd() const {
  for (size_t i = 0; i < FLines.size(); ++i)
    if (FLines[i].empty()) return int(i);
  return -1;
}

int THttpCommunication::FindHeader(std::string_view name) const {
  for (size_t i = 0; i < FLines.size(); ++i) {
    const std::string &line = FLines[i];
    if (line.empty()) break;
    const std::string trimmed = Trim(line);
    if (trimmed.size() > name.size() && trimmed[name.size()] == ':' && StartsText(name, trimmed))
      return int(i);
  }
  return -1;
}

bool THttpCommunication::GetHeader(std::string_view name, std::string &value) const {
  const int at = FindHeader(name);
  if (at < 0) return false;
  const std::string &line = FLines[size_t(at)];
  size_t pos = line.find(':') + 1;
  while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
  value = line.substr(pos);
  return true;
}
