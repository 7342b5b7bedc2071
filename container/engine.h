#pragma once
// The extraction engine: one call that checks its arguments, recognises the container
// file, opens it, and joins an item reader to a disk writer: each item the reader
// yields, the writer recreates (or, verifying, the item's name is checked and its data
// read and dropped, with no writer at all). It answers one result code
// (core/result.h). After a failure it removes exactly what the failed run created, and
// restores any file the run had replaced.
#include <cstdint>

#include "container/disk_writer.h"
#include "container/item_reader.h"
#include "core/error.h"
#include "core/stream.h"
#include "core/text.h"
#include "core/value.h"
#include "fs/file_stream.h"

namespace qef {

// What a file or folder item does when the content list is read.
enum class ItemAction {
  kExtract,  // create folders and write files under the target folder
  kVerify,   // decrypt and decode everything, write nothing (the data is read and dropped)
};

// Called once per item as it is read (after its data has been handled and it checked
// out). `refused`: with ExtractOptions::go_on_after_refused_names, extraction would
// refuse its name.
using ItemObserver = void (*)(const ItemHeader& item, bool refused, void* user);
// Asked of each file and folder item before it is handled: false passes it over (its
// data is read and dropped; nothing is made, checked or told to the observer).
using ItemSelector = bool (*)(const ItemHeader& item, void* user);
// Salvaging: called for each item that does not match its checksum (nothing of it is
// kept; `code` is kBadChecksum).
using DamageObserver = void (*)(const ItemHeader& item, int32_t code, void* user);
// Called once before a failed or cancelled run is undone, with what undoing has to do:
// new files to remove and replaced files to put back.
using UndoNotice = void (*)(uint32_t new_files, uint32_t replaced_files, void* user);

struct ExtractOptions {
  ItemAction action = ItemAction::kExtract;
  bool keep_existing = false;  // refuse (204) instead of replacing an existing file
  bool skip_existing = false;  // leave an existing file as it is and go on
  // Replace an existing read-only file too (it is set aside as it is, and put back as
  // it was when the run is undone); otherwise it fails the run (204).
  bool replace_read_only = false;
  // Verifying only: an item whose name extraction would refuse is reported to the
  // observer as refused and the run goes on through every item; it ends with 240.
  bool go_on_after_refused_names = false;
  uint32_t* skipped_existing = nullptr;  // when given: how many files were left so
  uint64_t* skipped_bytes = nullptr;     // when given: the sizes of their items, summed
  int32_t decode_threads = 1;            // 2 or more: a second thread reads and decodes ahead
  ItemObserver observer = nullptr;
  void* observer_user = nullptr;
  ItemSelector selector = nullptr;  // null: every item
  void* selector_user = nullptr;
  NameMapper name_mapper = nullptr;  // null: names are used as stored
  void* name_mapper_user = nullptr;
  // Where the container lies in its file: the whole file, or a program's payload part,
  // which is read in place (its kind then follows from its first bytes alone).
  FilePart container_part;
  // When given: the first failure with its context (the item's path, what was being
  // done, the system's words), as far as they are known.
  ErrorInfo* error = nullptr;
  // The target was chosen by the program, not named by the user: the run makes it
  // (a folder or link of its name that is there already ends the run with 1) and
  // reaches it from its parent, never through a link.
  bool new_target = false;
  // Extracting: told of each file replaced that a failed run cannot put back, as
  // another run has written its name since (the old file stays under a temporary name).
  KeptAside kept_aside = nullptr;
  void* kept_aside_user = nullptr;
  // An item that does not match its checksum is dropped (told to `damaged`) and the
  // run goes on; when the archive cannot be read on, the items before stay. Every item
  // that checked out is kept; the run still ends with the first failure, or with
  // kBadChecksum when items were dropped. Only a cancelled run is undone.
  bool salvage = false;
  DamageObserver damaged = nullptr;
  void* damaged_user = nullptr;
  uint32_t* damaged_items = nullptr;  // when given: how many items were dropped
  // When given: set to whether the archive carries item checksums (then every item was
  // checked against its own; without them only deflated data is checked by zlib's
  // Adler-32, and names, file information and stored data not at all).
  bool* had_checksums = nullptr;
  UndoNotice undoing = nullptr;
  void* undoing_user = nullptr;
  // Extracting: told of each folder that could not be made (a file of its name in the
  // way); the run goes on and its result does not change.
  FolderNotMade folder_not_made = nullptr;
  void* folder_not_made_user = nullptr;
  // Extracting: told of each file the run made that a later item replaced under
  // another spelling of its path (the system took both for one file: names that
  // differ only in case, where case is not told apart), and how many there were.
  SpellingReplaced other_spelling = nullptr;
  void* other_spelling_user = nullptr;
  uint32_t* replaced_other_spelling = nullptr;
};

// The engine state for one extraction: created by its caller, prepared and finished by
// ExtractContainer. Not shared between threads.
class ExtractEngine {
 public:
  ExtractEngine() = default;
  ExtractEngine(const ExtractEngine&) = delete;
  ExtractEngine& operator=(const ExtractEngine&) = delete;

  // Sets the ready flag, empties the header list, resets the kind.
  void Prepare();
  // 11 when not prepared; 209 for an empty path; 312 for an older container format;
  // otherwise remembers the path and its container kind (a missing file counts as 1).
  int32_t PreparePath(const Text& path, const FilePart& part = FilePart());
  // Empties the header list and clears the ready flag.
  void Finish();

  bool IsReady() const { return ready_; }
  int32_t GetKind() const { return kind_; }
  PropertyList& HeaderList() { return header_; }
  const Text& ContainerPath() const { return path_; }
  const FilePart& ContainerPart() const { return part_; }

 private:
  PropertyList header_;
  Text path_;
  FilePart part_;
  bool ready_ = false;
  int32_t kind_ = 0;
};

// Extracts the container at container_path into target_folder (internal form; ending
// in '/'; empty: next to the container file), creating the target with its parents
// when it does not exist. Progress goes to the callback (may be null); a non-zero
// answer of the callback stops the run with that answer (40 when the user cancelled).
int32_t ExtractContainer(ExtractEngine& engine, const Text& container_path, const Text& password,
                         const Text& target_folder, const ProgressCallback* progress,
                         const ExtractOptions* options = nullptr);

}  // namespace qef
