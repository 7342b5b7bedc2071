#pragma once
// A fresh folder for one test, removed with everything in it when the test ends.
#include <string>

#include "core/text.h"

namespace qef::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  // The folder in internal form, ending in '/'.
  const Text& Path() const { return path_; }
  // Path() + relative.
  Text Sub(const char* relative) const { return Text::Concat(path_, relative); }

 private:
  Text path_;
};

// Writes a file with the given bytes (creating nothing else); true on success.
bool WriteFileBytes(const Text& path, const std::string& bytes);
// The whole file, or "<missing>" when it cannot be read.
std::string ReadFileBytes(const Text& path);
// Makes a file writable again and removes a whole tree (test clean-up only).
void RemoveTree(const Text& path);

}  // namespace qef::test
