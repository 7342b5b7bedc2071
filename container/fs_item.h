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

#include "container/disk_writer.h"
#include "container/engine.h"
#include "core/stream.h"
#include "core/value.h"
#include "fs/path.h"

namespace qef {

// How items behave in one run: carried to every item through the stream parameters.
class ItemContext {
 public:
  ItemContext();
  ~ItemContext();
  ItemContext(const ItemContext&) = delete;
  ItemContext& operator=(const ItemContext&) = delete;

  ItemAction action = ItemAction::kExtract;
  bool keep_existing = false;
  bool skip_existing = false;      // leave an existing file as it is and go on
  bool go_on_after_refused_names = false;  // verifying: see ExtractOptions
  bool item_refused = false;       // the item being read has a name extraction refuses
  uint32_t refused_names = 0;
  uint32_t skipped_existing = 0;   // how many were left so
  ItemObserver observer = nullptr;
  void* observer_user = nullptr;
  NameMapper name_mapper = nullptr;
  void* name_mapper_user = nullptr;
  PathStyle style = kNativeStyle;
  // Whether the content list keeps the items it has read; without it, memory stays
  // bounded whatever the number of items.
  bool keep_items = true;
  // The target and what this run changed below it; opened by the first item when the
  // engine has not opened it.
  DiskWriter disk;

  // The copy buffer, allocated once per run; null when memory ran out.
  unsigned char* Buffer();
  static const uint32_t kBufferSize = 1u << 20;

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
