#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/StrUtil.h"

// One folder of an HTTPMail folder listing.
class THttpMailDirectory {
 public:
  TStringList Lines;  // kept for the shape of the listing; nothing reads it
  std::string Href;
  bool IsFolder = true;
  std::string Special;
  bool HasSubs = false;
  int32_t UnreadCount = 0;
  int32_t VisibleCount = 0;
};

// Owns its folders.
class THttpMailDirectoryList {
 public:
  void Add(std::unique_ptr<THttpMailDirectory> directory) {
    FItems.push_back(std::move(directory));
  }
  int Count() const { return int(FItems.size()); }
  THttpMailDirectory *Items(int index) const { return FItems.at(size_t(index)).get(); }
  void Clear() { FItems.clear(); }
  // First folder whose special name equals Special, ignoring case; null when none.
  THttpMailDirectory *FindSpecial(const std::string &special) const;

 private:
  std::vector<std::unique_ptr<THttpMailDirectory>> FItems;
};
