// Extracting and writing a generated container of about 64 MiB (a mix of text-like and
// incompressible files in nested folders), for both ciphers and compression settings
// 1 and 0. Rates are of original bytes.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "container/engine.h"
#include "container/writer.h"
#include "fs/fs.h"

namespace {

namespace fsys = std::filesystem;

const size_t kTotal = 64u << 20;

std::string Scratch() {
  static std::string dir = [] {
    fsys::path p = fsys::temp_directory_path() / "qef-container-bench";
    fsys::remove_all(p);
    fsys::create_directories(p);
    return p.generic_string() + "/";
  }();
  return dir;
}

// 64 MiB in 256 files of 256 KiB: half text-like, half incompressible.
const std::string& Source() {
  static std::string root = [] {
    std::string r = Scratch() + "src/";
    uint32_t x = 12345;
    for (int f = 0; f < 256; ++f) {
      std::string folder = r + "d" + std::to_string(f % 8) + "/";
      fsys::create_directories(folder);
      std::string data(kTotal / 256, '\0');
      for (size_t i = 0; i < data.size(); ++i) {
        x = x * 1103515245u + 12345u;
        data[i] =
            f % 2 == 0 ? "the quick brown fox jumps over the lazy dog\n"[(x >> 16) % 44] : static_cast<char>(x >> 24);
      }
      std::ofstream(folder + "f" + std::to_string(f) + ".bin", std::ios::binary) << data;
    }
    return r;
  }();
  return root;
}

std::string ContainerFor(uint8_t cipher, uint8_t setting) {
  std::string path = Scratch() + "c" + std::to_string(cipher) + "-" + std::to_string(setting) + ".qef";
  if (!fsys::exists(path)) {
    qef::PropertyList content;
    qef::CollectSources({qef::Text(Source().c_str())}, content, nullptr, nullptr);
    qef::PackOptions options;
    options.cipher_id = cipher;
    options.compression = setting;
    qef::WriteContainer(qef::Text(path.c_str()), qef::Text("bench password"), content, options);
  }
  return path;
}

void BM_Extract(benchmark::State& state) {
  auto cipher = static_cast<uint8_t>(state.range(0));
  auto setting = static_cast<uint8_t>(state.range(1));
  qef::ExtractOptions options;
  options.decode_threads = static_cast<int32_t>(state.range(2));
  std::string container = ContainerFor(cipher, setting);
  std::string target = Scratch() + "out/";
  for (auto _ : state) {
    state.PauseTiming();
    fsys::remove_all(target);
    state.ResumeTiming();
    qef::ExtractEngine engine;
    int32_t r = qef::ExtractContainer(engine, qef::Text(container.c_str()), qef::Text("bench password"),
                                      qef::Text(target.c_str()), nullptr, &options);
    if (r != 0) state.SkipWithError("extraction failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kTotal));
}

void BM_Write(benchmark::State& state) {
  qef::PropertyList content;
  qef::CollectSources({qef::Text(Source().c_str())}, content, nullptr, nullptr);
  qef::PackOptions options;
  options.cipher_id = static_cast<uint8_t>(state.range(0));
  options.compression = static_cast<uint8_t>(state.range(1));
  std::string out = Scratch() + "written.qef";
  for (auto _ : state) {
    if (qef::WriteContainer(qef::Text(out.c_str()), qef::Text("bench password"), content, options) != 0)
      state.SkipWithError("writing failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kTotal));
}

}  // namespace

BENCHMARK(BM_Extract)->ArgsProduct({{2, 0}, {1, 0}, {1, 2}})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Write)->ArgsProduct({{2, 0}, {1, 0}})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
