#include "sessions/HttpMailDirectory.h"

THttpMailDirectory *THttpMailDirectoryList::FindSpecial(const std::string &special) const {
  for (const auto &item : FItems)
    if (SameText(item->Special, special)) return item.get();
  return nullptr;
}
