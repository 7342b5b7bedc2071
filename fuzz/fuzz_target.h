#pragma once
// Every fuzz target defines the libFuzzer entry point and a set of seeds made by code.
// Built with libFuzzer (the fuzz preset) it explores; built with the regression runner
// it replays its seeds and any checked-in inputs as a plain test.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

// The target's seeds, produced by code (containers from the writer, one input per
// record type, the hostile-name corpus...).
std::vector<std::string> FuzzSeeds();

// Aborts with a message: a broken promise the fuzzer must report.
#define FUZZ_ASSERT(cond)                                                                     \
  do {                                                                                        \
    if (!(cond)) {                                                                            \
      std::fprintf(stderr, "fuzz assertion failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
      std::abort();                                                                           \
    }                                                                                         \
  } while (0)
