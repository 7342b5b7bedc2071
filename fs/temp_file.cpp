#include "fs/temp_file.h"

#include <cstdio>
#include <cstring>

#include "core/result.h"
#include "fs/path.h"

namespace qef {

namespace {

const uint32_t kNameTries = 1000;
const uint32_t kPiece = 1u << 30;  // NewFile::Write takes 32-bit lengths

}  // namespace

TemporaryNames::TemporaryNames(const char* tag) { std::snprintf(tag_, sizeof tag_, "%s", tag); }

Text TemporaryNames::Next() {
  if (tag_[0] == 0) {
    unsigned char random[8] = {};
    UnforeseeableBytes(random, sizeof random);
    for (int i = 0; i < 8; ++i) std::snprintf(tag_ + 2 * i, 3, "%02x", random[i]);
  }
  Text name;
  name.Format("~qef-%s-%lu.tmp", tag_, static_cast<unsigned long>(made_++));
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

}  // namespace qef
