#include "fs/temp_file.h"

#include <cstdio>
#include <cstring>

#include "core/result.h"
#include "fs/path.h"

namespace qef {

namespace {

const uint32_t kNameTries = 1000;
const char kPrefix[] = "~qef-";
const char kSuffix[] = ".tmp";
const char kAside[] = ".orig";
const int32_t kLongestName = 255;  // bytes of one component on the usual file systems
const size_t kTagLength = 16;
const uint32_t kPiece = 1u << 30;  // NewFile::Write takes 32-bit lengths

}  // namespace

TemporaryNames::TemporaryNames(const char* tag) { std::snprintf(tag_, sizeof tag_, "%s", tag); }

namespace {

void DrawTag(char* tag) {
  if (tag[0] != 0) return;
  unsigned char random[8] = {};
  UnforeseeableBytes(random, sizeof random);
  for (size_t i = 0; i < sizeof random; ++i) std::snprintf(tag + 2 * i, 3, "%02x", random[i]);
}

}  // namespace

Text TemporaryNames::Next() {
  DrawTag(tag_);
  Text name;
  name.Format("%s%s-%lu%s", kPrefix, tag_, static_cast<unsigned long>(made_++), kSuffix);
  return name;
}

Text TemporaryNames::Aside(const Text& original) {
  DrawTag(tag_);
  Text name;
  name.Format("%s%s-%lu%s", kPrefix, tag_, static_cast<unsigned long>(made_++), kAside);
  if (name.GetLength() + 1 + original.GetLength() <= kLongestName) {
    name.AppendChar('-');
    name.Append(original);
  }
  return name;
}

int32_t TempFile::Create(const Text& destination, TemporaryNames& names) {
  Discard();
  destination_ = destination;
  Text folder = FolderOf(destination);
  if (!folder.IsEmpty() && !FolderExists(folder)) CreateFolder(folder);
  for (uint32_t n = 0; n < kNameTries; ++n) {
    Text name = Text::Concat(folder, names.Next());
    bool exists = false;
    if (file_.Create(name, exists) == kOk) {
      name_ = name;
      return kOk;
    }
    if (!exists) break;
  }
  return kCannotOpen;
}

int32_t TempFile::Write(const void* data, size_t size) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  int32_t r = kOk;
  for (size_t done = 0; r == kOk && done < size;) {
    uint32_t n = size - done < kPiece ? static_cast<uint32_t>(size - done) : kPiece;
    r = file_.Write(p + done, n);
    done += n;
  }
  return r;
}

int32_t TempFile::Keep() {
  int32_t r = file_.Close();
  if (r == kOk && !MoveIntoPlace(name_, destination_)) r = kCannotOpen;
  if (r == kOk) name_ = Text();
  return r;
}

void TempFile::Discard() {
  file_.Close();
  if (!name_.IsEmpty()) RemoveFile(name_);
  name_ = Text();
}

TemporaryKind KindOfTemporaryName(const Text& name, Text* original) {
  // "~qef-" 16 hex digits '-' a number, then ".tmp", or ".orig" with '-' and a name or
  // nothing after it
  const char* s = name.Str();
  const char* end = s + name.GetLength();
  size_t prefix = sizeof kPrefix - 1;
  if (static_cast<size_t>(end - s) < prefix + kTagLength + 2 || std::memcmp(s, kPrefix, prefix) != 0)
    return TemporaryKind::kNone;
  const char* p = s + prefix;
  for (size_t i = 0; i < kTagLength; ++i, ++p)
    if (!((*p >= '0' && *p <= '9') || (*p >= 'a' && *p <= 'f'))) return TemporaryKind::kNone;
  if (*p++ != '-') return TemporaryKind::kNone;
  const char* digits = p;
  while (p < end && *p >= '0' && *p <= '9') ++p;
  if (p == digits) return TemporaryKind::kNone;
  size_t rest = static_cast<size_t>(end - p);
  if (rest == sizeof kSuffix - 1 && std::memcmp(p, kSuffix, rest) == 0) return TemporaryKind::kNewFile;
  size_t aside = sizeof kAside - 1;
  if (rest < aside || std::memcmp(p, kAside, aside) != 0) return TemporaryKind::kNone;
  p += aside;
  if (p < end && (*p != '-' || p + 1 == end)) return TemporaryKind::kNone;
  if (original != nullptr) *original = p < end ? Text(p + 1) : Text();
  return TemporaryKind::kOriginal;
}

}  // namespace qef
