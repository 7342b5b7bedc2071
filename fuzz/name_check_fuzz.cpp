// The name check: every folder part and name it accepts stays inside the folder it is
// joined to and reaches no device, judged by a separate, plain model of how Windows and
// POSIX resolve such a relative path.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/result.h"
#include "fs/path.h"
#include "fuzz/fuzz_target.h"
#include "tests/fixtures/hostile_names.h"

namespace {

std::vector<std::string> Components(const std::string& path) {
  std::vector<std::string> parts(1);
  for (char c : path) {
    if (c == '/' || c == '\\')
      parts.emplace_back();
    else
      parts.back().push_back(c);
  }
  return parts;
}

// Windows drops trailing dots and blanks from a component before it looks at it.
std::string Trimmed(std::string c) {
  while (!c.empty() && (c.back() == '.' || c.back() == ' ')) c.pop_back();
  return c;
}

bool IsDevice(const std::string& component) {
  std::string base = Trimmed(component.substr(0, component.find('.')));
  for (char& ch : base) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CONIN$" || base == "CONOUT$")
    return true;
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
         std::isdigit(static_cast<unsigned char>(base[3]));
}

void CheckAccepted(const std::string& joined, bool windows) {
  FUZZ_ASSERT(!joined.empty());
  FUZZ_ASSERT(joined[0] != '/' && joined[0] != '\\');  // not absolute, UNC or a device path
  int depth = 0;
  std::vector<std::string> parts = Components(joined);
  for (size_t i = 0; i < parts.size(); ++i) {
    const std::string& c = parts[i];
    std::string resolved = windows ? Trimmed(c) : c;
    if (c.empty() || resolved == "." || (windows && resolved.empty())) continue;
    FUZZ_ASSERT(resolved != "..");
    FUZZ_ASSERT(!(i == 0 && c.size() >= 2 && c[1] == ':' && std::isalpha(static_cast<unsigned char>(c[0]))));
    if (windows) FUZZ_ASSERT(c.find(':') == std::string::npos);  // a stream
    FUZZ_ASSERT(!IsDevice(c));
    for (unsigned char ch : c) FUZZ_ASSERT(ch >= 0x20);
    ++depth;
  }
  FUZZ_ASSERT(depth >= 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  bool windows = (data[0] & 1) != 0;
  std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  size_t split = rest.find('\0');
  std::string folder = split == std::string::npos ? "" : rest.substr(0, split);
  std::string name = split == std::string::npos ? rest : rest.substr(split + 1);
  if (name.find('\0') != std::string::npos) return 0;  // texts end at their first zero
  qef::PathStyle style = windows ? qef::PathStyle::kWindows : qef::PathStyle::kPosix;
  if (qef::CheckItemName(folder.c_str(), name.c_str(), style) == 0) CheckAccepted(folder + name, windows);
  return 0;
}

std::vector<std::string> FuzzSeeds() {
  std::vector<std::string> seeds;
  for (const qef::test::HostileName& h : qef::test::kHostileNames) {
    for (char style : {'\0', '\1'}) {
      std::string seed(1, style);
      seed += h.folder;
      seed.push_back('\0');
      seed += h.name;
      seeds.push_back(seed);
    }
  }
  return seeds;
}
