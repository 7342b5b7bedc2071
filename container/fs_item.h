#pragma once
// File and folder items of a content list. Reading the content list makes every item
// act as it is read, in stored order: a folder item creates its folder, a file item
// writes its file (its data follows its property list on the stream). Writing the list
// makes file items copy their source file into the stream.
//
// On-disk, after the value record header (tag 3100, key, length):
//   nested property list (one List record)   file items only: 4-byte size, data
#include <cstdint>
#include <cstdio>
#include <vector>

#include "container/engine.h"
#include "core/stream.h"
#include "core/value.h"
#include "fs/path.h"

namespace qef {

// What one run created, so that a failed run can be undone exactly: files it wrote,
// folders it made, and files it replaced (the old file kept aside until the end).
class ExtractJournal {
 public:
  ExtractJournal() = default;
  ExtractJournal(const ExtractJournal&) = delete;
  ExtractJournal& operator=(const ExtractJournal&) = delete;

  void FileCreated(const Text& path) { Add(kCreatedFile, path, Text()); }
  void FolderCreated(const Text& path) { Add(kCreatedFolder, path, Text()); }
  void FileReplaced(const Text& path, const Text& backup) { Add(kReplacedFile, path, backup); }
  // Undoes everything, newest first: created files and folders go, replaced files come
  // back. Never touches anything the run did not create.
  void Rollback();
  // Keeps the run's output and drops the kept-aside old files.
  void Commit();

 private:
  enum Kind { kCreatedFile, kCreatedFolder, kReplacedFile };
  struct Entry {
    Kind kind;
    Text path;
    Text backup;
  };
  void Add(Kind kind, const Text& path, const Text& backup);
  std::vector<Entry> entries_;
};

// How items behave in one run: carried to every item through the stream parameters.
class ItemContext {
 public:
  ItemContext();
  ~ItemContext();
  ItemContext(const ItemContext&) = delete;
  ItemContext& operator=(const ItemContext&) = delete;

  ItemAction action = ItemAction::kExtract;
  bool keep_existing = false;
  ItemObserver observer = nullptr;
  void* observer_user = nullptr;
  NameMapper name_mapper = nullptr;
  void* name_mapper_user = nullptr;
  PathStyle style = kNativeStyle;
  // Whether the content list keeps the items it has read; without it, memory stays
  // bounded whatever the number of items.
  bool keep_items = true;
  ExtractJournal journal;

  // The copy buffer, allocated once per run; null when memory ran out.
  unsigned char* Buffer();
  static const uint32_t kBufferSize = 1u << 20;

  // What this run has already checked: the base folder that exists, and the deepest
  // folder (ending in '/') known to hold no link between it and the base. Items come in
  // folder order, so most checks end here instead of asking the system again.
  Text verified_base;
  Text verified_folder;

 private:
  unsigned char* buffer_ = nullptr;
};

// Reads or writes one item by the stream's direction (after its record header).
// Answers the stream's error code; a failure is stored in the stream.
int32_t SerialiseItem(FsItem& item, Stream& stream);

// The record length of an item: its nested list's record size, plus 4 + the source
// file's size for a file item.
uint32_t ItemSize(const FsItem& item, const StreamParams* params);

// The path an item names under its base folder: base + folder part + name, with the
// stored names' '\' separators turned into '/'.
Text ItemPath(const Text& base_folder, const FsItem& item);

// An item's folder part and name as they are used on disk (mapped when the context has
// a mapper), checked by the one name check: 0, or 240.
int32_t ItemNames(const FsItem& item, const ItemContext& context, Text& folder, Text& name);

}  // namespace qef
