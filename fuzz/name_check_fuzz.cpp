// The name check: every folder part and name it accepts stays inside the folder it is
// joined to and reaches no device, judged by a separate, plain model of how Windows and
// POSIX resolve such a relative path; and a path of plain names is never refused.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
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

// A plain component: ASCII letters, digits, '-' and '_', with dots and blanks only
// inside it, and no device. Every platform stores such a name as it is.
bool IsPlain(const std::string& c) {
  if (c.empty() || IsDevice(c)) return false;
  for (size_t i = 0; i < c.size(); ++i) {
    unsigned char ch = static_cast<unsigned char>(c[i]);
    bool inner = i > 0 && i + 1 < c.size();
    if (!(std::isalnum(ch) || ch == '-' || ch == '_' || (inner && (ch == '.' || ch == ' ')))) return false;
  }
  return true;
}

// The check's answer against the model: what it accepts stays inside and reaches no
// device; a name, in a folder part, made only of plain components it accepts. Between
// the two (odd dots, blanks, streams on POSIX, no name...) it may go either way.
void CheckVerdict(const std::string& folder, const std::string& name, bool windows, bool accepted) {
  std::string joined = folder + name;
  std::vector<std::string> parts = Components(joined);
  bool plain = !name.empty();
  for (const std::string& c : parts) plain = plain && IsPlain(c);
  if (!accepted) {
    FUZZ_ASSERT(!plain);
    return;
  }
  FUZZ_ASSERT(!joined.empty());
  FUZZ_ASSERT(joined[0] != '/' && joined[0] != '\\');  // not absolute, UNC or a device path
  for (size_t i = 0; i < parts.size(); ++i) {
    const std::string& c = parts[i];
    std::string resolved = windows ? Trimmed(c) : c;
    if (c.empty() || resolved == "." || (windows && resolved.empty())) continue;
    // Any ".." is refused, not only one that climbs out: a folder on the way may be a
    // link by the time the path is used.
    FUZZ_ASSERT(resolved != "..");
    FUZZ_ASSERT(!(i == 0 && c.size() >= 2 && c[1] == ':' && std::isalpha(static_cast<unsigned char>(c[0]))));
    if (windows) FUZZ_ASSERT(c.find(':') == std::string::npos);  // a stream
    FUZZ_ASSERT(!IsDevice(c));
    for (unsigned char ch : c) FUZZ_ASSERT(ch >= 0x20);
  }
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
  CheckVerdict(folder, name, windows, qef::CheckItemName(folder.c_str(), name.c_str(), style) == 0);
  return 0;
}

// The hostile corpus, and plain paths the check accepts, under both platforms' rules.
std::vector<std::string> FuzzSeeds() {
  std::vector<std::pair<std::string, std::string>> paths;
  for (const qef::test::HostileName& h : qef::test::kHostileNames) paths.emplace_back(h.folder, h.name);
  for (const char* folder : {"", "docs/", "a/b/c/", "sub\\deeper\\", "Reports 2024/", "x.y/"}) {
    for (const char* name : {"a.txt", "readme", "CONSOLE", "COM10", "nul1", "x-y_z.tar.gz", "with blanks.txt"})
      paths.emplace_back(folder, name);
  }
  std::vector<std::string> seeds;
  for (const auto& [folder, name] : paths) {
    for (char style : {'\0', '\1'}) {
      std::string seed(1, style);
      seed += folder;
      seed.push_back('\0');
      seed += name;
      seeds.push_back(seed);
    }
  }
  return seeds;
}
