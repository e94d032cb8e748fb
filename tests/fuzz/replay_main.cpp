// Replays stored fuzz inputs without libFuzzer: feeds every file of the given folders (or the
// given files) to the target, in name order. A sanitizer report or a crash fails the run; so do
// no inputs at all, which means the seed corpus went missing. Missing folders are skipped (a
// target need not have reproducers).
//
//   fuzz_helpers_sdk_date_replay tests/fuzz/corpus/helpers_sdk_date tests/fuzz/reproducers/...
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> inputsOf(const fs::path& path) {
  std::vector<fs::path> inputs;
  if (fs::is_directory(path)) {
    for (const auto& entry : fs::directory_iterator(path)) {
      if (entry.is_regular_file()) inputs.push_back(entry.path());
    }
    std::sort(inputs.begin(), inputs.end());
  } else if (fs::is_regular_file(path)) {
    inputs.push_back(path);
  }
  return inputs;
}

void replay(const fs::path& input) {
  std::cerr << "replaying " << input.string() << '\n';
  std::ifstream stream(input, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(stream), {}};
  // A copy of exactly `size` bytes, so that reading past the end is caught.
  const std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
  LLVMFuzzerTestOneInput(data.data(), data.size());
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t replayed = 0;
  for (int i = 1; i < argc; ++i) {
    for (const fs::path& input : inputsOf(argv[i])) {
      replay(input);
      ++replayed;
    }
  }
  std::cout << "replayed " << replayed << " inputs\n";
  if (replayed == 0) {
    std::cerr << "no inputs found: the seed corpus is missing\n";
    return 1;
  }
  return 0;
}
