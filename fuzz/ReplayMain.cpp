// Replays saved inputs through a fuzz target without libFuzzer, so that the
// ordinary build compiles every target and re-checks every input that once
// found a fault. Arguments are files or folders of files.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace fs = std::filesystem;

static void RunFile(const fs::path &path, int &count) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
  ++count;
}

int main(int argc, char **argv) {
  int count = 0;
  // An empty input is always worth a run: it is the commonest edge.
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(""), 0);
  for (int i = 1; i < argc; ++i) {
    fs::path p(argv[i]);
    std::error_code ec;
    if (fs::is_directory(p, ec)) {
      for (const auto &entry : fs::recursive_directory_iterator(p, ec))
        if (entry.is_regular_file()) RunFile(entry.path(), count);
    } else if (fs::is_regular_file(p, ec)) {
      RunFile(p, count);
    }
  }
  std::printf("replayed %d inputs\n", count);
  return 0;
}
