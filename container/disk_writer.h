#pragma once
// Where an extraction writes: the target folder, the folders below it, and the journal
// of what this run changed there, so that a failed run is undone exactly and a
// successful one drops the old files it replaced.
//
// Every folder below the target is reached from the target one name at a time
// through held folders (fs.h's Folder), never through a link, and is known by its
// identity from then on: a folder swapped for a link while the run goes on is not
// followed, a folder used again must still be the one first used, and undoing
// touches only entries that still are what this run made, whatever their names.
#include <cstdint>
#include <memory>
#include <vector>

#include "core/text.h"
#include "core/value.h"
#include "fs/fs.h"
#include "fs/temp_file.h"

namespace qef {

// A file begun by DiskWriter::BeginFile: written under `written` in a folder, to be
// known as `name` once placed.
struct PendingFile {
  int32_t folder = -1;
  Text name;
  Text written;  // `name` itself, or a temporary name beside an existing file
  FileId id;
};

class DiskWriter {
 public:
  DiskWriter();
  ~DiskWriter();  // lets go of the folders; neither keeps nor undoes anything
  DiskWriter(const DiskWriter&) = delete;
  DiskWriter& operator=(const DiskWriter&) = delete;

  // Opens an existing folder (a path the user gave) as the target: 0, or 221.
  int32_t OpenTarget(const Text& folder);
  // Makes the folder `name` inside the target and makes it the target, noting it as
  // made by this run: 0, or `failure` when it cannot be made or opened.
  int32_t MakeTarget(const Text& name, int32_t failure);
  bool IsOpen() const { return target_ >= 0; }
  // The target's path as given to OpenTarget, with the names MakeTarget added.
  const Text& TargetPath() const { return target_path_; }

  // The folder at a relative path below the target (components separated by '/';
  // empty: the target itself), made with its missing parents when `create` is set.
  // 0 with its number; 240 when a component is a link, or a folder used before has
  // been replaced; 204 when a component is not a folder, or is missing without
  // `create`; 1 when a folder cannot be made.
  int32_t FindFolder(const Text& relative, bool create, int32_t& folder);
  // Sets a folder's attributes from a file information list: 0, or 1.
  int32_t ApplyToFolder(int32_t folder, const PropertyList* info);

  // Creates the file `name` in a folder for writing: in place when the name is free;
  // else, unless keep_existing is set or the entry is a folder or a read-only file,
  // beside it under a temporary name, to replace it once complete. 0, or 204.
  int32_t BeginFile(int32_t folder, const Text& name, bool keep_existing, NewFile& out, PendingFile& file);
  // Whether a file (not a folder) has the name `name` in a folder.
  bool FileThere(int32_t folder, const Text& name);
  // Puts a finished, closed file in place: an existing entry of its name is renamed
  // aside (kept until Commit), the new file takes the name. 0, or 204.
  int32_t PlaceFile(const PendingFile& file);

  // Undoes the run, newest change first: files and folders it made go, replaced files
  // come back; an entry that is no longer what the run left there stays as it is.
  void Rollback();
  // Keeps the run's output and removes the old files it replaced (each only while it
  // still is that file).
  void Commit();

 private:
  struct FolderEntry {
    int32_t parent = -1;  // -1: opened by its path, the root of all the others
    Text name;            // the root's path, or the name inside the parent
    FileId id;
    std::unique_ptr<Folder> held;  // null while not held
    Text key;                      // below the target: its relative path ("a/b/"; "" the target)
    int32_t next = -1;             // the next folder of its bucket in the index
  };
  enum Kind { kMadeFile, kMadeFolder, kReplacedFile };
  struct Change {
    Kind kind;
    int32_t folder;  // the folder it happened in; for kMadeFolder the folder made
    Text name;
    FileId id;       // what the run put under `name`
    Text backup;     // kReplacedFile: where the old entry was moved
    FileId old_id;   // kReplacedFile: the old entry
  };

  // The held folder for a folder number, opened again through its parents (each
  // checked to be the folder first used) when it has been let go. Null when that is
  // no longer possible; `code` says why (240 or 204).
  Folder* Hold(int32_t folder, int32_t& code);
  // Adds a folder opened inside `parent` and keeps it held.
  int32_t AddFolder(int32_t parent, const Text& name, std::unique_ptr<Folder> folder);
  // Lets go of every held folder but the root and the given folder with its parents,
  // once more are held than the system's handles allow for comfortably.
  void LimitHeld(int32_t keep);
  // The folder known under a relative path below the target, or -1; and the index
  // entry for a folder (a hash of the paths, growing with the folders).
  int32_t Known(const Text& key) const;
  void Index(int32_t folder);
  // A name beside the item's files that no stored name can foresee.
  Text TemporaryName();
  void Undo(const Change& change);
  void Close();

  std::vector<FolderEntry> folders_;
  std::vector<int32_t> buckets_;  // first folder of each bucket, or -1
  std::vector<Change> changes_;
  int32_t target_ = -1;
  int32_t held_ = 0;
  int32_t limit_ = 0;  // held folders that make LimitHeld let go
  Text target_path_;
  TemporaryNames names_;  // one random part for the run's names
};

}  // namespace qef
