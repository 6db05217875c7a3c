#include "http/HttpCommunication.h"

void THttpCommunication::Insert(int index, const std::string &line) {
  if (index < 0) index = 0;
  if (index > Count()) index = Count();
  FLines.insert(FLines.begin() + index, line);
}

void THttpCommunication::Delete(int index) {
  if (index >= 0 && index < Count()) FLines.erase(FLines.begin() + index);
}

int THttpCommunication::HeaderEnd() const {
  for (int i = 0; i < Count(); ++i)
    if (FLines[size_t(i)].empty()) return i;
  return -1;
}

int THttpCommunication::FindHeader(std::string_view name) const {
  for (int i = 0; i < Count(); ++i) {
    const std::string &line = FLines[size_t(i)];
    if (line.empty()) break;
    const std::string trimmed = Trim(line);
    if (trimmed.size() > name.size() && trimmed[name.size()] == ':' && StartsText(name, trimmed))
      return i;
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
