// A main for the fuzz targets without libFuzzer: runs the target once on each
// file named on the command line, or on every file of each folder named, so
// that a corpus or a crash input replays under a debugger or valgrind, and
// the seed corpora run as ordinary tests. A failed property aborts.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> inputs_of(const fs::path& path) {
  std::vector<fs::path> files;
  if (fs::is_directory(path)) {
    for (const auto& entry : fs::directory_iterator(path)) {
      if (entry.is_regular_file()) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
  } else {
    files.push_back(path);
  }
  return files;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <input file or folder>...\n", argv[0]);
    return 2;
  }
  // Every input is read before the target's initialisation, which may change
  // the current directory.
  std::vector<std::pair<std::string, std::string>> inputs;
  for (int i = 1; i < argc; ++i) {
    for (const fs::path& file : inputs_of(argv[i])) {
      std::ifstream in(file, std::ios::binary);
      if (!in) {
        std::fprintf(stderr, "cannot read %s\n", file.c_str());
        return 2;
      }
      inputs.emplace_back(file.string(), std::string(std::istreambuf_iterator<char>(in), {}));
    }
  }
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
  for (const auto& [name, content] : inputs) {
    std::fprintf(stderr, "replaying %s\n", name.c_str());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(content.data()), content.size());
  }
  std::fprintf(stderr, "%zu inputs replayed\n", inputs.size());
  return 0;
}
