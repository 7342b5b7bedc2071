// Chooses the container's compression levels: every file under a folder, joined in
// name order and cut into 65,535-byte pieces (the container's chunk shape), is
// compressed piece by piece as one zlib stream each, by zlib and by libdeflate at the
// levels asked for, on one thread; each result is inflated again by both libraries and
// compared with the original (a mismatch ends the program with status 1).
//
//   levels FOLDER [RUNS] [CODEC:LEVEL ...]     (default: zlib:9 zlib:3 deflate:1 .. deflate:9)
//
// Prints one row per codec and level: the bytes of all zlib streams, the bytes a
// container stores (a piece that does not shrink is stored plain), and the median
// seconds of RUNS runs (default 1) to compress, to inflate with zlib and to inflate with
// libdeflate (each inflate column includes one memcmp per piece). The seconds are the
// thread's processor time, so that work elsewhere on the machine does not count.
// LEVELS_EVERY=N in the environment keeps only every Nth piece (a quicker sample).
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

const size_t kPiece = 65535;

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "levels: %s\n", what.c_str());
  std::exit(1);
}

std::vector<unsigned char> JoinFiles(const std::string& folder) {
  std::vector<std::string> paths;
  for (const auto& e : std::filesystem::recursive_directory_iterator(folder)) {
    if (e.is_regular_file() && !e.is_symlink()) paths.push_back(e.path().string());
  }
  std::sort(paths.begin(), paths.end());
  std::vector<unsigned char> all;
  for (const std::string& p : paths) {
    std::ifstream f(p, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    all.insert(all.end(), bytes.begin(), bytes.end());
  }
  return all;
}

double Now() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct Candidate {
  bool libdeflate;
  int level;
};

// Every piece compressed into `out` (one stream each, `sizes` their lengths).
void Compress(const Candidate& c, const std::vector<unsigned char>& all, std::vector<std::vector<unsigned char>>& out) {
  size_t pieces = (all.size() + kPiece - 1) / kPiece;
  out.assign(pieces, {});
  if (c.libdeflate) {
    libdeflate_compressor* comp = libdeflate_alloc_compressor(c.level);
    if (comp == nullptr) Die("no libdeflate compressor at level " + std::to_string(c.level));
    for (size_t i = 0; i < pieces; ++i) {
      size_t n = std::min(kPiece, all.size() - i * kPiece);
      out[i].resize(libdeflate_zlib_compress_bound(comp, n));
      size_t got = libdeflate_zlib_compress(comp, &all[i * kPiece], n, out[i].data(), out[i].size());
      if (got == 0) Die("libdeflate_zlib_compress failed");
      out[i].resize(got);
    }
    libdeflate_free_compressor(comp);
    return;
  }
  z_stream z{};
  if (deflateInit(&z, c.level) != Z_OK) Die("deflateInit");
  for (size_t i = 0; i < pieces; ++i) {
    size_t n = std::min(kPiece, all.size() - i * kPiece);
    deflateReset(&z);
    out[i].resize(deflateBound(&z, n));
    z.next_in = const_cast<unsigned char*>(&all[i * kPiece]);
    z.avail_in = static_cast<uInt>(n);
    z.next_out = out[i].data();
    z.avail_out = static_cast<uInt>(out[i].size());
    if (deflate(&z, Z_FINISH) != Z_STREAM_END) Die("deflate");
    out[i].resize(out[i].size() - z.avail_out);
  }
  deflateEnd(&z);
}

void Inflate(bool libdeflate, const std::vector<unsigned char>& all,
             const std::vector<std::vector<unsigned char>>& in) {
  std::vector<unsigned char> plain(kPiece);
  libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  for (size_t i = 0; i < in.size(); ++i) {
    size_t n = std::min(kPiece, all.size() - i * kPiece);
    size_t got = 0;
    if (libdeflate) {
      if (libdeflate_zlib_decompress(d, in[i].data(), in[i].size(), plain.data(), plain.size(), &got) !=
          LIBDEFLATE_SUCCESS)
        Die("libdeflate refused piece " + std::to_string(i));
    } else {
      uLongf len = plain.size();
      if (uncompress(plain.data(), &len, in[i].data(), in[i].size()) != Z_OK)
        Die("zlib refused piece " + std::to_string(i));
      got = len;
    }
    if (got != n || std::memcmp(plain.data(), &all[i * kPiece], n) != 0) Die("piece " + std::to_string(i) + " differs");
  }
  libdeflate_free_decompressor(d);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) Die("usage: levels FOLDER [RUNS] [zlib:N|deflate:N ...]");
  int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
  std::vector<Candidate> candidates;
  for (int i = 3; i < argc; ++i) {
    std::string a = argv[i];
    size_t colon = a.find(':');
    if (colon == std::string::npos) Die("not CODEC:LEVEL: " + a);
    candidates.push_back({a.substr(0, colon) == "deflate", std::atoi(a.c_str() + colon + 1)});
  }
  if (candidates.empty()) {
    candidates = {{false, 9}, {false, 3}};
    for (int level = 1; level <= 9; ++level) candidates.push_back({true, level});
  }
  std::vector<unsigned char> all = JoinFiles(argv[1]);
  const char* every = std::getenv("LEVELS_EVERY");
  size_t keep = every != nullptr ? static_cast<size_t>(std::max(1, std::atoi(every))) : 1;
  if (keep > 1) {
    std::vector<unsigned char> sample;
    for (size_t at = 0; at < all.size(); at += kPiece * keep)
      sample.insert(sample.end(), all.data() + at, all.data() + std::min(all.size(), at + kPiece));
    all.swap(sample);
  }
  if (all.empty()) Die("no bytes under " + std::string(argv[1]));
  std::printf("%zu bytes in %zu pieces of %zu, %d run(s), medians\n\n", all.size(), (all.size() + kPiece - 1) / kPiece,
              kPiece, runs);
  std::printf(
      "| codec, level | zlib streams (bytes) | as stored (bytes) | compress (s) | inflate, zlib (s) |"
      " inflate, libdeflate (s) |\n|---|---|---|---|---|---|\n");
  std::vector<std::vector<unsigned char>> out;
  for (const Candidate& c : candidates) {
    std::vector<double> comp, zinf, dinf;
    for (int r = 0; r < runs; ++r) {
      double t = Now();
      Compress(c, all, out);
      comp.push_back(Now() - t);
      t = Now();
      Inflate(false, all, out);
      zinf.push_back(Now() - t);
      t = Now();
      Inflate(true, all, out);
      dinf.push_back(Now() - t);
    }
    uint64_t streams = 0, stored = 0;
    for (size_t i = 0; i < out.size(); ++i) {
      size_t n = std::min(kPiece, all.size() - i * kPiece);
      streams += out[i].size();
      stored += std::min(out[i].size(), n);
    }
    std::printf("| %s %d | %llu | %llu | %.2f | %.2f | %.2f |\n", c.libdeflate ? "libdeflate" : "zlib", c.level,
                static_cast<unsigned long long>(streams), static_cast<unsigned long long>(stored), Median(comp),
                Median(zinf), Median(dinf));
    std::fflush(stdout);
  }
  return 0;
}
