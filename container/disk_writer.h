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

#include "container/item_reader.h"
#include "core/error.h"
#include "core/text.h"
#include "core/value.h"
#include "fs/fs.h"
#include "fs/path.h"
#include "fs/temp_file.h"

namespace qef {

// Turns a stored name (a folder part or a name, in the container's code page) into the
// name to use on disk; false refuses the item (it ends the run with 240).
using NameMapper = bool (*)(const Text& stored, Text& on_disk, void* user);

// How stored names become names on disk.
struct ItemNaming {
  NameMapper mapper = nullptr;  // null: names are used as stored
  void* user = nullptr;
  PathStyle style = kNativeStyle;
};

// An item's folder part and name as they are used on disk (mapped when there is a
// mapper), checked by the one name check: 0, or 240. Whoever only reads (a lister, a
// tester) asks the same question as the disk writer.
int32_t CheckedItemNames(const ItemHeader& item, const ItemNaming& naming, Text& folder, Text& name);

// Told of a folder item whose folder could not be made (a file of its name is in the
// way): the run goes on, as the items inside it fail when they are written.
using FolderNotMade = void (*)(const ErrorInfo& why, void* user);

// What an error says when a file exists and existing files are to be kept.
extern const char kExistsAndKept[];

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
  int32_t ApplyToFolder(int32_t folder, const FileInfo& info);

  // Creates the file `name` in a folder for writing: in place when the name is free;
  // else, unless keep_existing is set or the entry is a folder or a read-only file,
  // beside it under a temporary name, to replace it once complete. 0, or 204.
  int32_t BeginFile(int32_t folder, const Text& name, bool keep_existing, NewFile& out, PendingFile& file);
  // Whether a file (not a folder) has the name `name` in a folder.
  bool FileThere(int32_t folder, const Text& name);
  // Puts a finished, closed file in place: an existing entry of its name is renamed
  // aside (kept until Commit), the new file takes the name. 0, or 204.
  int32_t PlaceFile(const PendingFile& file);

  // ---- items, as an item reader yields them ----
  void SetNaming(const ItemNaming& naming) { naming_ = naming; }
  // keep: an existing file ends the run (204); skip: it is left as it is, and the
  // run goes on. Otherwise it is replaced once the new one is complete.
  void SetExisting(bool keep, bool skip) {
    keep_existing_ = keep;
    skip_existing_ = skip;
  }
  // A folder item: its folder made with the missing ones above it, and its attributes
  // set. 0, or 240 for a refused name or a link on the way; a folder that cannot be
  // made is no error here (the items inside it fail when they are written).
  int32_t MakeFolderItem(const ItemHeader& item);
  // A file item: its file created, for WriteData and then EndFileItem. 0; 0 with
  // `skipped` set when an existing file is left as it is (nothing to write then);
  // 240, 204 or 1 when it cannot be created.
  int32_t BeginFileItem(const ItemHeader& item, bool& skipped);
  // 0, or 205 (a full disk).
  int32_t WriteData(const unsigned char* data, uint32_t length);
  // Ends the file begun: when `r` is 0 its times and attributes are set and it takes
  // its name; otherwise it is only closed (Rollback removes it). Answers `r`, or the
  // failure of ending.
  int32_t EndFileItem(const ItemHeader& item, int32_t r);
  uint32_t SkippedExisting() const { return skipped_existing_; }
  void SetFolderNotMade(FolderNotMade tell, void* user) {
    folder_not_made_ = tell;
    folder_not_made_user_ = user;
  }
  // The first failure of an item, with its path and what the system said.
  const ErrorInfo& Error() const { return error_; }

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
    bool made = false;             // made by this run: only such a folder takes stored attributes
  };
  enum Kind { kMadeFile, kMadeFolder, kReplacedFile };
  struct Change {
    Kind kind;
    int32_t folder;  // the folder it happened in; for kMadeFolder the folder made
    Text name;
    FileId id;      // what the run put under `name`
    Text backup;    // kReplacedFile: where the old entry was moved
    FileId old_id;  // kReplacedFile: the old entry
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

  // Notes why the last operation failed, for the item's error.
  int32_t Note(int32_t code, const char* why, int32_t native = 0) {
    why_ = why;
    native_ = native;
    return code;
  }
  int32_t ItemFailed(int32_t code, const Text& path);

  std::vector<FolderEntry> folders_;
  std::vector<int32_t> buckets_;  // first folder of each bucket, or -1
  std::vector<Change> changes_;
  int32_t target_ = -1;
  int32_t held_ = 0;
  int32_t limit_ = 0;  // held folders that make LimitHeld let go
  Text target_path_;
  TemporaryNames names_;  // one random part for the run's names

  ItemNaming naming_;
  bool keep_existing_ = false;
  bool skip_existing_ = false;
  uint32_t skipped_existing_ = 0;
  FolderNotMade folder_not_made_ = nullptr;
  void* folder_not_made_user_ = nullptr;
  NewFile out_;
  PendingFile pending_;
  Text item_path_;  // the current item's relative path on disk
  const char* why_ = nullptr;
  int32_t native_ = 0;
  ErrorInfo error_;
};

}  // namespace qef
