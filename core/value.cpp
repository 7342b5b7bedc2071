#include "core/value.h"

#include <cstring>
#include <new>
#include <utility>

#include "core/heap.h"

namespace qef {

namespace {

bool OwnsBytes(uint16_t tag) {
  switch (tag) {
    case kEmpty:
    case kList:
    case kByte:
    case kWord:
    case kDWord:
    case kInt:
    case kDouble:
    case kPointer:
    case kString:
    case kFsItem: return false;
    default: return true;  // Blob and every opaque tag
  }
}

}  // namespace

Value::Value(const Value& other) {
  payload_.u64 = 0;
  Assign(other);
}

Value::Value(Value&& other) noexcept : tag_(other.tag_), key_(other.key_), size_(other.size_) {
  payload_ = other.payload_;
  other.tag_ = kEmpty;
  other.size_ = 0;
  other.payload_.u64 = 0;
}

Value& Value::operator=(const Value& other) {
  if (this != &other) Assign(other);
  return *this;
}

Value& Value::operator=(Value&& other) noexcept {
  if (this != &other) {
    Release();
    tag_ = other.tag_;
    key_ = other.key_;
    size_ = other.size_;
    payload_ = other.payload_;
    other.tag_ = kEmpty;
    other.size_ = 0;
    other.payload_.u64 = 0;
  }
  return *this;
}

void Value::Release() {
  if (tag_ == kList) {
    delete payload_.list;
  } else if (tag_ == kFsItem) {
    delete payload_.item;
  } else if (tag_ == kString) {
    if (payload_.text != nullptr) {
      SecureWipe(payload_.text, size_);
      HeapBlockFree(payload_.text);
    }
  } else if (OwnsBytes(tag_)) {
    if (payload_.bytes != nullptr) {
      SecureWipe(payload_.bytes, size_);
      HeapBlockFree(payload_.bytes);
    }
  }
  payload_.u64 = 0;
  size_ = 0;
}

void Value::SetType(uint16_t tag) {
  Release();
  tag_ = tag;
  if (tag == kList) {
    payload_.list = new (std::nothrow) ValueArray();
    if (payload_.list == nullptr) tag_ = kEmpty;
  } else if (tag == kFsItem) {
    payload_.item = new (std::nothrow) FsItem();
    if (payload_.item == nullptr) tag_ = kEmpty;
  }
}

void Value::Assign(const Value& other) {
  if (this == &other) return;
  // Every case builds its copy before releasing anything, because other may live
  // inside what this value owns.
  uint16_t key = other.key_;
  switch (other.tag_) {
    case kEmpty: SetType(kEmpty); break;
    case kList: {
      ValueArray* items = new (std::nothrow) ValueArray();
      if (items != nullptr && !items->AssignFrom(*other.payload_.list)) {
        delete items;
        items = nullptr;
      }
      Release();
      tag_ = items != nullptr ? kList : kEmpty;
      payload_.list = items;
      break;
    }
    case kFsItem: {
      FsItem* item = new (std::nothrow) FsItem(*other.payload_.item);
      Release();
      tag_ = item != nullptr ? kFsItem : kEmpty;
      payload_.item = item;
      break;
    }
    case kByte:
    case kWord:
    case kDWord:
    case kInt:
    case kDouble:
    case kPointer: {
      Payload p = other.payload_;
      uint32_t size = other.size_;
      SetType(other.tag_);
      payload_ = p;
      size_ = other.tag_ == kPointer ? size : 0;
      break;
    }
    case kString: {
      Value copy;
      copy.SetString(other.payload_.text);
      *this = std::move(copy);
      break;
    }
    default: {
      Value copy;
      copy.SetBlob(other.payload_.bytes, static_cast<int32_t>(other.size_));
      *this = std::move(copy);
      break;
    }
  }
  key_ = key;
}

void* Value::GetData() {
  switch (tag_) {
    case kEmpty:
    case kList: return nullptr;
    case kByte:
    case kWord:
    case kDWord:
    case kInt:
    case kDouble:
    case kPointer: return &payload_;
    case kFsItem: return payload_.item;
    case kString: return payload_.text;
    default: return payload_.bytes;
  }
}

void Value::SetBlobSize(int32_t n) {
  SetType(kBlob);
  if (n <= 0) return;
  void* block = HeapBlockAlloc(static_cast<size_t>(n));
  if (block == nullptr) {
    SetType(kEmpty);
    return;
  }
  std::memset(block, 0, static_cast<size_t>(n));
  payload_.bytes = static_cast<unsigned char*>(block);
  size_ = static_cast<uint32_t>(n);
}

void Value::SetBlob(const void* bytes, int32_t n) {
  if (bytes == nullptr || n <= 0) {
    SetType(kBlob);
    return;
  }
  void* block = HeapBlockAlloc(static_cast<size_t>(n));
  if (block != nullptr) std::memcpy(block, bytes, static_cast<size_t>(n));
  AdoptBytes(kBlob, block, static_cast<uint32_t>(n));
}

void Value::AdoptBytes(uint16_t tag, void* block, uint32_t n) {
  SetType(block != nullptr || n == 0 ? tag : static_cast<uint16_t>(kEmpty));
  if (block == nullptr) return;
  payload_.bytes = static_cast<unsigned char*>(block);
  size_ = n;
}

void Value::AppendBytes(const void* bytes, int32_t n) {
  if (bytes == nullptr || n <= 0) return;
  if (tag_ != kBlob) {
    SetBlob(bytes, n);
    return;
  }
  uint64_t total = static_cast<uint64_t>(size_) + static_cast<uint64_t>(n);
  void* block = total <= 0x7FFFFFFF ? HeapBlockAlloc(static_cast<size_t>(total)) : nullptr;
  if (block == nullptr) {
    SetType(kEmpty);
    return;
  }
  if (size_ > 0) std::memcpy(block, payload_.bytes, size_);
  std::memcpy(static_cast<unsigned char*>(block) + size_, bytes, static_cast<size_t>(n));
  AdoptBytes(kBlob, block, static_cast<uint32_t>(total));
}

const unsigned char* Value::GetBytes() const { return OwnsBytes(tag_) ? payload_.bytes : nullptr; }

void Value::SetString(const char* text) {
  SetType(kString);
  if (text == nullptr) return;
  char* copy = HeapCopyText(text);
  if (copy == nullptr) {
    SetType(kEmpty);
    return;
  }
  payload_.text = copy;
  size_ = static_cast<uint32_t>(std::strlen(copy) + 1);
}

const char* Value::GetString() const {
  if (tag_ != kString) return nullptr;
  return payload_.text != nullptr ? payload_.text : "";
}

void Value::SetByte(uint8_t v) {
  SetType(kByte);
  payload_.u8 = v;
}

void Value::SetWord(uint16_t v) {
  SetType(kWord);
  payload_.u16 = v;
}

void Value::SetDWord(uint32_t v) {
  SetType(kDWord);
  payload_.u32 = v;
}

void Value::SetInt(int32_t v) {
  SetType(kInt);
  payload_.i32 = v;
}

void Value::SetDouble(double v) {
  SetType(kDouble);
  payload_.f64 = v;
}

void Value::SetPointer(void* p, uint32_t size) {
  SetType(kPointer);
  payload_.ptr = p;
  size_ = size;
}

Text Value::ToHexText() const {
  const void* data = GetData();
  if (data == nullptr || size_ == 0) return Text("");
  return Text::HexDump(data, static_cast<int32_t>(size_), " ", 0);
}

bool Value::operator==(const Value& other) const {
  if (tag_ != other.tag_ || key_ != other.key_) return false;
  switch (tag_) {
    case kEmpty: return true;
    case kByte: return payload_.u8 == other.payload_.u8;
    case kWord: return payload_.u16 == other.payload_.u16;
    case kDWord:
    case kInt: return payload_.u32 == other.payload_.u32;
    case kDouble:
      // The same bits, so that a value read back equals the one written, a NaN too.
      // NOLINTNEXTLINE(bugprone-suspicious-memory-comparison)
      return std::memcmp(&payload_.f64, &other.payload_.f64, sizeof(double)) == 0;
    case kPointer: return payload_.ptr == other.payload_.ptr && size_ == other.size_;
    case kString: return Text::Compare(GetString(), other.GetString()) == 0;
    case kList: {
      const ValueArray& a = *payload_.list;
      const ValueArray& b = *other.payload_.list;
      if (a.GetSize() != b.GetSize()) return false;
      for (int32_t i = 0; i < a.GetSize(); ++i)
        if (a[i] != b[i]) return false;
      return true;
    }
    case kFsItem:
      return static_cast<const Value&>(*payload_.item) == static_cast<const Value&>(*other.payload_.item) &&
             Text::Compare(payload_.item->GetBaseFolder().CStr(), other.payload_.item->GetBaseFolder().CStr()) == 0;
    default:
      return size_ == other.size_ && (size_ == 0 || std::memcmp(payload_.bytes, other.payload_.bytes, size_) == 0);
  }
}

// ---- PropertyList ----

ValueArray* PropertyList::EnsureList() {
  if (tag_ != kList) {
    uint16_t key = key_;
    SetType(kList);
    key_ = key;
  }
  return GetItems();
}

int32_t PropertyList::GetCount() const {
  const ValueArray* items = GetItems();
  return items != nullptr ? items->GetSize() : 0;
}

int32_t PropertyList::FindIndex(uint16_t key) const {
  const ValueArray* items = GetItems();
  if (items == nullptr) return -1;
  for (int32_t i = 0; i < items->GetSize(); ++i)
    if ((*items)[i].GetKey() == key) return i;
  return -1;
}

const Value* PropertyList::Find(uint16_t key) const {
  int32_t i = FindIndex(key);
  return i < 0 ? nullptr : &(*GetItems())[i];
}

Value PropertyList::GetValue(uint16_t key) const {
  const Value* v = Find(key);
  if (v != nullptr) return *v;
  Value empty;
  empty.SetKey(key);
  return empty;
}

bool PropertyList::PutValue(uint16_t key, const Value& value, int replace) {
  Value copy(value);
  copy.SetKey(key);
  ValueArray* items = EnsureList();
  if (items == nullptr) return false;
  int32_t i = replace != 0 ? FindIndex(key) : -1;
  if (i >= 0) {
    (*items)[i] = std::move(copy);
    return true;
  }
  return items->AppendMove(copy) >= 0;
}

bool PropertyList::Append(const Value& value) {
  ValueArray* items = EnsureList();
  return items != nullptr && items->Append(value) >= 0;
}

PropertyList PropertyList::GetList(uint16_t key) const {
  PropertyList result;
  const Value* v = Find(key);
  if (v != nullptr && v->GetType() == kList) result.Assign(*v);
  return result;
}

uint8_t PropertyList::GetByte(uint16_t key, uint8_t def) const {
  const Value* v = Find(key);
  return v != nullptr && v->GetType() == kByte ? v->GetByteValue() : def;
}

bool PropertyList::PutByte(uint16_t key, uint8_t v, int replace) {
  Value value;
  value.SetByte(v);
  return PutValue(key, value, replace);
}

uint32_t PropertyList::GetDWord(uint16_t key, uint32_t def) const {
  const Value* v = Find(key);
  return v != nullptr && v->GetType() == kDWord ? v->GetDWordValue() : def;
}

bool PropertyList::PutDWord(uint16_t key, uint32_t v, int replace) {
  Value value;
  value.SetDWord(v);
  return PutValue(key, value, replace);
}

Text PropertyList::GetString(uint16_t key, const char* def) const {
  const Value* v = Find(key);
  if (v != nullptr && v->GetType() == kString) return Text(v->GetString());
  return Text(def);
}

bool PropertyList::PutString(uint16_t key, const char* text, int replace) {
  Value value;
  value.SetString(text);
  return PutValue(key, value, replace);
}

}  // namespace qef
