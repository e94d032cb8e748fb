// Replays stored fuzz inputs without libFuzzer: feeds every file of the given folders (or the
// given files) to the named target, in name order. A sanitizer report or a crash fails the run;
// so do no inputs at all, which means the seed corpus went missing, and an unknown target.
// Missing folders are skipped (a target need not have reproducers).
//
//   fuzz_replay helpers_sdk_date tests/fuzz/corpus/helpers_sdk_date tests/fuzz/reproducers/...
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "tests/fuzz/replay_targets.hpp"

namespace {

namespace fs = std::filesystem;
using voduzazi::fuzz::ReplayTarget;

const ReplayTarget* targetNamed(std::string_view name) {
  for (const ReplayTarget& target : voduzazi::fuzz::replayTargets()) {
    if (target.name == name) return &target;
  }
  return nullptr;
}

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

void replay(const ReplayTarget& target, const fs::path& input) {
  std::cerr << "replaying " << input.string() << '\n';
  std::ifstream stream(input, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(stream), {}};
  // A copy of exactly `size` bytes, so that reading past the end is caught.
  const std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
  target.oneInput(data.data(), data.size());
}

}  // namespace

int main(int argc, char** argv) {
  const ReplayTarget* target = argc > 1 ? targetNamed(argv[1]) : nullptr;
  if (target == nullptr) {
    std::cerr << "usage: fuzz_replay <target> <input file or folder>...\ntargets:";
    for (const ReplayTarget& known : voduzazi::fuzz::replayTargets()) {
      std::cerr << ' ' << known.name;
    }
    std::cerr << '\n';
    return 2;
  }
  std::size_t replayed = 0;
  for (int i = 2; i < argc; ++i) {
    for (const fs::path& input : inputsOf(argv[i])) {
      replay(*target, input);
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
