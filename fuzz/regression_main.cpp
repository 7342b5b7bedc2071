// Replays a fuzz target's seeds, and the files given on the command line (single files
// or folders of them), as a plain test; with --write-seeds DIR it writes the seeds out
// for a fuzzing run to start from.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "fuzz/fuzz_target.h"

namespace {

void Run(const std::string& input) {
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}

std::string Slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

int main(int argc, char** argv) {
  namespace fsys = std::filesystem;
  if (argc == 3 && std::string(argv[1]) == "--write-seeds") {
    fsys::create_directories(argv[2]);
    int n = 0;
    for (const std::string& seed : FuzzSeeds()) {
      std::ofstream(fsys::path(argv[2]) / ("seed-" + std::to_string(n++)), std::ios::binary) << seed;
    }
    std::printf("%d seeds written to %s\n", n, argv[2]);
    return 0;
  }
  int runs = 0;
  for (const std::string& seed : FuzzSeeds()) {
    Run(seed);
    ++runs;
  }
  for (int i = 1; i < argc; ++i) {
    fsys::path p(argv[i]);
    if (fsys::is_directory(p)) {
      for (const auto& e : fsys::directory_iterator(p)) {
        Run(Slurp(e.path()));
        ++runs;
      }
    } else if (fsys::exists(p)) {
      Run(Slurp(p));
      ++runs;
    }
  }
  std::printf("%d inputs replayed\n", runs);
  return 0;
}
