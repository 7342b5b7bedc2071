#pragma once
// Typed values: a 16-bit type tag, a 16-bit key and a payload that the value owns
// outright (deep copies, no sharing). A value of type List is an ordered property
// list looked up by key, the first match winning.
#include <cstdint>

#include "core/array.h"
#include "core/text.h"

namespace qef {

enum ValueType : uint16_t {
  kEmpty = 0,
  kBlob = 1,
  kList = 2,
  kByte = 10,
  kWord = 20,
  kDWord = 40,
  kInt = 41,
  kDouble = 80,
  kPointer = 100,
  kString = 110,
  kFsItem = 3100,
  // Any other tag is opaque: an owned byte block, like Blob.
};

class FsItem;

class Value {
 public:
  Value() { payload_.u64 = 0; }
  Value(const Value& other);
  Value(Value&& other) noexcept;
  Value& operator=(const Value& other);
  Value& operator=(Value&& other) noexcept;
  ~Value() { Release(); }

  // Releases what the value holds, size := 0 and sets the tag; List creates an empty
  // list, FsItem an empty item (Empty when that storage cannot be had). The key stays.
  void SetType(uint16_t tag);
  void Reset() { SetType(kEmpty); }
  // Deep copy; a value with an opaque tag is copied as a Blob.
  void Assign(const Value& other);

  uint16_t GetType() const { return tag_; }
  uint16_t GetKey() const { return key_; }
  void SetKey(uint16_t key) { key_ = key; }
  // Byte count of Blob and opaque data; text length + 1 for a String; the size given
  // with a Pointer; after reading, the record's length field; 0 otherwise.
  uint32_t GetSize() const { return size_; }
  void SetSize(uint32_t size) { size_ = size; }
  // The data: null for Empty and List, the inline payload for numbers and pointers,
  // the owned block, text or item otherwise.
  void* GetData();
  const void* GetData() const { return const_cast<Value*>(this)->GetData(); }

  // Byte buffers. Storage exhaustion turns the value into Empty.
  void SetBlobSize(int32_t n);
  void SetBlob(const void* bytes, int32_t n);
  void AppendBytes(const void* bytes, int32_t n);
  // Becomes an opaque value of `tag` holding n bytes taken over from a heap block
  // (HeapBlockAlloc), which the value then owns. Used by the record reader.
  void AdoptBytes(uint16_t tag, void* block, uint32_t n);
  const unsigned char* GetBytes() const;
  bool IsBlobOf(uint32_t n) const { return tag_ == kBlob && size_ == n; }

  void SetString(const char* text);
  // The text of a String (never null: "" for a String without storage); null otherwise.
  const char* GetString() const;

  void SetByte(uint8_t v);
  void SetWord(uint16_t v);
  void SetDWord(uint32_t v);
  void SetInt(int32_t v);
  void SetDouble(double v);
  void SetPointer(void* p, uint32_t size);
  uint8_t GetByteValue() const { return payload_.u8; }
  uint16_t GetWordValue() const { return payload_.u16; }
  uint32_t GetDWordValue() const { return payload_.u32; }
  int32_t GetIntValue() const { return payload_.i32; }
  double GetDoubleValue() const { return payload_.f64; }

  // The items of a List (null for other types).
  ValueArray* GetItems() { return tag_ == kList ? payload_.list : nullptr; }
  const ValueArray* GetItems() const { return tag_ == kList ? payload_.list : nullptr; }
  // The item of an FsItem (null for other types).
  FsItem* GetFsItem() { return tag_ == kFsItem ? payload_.item : nullptr; }
  const FsItem* GetFsItem() const { return tag_ == kFsItem ? payload_.item : nullptr; }

  // The data's bytes as upper-case hex pairs separated by blanks.
  Text ToHexText() const;

  bool operator==(const Value& other) const;
  bool operator!=(const Value& other) const { return !(*this == other); }

 protected:
  void Release();

  uint16_t tag_ = kEmpty;
  uint16_t key_ = 0;
  uint32_t size_ = 0;
  union Payload {
    uint8_t u8;
    uint16_t u16;
    uint32_t u32;
    int32_t i32;
    uint64_t u64;
    double f64;
    void* ptr;
    unsigned char* bytes;
    char* text;
    ValueArray* list;
    FsItem* item;
  } payload_;
};

// A value whose tag is List, with keyed access. Lookups scan from the front and the
// first item with the key wins; getters work on copies and never change the list.
class PropertyList : public Value {
 public:
  PropertyList() { SetType(kList); }
  PropertyList(const PropertyList& other) : Value(other) {}
  PropertyList& operator=(const PropertyList& other) {
    Assign(other);
    return *this;
  }
  // An empty List again.
  void Reset() { SetType(kList); }

  int32_t GetCount() const;
  const Value& At(int32_t index) const { return (*GetItems())[index]; }
  Value& At(int32_t index) { return (*GetItems())[index]; }

  int32_t FindIndex(uint16_t key) const;
  // A copy of the first item with the key, or an Empty value carrying the key.
  Value GetValue(uint16_t key) const;
  // Stores a copy with its key set to `key`: over the first item with the key when
  // replace != 0 and one exists, else appended. false when storage ran out.
  bool PutValue(uint16_t key, const Value& value, int replace);
  // Appends a copy as it is (key unchanged). false when storage ran out.
  bool Append(const Value& value);
  PropertyList GetList(uint16_t key) const;
  uint8_t GetByte(uint16_t key, uint8_t def) const;
  bool PutByte(uint16_t key, uint8_t v, int replace);
  uint32_t GetDWord(uint16_t key, uint32_t def) const;
  bool PutDWord(uint16_t key, uint32_t v, int replace);
  Text GetString(uint16_t key, const char* def) const;
  bool PutString(uint16_t key, const char* text, int replace);

 private:
  const Value* Find(uint16_t key) const;
  ValueArray* EnsureList();
};

// A file or folder of a container's content list: its properties and the folder it
// belongs under. What reading or writing one does is the container layer's business.
class FsItem : public PropertyList {
 public:
  FsItem() = default;
  FsItem(const FsItem& other)
      : PropertyList(other), base_folder_(other.base_folder_), source_path_(other.source_path_) {}
  FsItem& operator=(const FsItem& other) {
    PropertyList::operator=(other);
    base_folder_ = other.base_folder_;
    source_path_ = other.source_path_;
    return *this;
  }
  const Text& GetBaseFolder() const { return base_folder_; }
  void SetBaseFolder(const char* folder) { base_folder_.Assign(folder); }
  // Where a writer reads the item from, when its stored names differ from the names on
  // disk (names converted to another code page); empty: base folder + folder + name.
  // Kept in memory only.
  const Text& GetSourcePath() const { return source_path_; }
  void SetSourcePath(const char* path) { source_path_.Assign(path); }

 private:
  Text base_folder_;
  Text source_path_;
};

inline Value& ValueArray::operator[](int32_t i) { return elements_[i]; }
inline const Value& ValueArray::operator[](int32_t i) const { return elements_[i]; }

}  // namespace qef
