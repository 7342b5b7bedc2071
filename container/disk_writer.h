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
#include <map>
#include <memory>
#include <utility>
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

// Told, while a failed run is undone, of a file it replaced that it cannot put back
// because another run has written a file of its name since: the old file stays under
// the temporary name `kept`. Both paths are relative to the target.
using KeptAside = void (*)(const Text& kept, const Text& name, void* user);

// Told when a later item replaces a file this run made under another spelling of its
// path: the system took both for one file (names that differ only in case, on a
// volume that does not tell case apart). Both paths relative to the target, as the
// two items spell them.
using SpellingReplaced = void (*)(const Text& earlier, const Text& later, void* user);

// What an error says when a file exists and existing files are to be kept.
extern const char kExistsAndKept[];

// A file begun by DiskWriter::BeginFile: written under `written` in a folder, to be
// known as `name` once placed.
struct PendingFile {
  int32_t folder = -1;
  Text name;
  Text written;  // a temporary name beside `name`
  FileId id;
  size_t change = 0;  // its entry in the journal
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
  // With `must_make`, a folder of that name that was there already is `failure` too:
  // a folder the program chose itself is never one that somebody else has put there.
  int32_t MakeTarget(const Text& name, bool must_make, int32_t failure);
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

  // Creates the file `name` in a folder for writing, always beside it under a temporary
  // name, so that a run killed outright leaves no partial file under a real name. An
  // existing entry of the name is refused when keep_existing is set (here, before
  // anything is written), or when it is a folder or (unless SetReplaceReadOnly) a
  // read-only file (here with keep_existing, otherwise when the file is placed); any
  // other is replaced once the new file is complete. 0, or 204.
  int32_t BeginFile(int32_t folder, const Text& name, bool keep_existing, NewFile& out, PendingFile& file);
  // Puts a finished, closed file in place: it takes its name; an existing entry of the
  // name that may be replaced is first renamed aside under a name that keeps its own
  // (removed on Commit). 0, or 204.
  int32_t PlaceFile(const PendingFile& file);

  // ---- items, as an item reader yields them ----
  void SetNaming(const ItemNaming& naming) { naming_ = naming; }
  // keep: an existing file ends the run (204); skip: it is left as it is, and the
  // run goes on. Otherwise it is replaced once the new one is complete.
  void SetExisting(bool keep, bool skip) {
    keep_existing_ = keep;
    skip_existing_ = skip;
  }
  // An existing read-only file is replaced like any other: it is set aside untouched
  // (its read-only state with it), so that undoing the run puts it back exactly.
  void SetReplaceReadOnly(bool replace) { replace_read_only_ = replace; }
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
  // its name; otherwise it is closed and removed. Answers `r`, or the failure of ending.
  int32_t EndFileItem(const ItemHeader& item, int32_t r);
  // A file item makes the folders above it that are missing, as when its folder item
  // was dropped as damaged or passed over (only some items chosen); otherwise its
  // folder must exist (its folder item came first).
  void SetMakeMissingFolders(bool make) { make_missing_folders_ = make; }
  // What Rollback would do now: new files it would remove, replaced files it would put back.
  uint32_t FilesToUndo() const;
  uint32_t FilesToPutBack() const;
  uint32_t SkippedExisting() const { return skipped_existing_; }
  // Files this run made that a later item replaced under another spelling.
  uint32_t ReplacedUnderOtherSpelling() const { return other_spelling_; }
  // The bytes of the items whose files were left as they were.
  uint64_t SkippedExistingBytes() const { return skipped_existing_bytes_; }
  void SetFolderNotMade(FolderNotMade tell, void* user) {
    folder_not_made_ = tell;
    folder_not_made_user_ = user;
  }
  void SetKeptAside(KeptAside tell, void* user) {
    kept_aside_ = tell;
    kept_aside_user_ = user;
  }
  void SetOtherSpelling(SpellingReplaced tell, void* user) {
    other_spelling_told_ = tell;
    other_spelling_user_ = user;
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
    // A folder the run made, reached again under another spelling of its path, is
    // another entry: the next such entry of the same folder, or -1. Undoing lets go
    // of them all, as a folder held open cannot be removed on Windows.
    int32_t same = -1;
  };
  enum Kind { kMadeFile, kMadeFolder, kReplacedFile };
  struct Change {
    Kind kind;
    int32_t folder;  // the folder it happened in; for kMadeFolder the folder made
    Text name;
    FileId id;      // what the run put under `name`
    Text backup;    // kReplacedFile: where the old entry was moved
    FileId old_id;  // kReplacedFile: the old entry
    Text old_name;  // kReplacedFile: the old entry's name as the folder spelled it, to put it back under
  };

