#pragma once
// Writing aside: a new file is written under a temporary name beside its destination
// and either kept, taking the destination's name in one rename, or discarded. Every
// temporary name the system makes comes from one scheme, so that whatever a killed
// run leaves behind is recognisable as such.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/text.h"
#include "fs/fs.h"

namespace qef {

// Names "~qef-<16 hex digits>-<n>.tmp" for new files being written, and
// "~qef-<16 hex digits>-<n>.orig-<name>" for an existing file set aside while a new
// one takes its name; one component each. The hex digits are drawn once per source
// from the system's generator, so that nobody can foresee the names (an archive cannot
// store an item under one on purpose, nor can a link be planted there); n counts the
// names made. Should the generator fail, the digits are zeros and whoever uses the
// names must still create them exclusively.
class TemporaryNames {
 public:
  TemporaryNames() = default;
  // A source with a known tag (16 hex digits), for tests that plant something under
  // the name it will give.
  explicit TemporaryNames(const char* tag);
  // A name for a new file.
  Text Next();
  // A name for the existing file `original` (one component) set aside: it carries the
  // original name, so that whoever finds it after a run was killed knows which file it
  // was and can put it back. A name too long to carry it ends in ".orig" alone.
  Text Aside(const Text& original);

 private:
  char tag_[17] = {};
  uint32_t made_ = 0;
};

// What a name (one component) is among those TemporaryNames gives: what a run killed
// outright (SIGKILL, a power cut) leaves behind.
enum class TemporaryKind {
  kNone,      // not such a name
  kNewFile,   // a new file, complete or not, that never took its name: never anybody's only copy
  kOriginal,  // an existing file set aside to be replaced: maybe the only copy of the user's file
};
// For kOriginal, `original` receives the name it had (empty when it was too long to keep).
TemporaryKind KindOfTemporaryName(const Text& name, Text* original = nullptr);
inline bool IsTemporaryName(const Text& name) { return KindOfTemporaryName(name) != TemporaryKind::kNone; }

// The files in one folder (internal form, ending in '/') whose names are temporary
// names, sorted; none when the folder cannot be read. Another run can only report
// them: the run that made them may still be going on. The folders of such names, found
// in the same search, go to `folders` when given: an extraction without a target
// writes into one.
std::vector<Text> FindTemporaryFiles(const Text& folder, std::vector<Text>* folders = nullptr);

// A file written aside and then kept or discarded. It is created only where nothing
// had its name, so no planted file or link is ever written through; Keep puts it in
// the destination's place, replacing an existing file in one step; Discard, or the
// destructor of one not kept, removes it.
class TempFile {
 public:
  TempFile() = default;
  ~TempFile() { Discard(); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  // Creates the destination's folder when it is missing, then the file beside the
  // destination under the first name from `names` that nothing has. 0, or
  // kCannotOpen when no such file can be made.
  int32_t Create(const Text& destination, TemporaryNames& names);
  int32_t Create(const Text& destination) { return Create(destination, names_); }
  // 0, or kShortWrite (a full disk).
  int32_t Write(const void* data, size_t size);
  // Closes the file; it stays aside, to be written again by name or kept. 0, or
  // kShortWrite when the last bytes cannot be written.
  int32_t Close() { return file_.Close(); }
  // Closes the file and puts it in the destination's place: 0; kShortWrite as Close;
  // kCannotOpen when it cannot take the name. A file not kept is still discarded.
  int32_t Keep();
  // Closes and removes the file; nothing once it is kept or gone.
  void Discard();
  // The file's name while it is aside, else empty.
  const Text& Name() const { return name_; }

 private:
  TemporaryNames names_;
  NewFile file_;
  Text name_;
  Text destination_;
};

}  // namespace qef
