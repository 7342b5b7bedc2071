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
const size_t kTagLength = 16;
const uint32_t kPiece = 1u << 30;  // NewFile::Write takes 32-bit lengths

}  // namespace

TemporaryNames::TemporaryNames(const char* tag) { std::snprintf(tag_, sizeof tag_, "%s", tag); }

Text TemporaryNames::Next() {
  if (tag_[0] == 0) {
    unsigned char random[8] = {};
    UnforeseeableBytes(random, sizeof random);
    for (size_t i = 0; i < sizeof random; ++i) std::snprintf(tag_ + 2 * i, 3, "%02x", random[i]);
  }
  Text name;
  name.Format("%s%s-%lu%s", kPrefix, tag_, static_cast<unsigned long>(made_++), kSuffix);
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

bool IsTemporaryName(const Text& name) {
  // "~qef-" 16 hex digits '-' a number ".tmp"
  const char* s = name.Str();
  size_t n = static_cast<size_t>(name.GetLength());
  size_t prefix = sizeof kPrefix - 1, suffix = sizeof kSuffix - 1;
  if (n < prefix + kTagLength + 2 + suffix) return false;
  if (std::memcmp(s, kPrefix, prefix) != 0 || std::memcmp(s + n - suffix, kSuffix, suffix) != 0) return false;
  const char* p = s + prefix;
  for (size_t i = 0; i < kTagLength; ++i, ++p)
    if (!((*p >= '0' && *p <= '9') || (*p >= 'a' && *p <= 'f'))) return false;
  if (*p++ != '-') return false;
  const char* end = s + n - suffix;
  if (p == end) return false;
  for (; p < end; ++p)
    if (*p < '0' || *p > '9') return false;
  return true;
}

}  // namespace qef
