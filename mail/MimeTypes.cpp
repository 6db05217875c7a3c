#include "mail/MimeTypes.h"

#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <unordered_map>

#include "foundation/StrUtil.h"

namespace {

struct TMimeTable {
  std::unordered_map<std::string, std::string> TypeToExt;  // lower-case type -> ".ext"
  std::unordered_map<std::string, std::string> ExtToType;  // lower-case ext without dot -> type
};

TMimeTable ReadTable(const std::string &path) {
  TMimeTable table;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    std::istringstream words(line);
    std::string type, ext;
    if (!(words >> type)) continue;
    std::string key = LowerCase(type);
    while (words >> ext) {
      // The first extension listed is the one the platform prefers.
      table.TypeToExt.emplace(key, "." + ext);
      table.ExtToType.emplace(LowerCase(ext), type);
    }
  }
  return table;
}

std::mutex gTableLock;
std::unique_ptr<TMimeTable> gTable;

const TMimeTable &Table() {
  std::lock_guard<std::mutex> guard(gTableLock);
  if (!gTable) gTable = std::make_unique<TMimeTable>(ReadTable("/etc/mime.types"));
  return *gTable;
}

}  // namespace

void LoadMimeTypesFile(const std::string &path) {
  auto table = std::make_unique<TMimeTable>(ReadTable(path));
  std::lock_guard<std::mutex> guard(gTableLock);
  gTable = std::move(table);
}

bool MimeTypeToExtension(std::string_view type, std::string &ext) {
  const TMimeTable &table = Table();
  auto it = table.TypeToExt.find(LowerCase(Trim(type)));
  if (it == table.TypeToExt.end()) {
    ext = ".txt";
    return false;
  }
  ext = it->second;
  return true;
}

std::string ExtensionToMimeType(std::string_view ext) {
  std::string key = LowerCase(Trim(ext));
  if (!key.empty() && key[0] == '.') key.erase(0, 1);
  const TMimeTable &table = Table();
  auto it = table.ExtToType.find(key);
  return it == table.ExtToType.end() ? std::string("application/octet-stream") : it->second;
}
