#pragma once
// The pull reader of a content list: it yields the file and folder items one at a
// time, in stored order, with their data, from any reading stream (a container's
// decoded content, a file, memory). It opens nothing on disk and never acts on an
// item: whoever asks for the items does that (a disk writer, a lister, a tester).
//
// An item's record, after its value record header (tag 3100, key, length):
//   its property list (one List record)   file items only: 4-byte size, data
// Items are found wherever the content list's records hold them: in the list itself,
// in lists inside it, even inside another item's properties (that item then comes
// after the ones it holds, as its properties end after them).
//
// A content list with checksums is stricter: every item stands in the content list
// itself and is directly followed by its checksum record, the CRC-32 of the item's
// record as read (core/format.h). The header says so (kHeaderChecksums); a checksum
// record after an item says so too, so that damage to the header's key cannot turn
// the checks off.
#include <cstdint>
#include <vector>

#include "container/checksum.h"
#include "core/stream.h"
#include "core/text.h"
#include "core/value.h"

namespace qef {

// One item as stored; names are the stored texts, not yet checked or mapped.
struct ItemHeader {
  uint8_t kind = 0;         // key 100: 0 file, 1 folder, other values items without effect
  Text folder;              // key 201: the folder part, relative to the target
  Text name;                // key 200
  PropertyList info;        // key 300: attributes and times (empty when absent)
  uint32_t size = 0;        // file items: the data's size
  PropertyList properties;  // the whole property list

  // The stored relative path, with the stored '\' separators as '/' (folders without
  // a trailing '/'): what a message names.
  Text StoredPath() const;
};

class ItemReader {
 public:
  // Reads from `in`, which stands at the start of the content list's record and stays
  // owned by the caller.
  explicit ItemReader(Stream& in);
  // Every item must be followed by its checksum record, which EndItem compares.
  void ExpectChecksums(bool expect) { checksums_ = expect; }
  // Whether checksums were expected or found: every item read was then checked.
  bool HasChecksums() const { return checksums_; }
  ~ItemReader();
  ItemReader(const ItemReader&) = delete;
  ItemReader& operator=(const ItemReader&) = delete;

  // The next item: true with `item` filled; false at the end of the content list or
  // on a failure (GetError then says which). The previous item is ended first as
  // EndItem does; a checksum that does not match then fails the reading (kBadChecksum).
  bool NextItem(ItemHeader& item);
  // Ends the current item: what is left of its data is read and dropped, then its
  // checksum record, when checksums are expected, is read and compared. 0; kBadChecksum
  // when the item does not match it (the reading can go on: the next item follows);
  // or the reading's failure (a checksum record that is not there is one, as what
  // stands in its place cannot be read on from).
  int32_t EndItem();
  // The next piece of the current file item's data, inside the reader's buffer: true
  // with `data` and `length` set; false when the data is all read, or on a failure.
  bool ReadData(const unsigned char*& data, uint32_t& length);
  // Reads and drops the rest of the current item's data: 0, or the error.
  int32_t SkipData();
  // Bytes read so far (modulo 2^32), from the first byte of the content list's record.
  uint32_t BytesRead() const { return in_.GetTotal(); }
  // Bytes of the current item's data not yet read.
  uint32_t DataLeft() const { return left_; }
  // The first failure (the stream's code; 101 for memory or records nested too deep;
  // 1 for an item whose properties are not a list); 0 so far.
  int32_t GetError() const { return in_.GetError(); }

  static const uint32_t kBufferSize = 1u << 20;
  // What one item's properties may take, counted as their records' bytes: far more
  // than a name and a folder part as long as any system can create (32,767 UTF-16
  // units, at most three bytes each), with their times and attributes. A record
  // outside an item, which is read and dropped, may not be longer either. An item that
  // states more is refused with 101, as records nested too deep are: whatever an
  // archive says, the reader's memory stays within a few of these.
  static const uint32_t kMaxProperties = 256u << 10;

 private:
  // A record holding records, being read: a list (with the records still to come) or
  // an item (whose properties are the list frame above it).
  struct Frame {
    bool is_item = false;
    bool keep = false;  // a list inside an item's properties: its values are kept
    uint32_t left = 0;
    Value list;
  };
  int32_t Fail(int32_t code) { return in_.Fail(code); }
  // The checksum of an item begins with its record header, read before it is known to
  // be an item's.
  void StartChecksum(uint16_t tag, uint16_t key, uint32_t length);
  // Reads the next record of the innermost list: a value, or the opening of a list or
  // an item. 0, or the error.
  int32_t Step();
  // A record's header: the one read ahead by EndItem, or the next one.
  int32_t ReadRecordHeader(uint16_t& tag, uint16_t& key, uint32_t& length);
  // An item's properties are complete: fills `item`, reads a file's size.
  int32_t Complete(Value& properties, ItemHeader& item);
  bool Depth() const;
  // Takes `bytes` from the current item's budget: false when it does not hold them.
  bool Spend(uint32_t bytes) {
    if (bytes > budget_) return false;
    budget_ -= bytes;
    return true;
  }

  ChecksumTap in_;  // every byte is read through it
  std::vector<Frame> stack_;
  bool started_ = false;
  bool checksums_ = false;
  bool item_open_ = false;  // an item has been yielded and not yet ended
  bool ahead_ = false;      // a record header read ahead, not a checksum record's
  uint16_t ahead_tag_ = 0, ahead_key_ = 0;
  uint32_t ahead_length_ = 0;
  uint32_t left_ = 0;
  uint32_t budget_ = 0;  // what the current item's properties may still take
  unsigned char* buffer_ = nullptr;
};

}  // namespace qef
