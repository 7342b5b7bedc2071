#include "container/item_reader.h"

#include <utility>

#include "container/value_record.h"
#include "core/format.h"
#include "core/heap.h"
#include "core/result.h"
#include "fs/path.h"

namespace qef {

Text ItemHeader::StoredPath() const { return ToInternalForm(Text::Concat(folder, name), PathStyle::kWindows); }

ItemReader::ItemReader(Stream& in) {
  // A stream that is not open leaves the tap closed: every read then fails.
  in_.Attach(&in);
}

ItemReader::~ItemReader() {
  in_.Close();
  // The buffer held decrypted file data.
  if (buffer_ != nullptr) {
    SecureWipe(buffer_, kBufferSize);
    HeapBlockFree(buffer_);
  }
}

// The stack of records being read stands for the calls a recursive reading would
// make: the content list's record may be a list, lists may hold lists and items, and
// an item's properties are a list that may hold anything again. It never holds more
// than the nesting limit allows, and only the lists inside an item's properties keep
// their values: whatever the number of items, memory stays bounded.
bool ItemReader::NextItem(ItemHeader& item) {
  if (item_open_ && EndItem() == kBadChecksum && GetError() == 0) Fail(kBadChecksum);
  if (GetError() != 0) return false;
  if (!started_) {
    started_ = true;
    Frame root;  // the content list's own record, which may be of any kind
    root.left = 1;
    stack_.push_back(std::move(root));
  }
  while (GetError() == 0 && !stack_.empty()) {
    if (stack_.back().left > 0) {
      Step();
      continue;
    }
    Frame done = std::move(stack_.back());
    stack_.pop_back();
    if (stack_.empty()) break;
    Frame& parent = stack_.back();
    if (parent.is_item) {
      stack_.pop_back();
      return Complete(done.list, item) == 0;
    }
    if (parent.keep) {
      ValueArray* values = parent.list.GetItems();
      if (values == nullptr || values->AppendMove(done.list) < 0) Fail(kOutOfMemory);
    }
  }
  return false;
}

int32_t ItemReader::Step() {
  --stack_.back().left;
  bool keep = stack_.back().keep;
  uint16_t tag = 0, key = 0;
  uint32_t length = 0;
  if (ReadRecordHeader(tag, key, length) != 0) return GetError();
  // A content list with checksums is a list: any other record would hide its items.
  if (checksums_ && stack_.size() == 1 && tag != kList) return Fail(kBadChecksum);
  if (tag != kList && tag != kFsItem) {
    Value value;
    if (ReadPayload(value, tag, key, length, in_, keep ? budget_ : kMaxProperties) != 0) return GetError();
    if (!keep) return 0;
    if (!Spend(RecordSize(value))) return Fail(kOutOfMemory);
    ValueArray* values = stack_.back().list.GetItems();
    if (values == nullptr || values->AppendMove(value) < 0) return Fail(kOutOfMemory);
    return 0;
  }
  // One record deeper; the item and its properties are one each.
  if (stack_.size() > static_cast<size_t>(kMaxNesting)) return Fail(kOutOfMemory);
  if (tag == kFsItem) {
    // The root frame and the content list's: an item anywhere else has no checksum.
    if (stack_.size() == 2)
      StartChecksum(tag, key, length);
    else if (checksums_)
      return Fail(kBadChecksum);
  }
  if (tag == kFsItem) {
    Frame opened;
    opened.is_item = true;
    stack_.push_back(std::move(opened));
    // The properties must be a list: anything else is refused before it is read.
    if (in_.ReadU16(tag) != 0) return GetError();
    if (tag != kList) return Fail(kFailed);
    in_.ReadU16(key);
    in_.ReadU32(length);
    if (GetError() != 0) return GetError();
    if (stack_.size() > static_cast<size_t>(kMaxNesting)) return Fail(kOutOfMemory);
    keep = true;
    budget_ = kMaxProperties;
  }
  if (keep && !Spend(12)) return Fail(kOutOfMemory);  // a list record's header and count
  Frame list;
  list.keep = keep;
  if (keep) {
    list.list.SetType(kList);
    if (list.list.GetType() != kList) return Fail(kOutOfMemory);
    list.list.SetKey(key);
    list.list.SetSize(length);
  }
  // A hostile count costs nothing: the records are read one by one as they arrive.
  if (in_.ReadU32(list.left) != 0) return GetError();
  stack_.push_back(std::move(list));
  return 0;
}

void ItemReader::StartChecksum(uint16_t tag, uint16_t key, uint32_t length) {
  unsigned char head[8] = {static_cast<unsigned char>(tag),          static_cast<unsigned char>(tag >> 8),
                           static_cast<unsigned char>(key),          static_cast<unsigned char>(key >> 8),
                           static_cast<unsigned char>(length),       static_cast<unsigned char>(length >> 8),
                           static_cast<unsigned char>(length >> 16), static_cast<unsigned char>(length >> 24)};
  in_.Start(Crc32(0, head, sizeof head));
}

int32_t ItemReader::ReadRecordHeader(uint16_t& tag, uint16_t& key, uint32_t& length) {
  if (ahead_) {
    ahead_ = false;
    tag = ahead_tag_;
    key = ahead_key_;
    length = ahead_length_;
    return GetError();
  }
  in_.ReadU16(tag);
  in_.ReadU16(key);
  in_.ReadU32(length);
  return GetError();
}

// An item's checksum record is the next record of the list that holds the item: it is
// read ahead, and when it turns out to be another record, left for Step to read.
int32_t ItemReader::EndItem() {
  if (!item_open_) return GetError();
  item_open_ = false;
  if (SkipData() != 0) return GetError();
  in_.Stop();
  bool top = stack_.size() == 2;
  if (!top || stack_.back().left == 0) return checksums_ ? Fail(kBadChecksum) : 0;
  if (ReadRecordHeader(ahead_tag_, ahead_key_, ahead_length_) != 0) return GetError();
  if (ahead_tag_ != kDWord || ahead_key_ != kItemChecksumKey || ahead_length_ != 4) {
    ahead_ = true;
    return checksums_ ? Fail(kBadChecksum) : 0;
  }
  --stack_.back().left;
  checksums_ = true;
  uint32_t stored = 0;
  if (in_.ReadU32(stored) != 0) return GetError();
  return stored == in_.Value() ? 0 : kBadChecksum;
}

int32_t ItemReader::Complete(Value& properties, ItemHeader& item) {
  static_cast<Value&>(item.properties) = std::move(properties);
  const PropertyList& p = item.properties;
  item.kind = p.GetByte(kItemKind, kKindFile);
  item.folder = p.GetString(kItemFolder, "");
  item.name = p.GetString(kItemName, "");
  item.info = p.GetList(kItemInfo);
  item.size = 0;
  item_open_ = true;
  if (item.kind != kKindFile) return 0;
  if (buffer_ == nullptr) buffer_ = static_cast<unsigned char*>(HeapBlockAlloc(kBufferSize));
  if (buffer_ == nullptr) return Fail(kOutOfMemory);
  if (in_.ReadU32(item.size) != 0) return GetError();
  left_ = item.size;
  return 0;
}

bool ItemReader::ReadData(const unsigned char*& data, uint32_t& length) {
  length = 0;
  if (left_ == 0 || GetError() != 0) return false;
  uint32_t n = left_ < kBufferSize ? left_ : kBufferSize;
  if (in_.Read(buffer_, n) != 0) return false;
  left_ -= n;
  data = buffer_;
  length = n;
  return true;
}

int32_t ItemReader::SkipData() {
  const unsigned char* data = nullptr;
  uint32_t length = 0;
  while (ReadData(data, length)) {
  }
  return GetError();
}

}  // namespace qef