  // The held folder for a folder number, opened again through its parents (each
  // checked to be the folder first used) when it has been let go. Null when that is
  // no longer possible; `code` says why (240 or 204).
  Folder* Hold(int32_t folder, int32_t& code);
  // Journals a folder this run has just made inside `parent` (held as `parent_folder`)
  // before anything else can fail, known but not held yet: its number, or -1 when
  // what has the name is no folder. Its identity is `opened`'s when it has been opened
  // already (no second look), else that of what has the name now.
  int32_t NoteMadeFolder(const Folder& parent_folder, int32_t parent, const Text& name, const Text& key,
                         const FileId* opened);
  // Holds a folder NoteMadeFolder noted, opened: its number, or -1 when what opened
  // is not the folder made.
  int32_t HoldMadeFolder(int32_t index, std::unique_ptr<Folder> folder);
  // Adds a folder opened inside `parent` and keeps it held.
  int32_t AddFolder(int32_t parent, const Text& name, std::unique_ptr<Folder> folder);
  // Lets go of every held folder but the root and the given folder with its parents,
  // once more are held than the system's handles allow for comfortably.
  void LimitHeld(int32_t keep);
  // The folder known under a relative path below the target, or -1; and the index
  // entry for a folder (a hash of the paths, growing with the folders).
  int32_t Known(const Text& key) const;
  void Index(int32_t folder);
  // Why an existing entry may not give its name to the item's file, or null when it
  // may: a folder never does, nor a file that was there before the run when existing
  // files are kept, or that its owner made read-only (unless SetReplaceReadOnly). A
  // file this run wrote is no existing file: the same name stored twice ends with the
  // later copy, as in any run.
  const char* Refusal(const EntryInfo& old, bool keep_existing) const;
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
  using Identity = std::pair<uint64_t, uint64_t>;
  // The files this run created, by identity, each with the change that names where
  // it was placed.
  std::map<Identity, size_t> made_files_;
  std::map<Identity, int32_t> made_folders_;  // the folders this run made, by identity
  int32_t target_ = -1;
  int32_t held_ = 0;
  int32_t limit_ = 0;  // held folders that make LimitHeld let go
  Text target_path_;
  TemporaryNames names_;  // one random part for the run's names

  ItemNaming naming_;
  bool keep_existing_ = false;
  bool skip_existing_ = false;
  bool replace_read_only_ = false;
  bool make_missing_folders_ = false;
  uint32_t skipped_existing_ = 0;
  uint32_t other_spelling_ = 0;
  SpellingReplaced other_spelling_told_ = nullptr;
  void* other_spelling_user_ = nullptr;
  uint64_t skipped_existing_bytes_ = 0;
  FolderNotMade folder_not_made_ = nullptr;
  void* folder_not_made_user_ = nullptr;
  KeptAside kept_aside_ = nullptr;
  void* kept_aside_user_ = nullptr;
  NewFile out_;
  PendingFile pending_;
  Text item_path_;  // the current item's relative path on disk
  const char* why_ = nullptr;
  int32_t native_ = 0;
  ErrorInfo error_;
};

}  // namespace qef
