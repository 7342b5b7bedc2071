#include "container/value_record.h"

#include "core/heap.h"
#include "core/result.h"

namespace qef {

namespace {

int32_t ReadRecord(Value& value, Stream& s, bool list_only);

// The payload length of a record whose payload a counting stream must measure.
template <typename Fn>
uint32_t Measure(Fn write_payload) {
  Stream counter;
  counter.OpenCounting();
  write_payload(counter);
  return counter.GetTotal();
}

int32_t WriteList(Value& value, Stream& s) {
  ValueArray* items = value.GetItems();
  int32_t count = items != nullptr ? items->GetSize() : 0;
  // A stream that only counts bytes needs no true length: measuring every nested list
  // again inside its parent's measuring would double the work at each level.
  uint32_t length = 0;
  if (!s.OnlyCounts()) {
    length = Measure([&](Stream& c) {
      c.WriteU32(static_cast<uint32_t>(count));
      for (int32_t i = 0; i < count; ++i) SerialiseValue((*items)[i], c);
    });
  }
  s.WriteU32(length);
  s.WriteU32(static_cast<uint32_t>(count));
  for (int32_t i = 0; i < count && s.GetError() == 0; ++i) SerialiseValue((*items)[i], s);
  return s.GetError();
}

// Every list reads its records one call deeper, and they all count toward one limit
// (kMaxNesting): a hostile file cannot exhaust the thread's stack (the stub's worker
// has far less of it than a process's main thread).
thread_local int32_t nesting = 0;

class Nesting {
 public:
  Nesting() { ++nesting; }
  ~Nesting() { --nesting; }
  Nesting(const Nesting&) = delete;
  Nesting& operator=(const Nesting&) = delete;
  bool TooDeep() const { return nesting > kMaxNesting; }
};

int32_t ReadList(Value& value, Stream& s) {
  uint32_t count = 0;
  if (s.ReadU32(count) != 0) return s.GetError();
  ValueArray* items = value.GetItems();
  // Values are appended as they arrive: a hostile count costs nothing until its
  // values are really there, and the stream's own end stops the loop.
  for (uint32_t i = 0; i < count && s.GetError() == 0; ++i) {
    Value item;
    if (SerialiseValue(item, s) != 0) break;
    if (items == nullptr || items->AppendMove(item) < 0) return s.Fail(kOutOfMemory);
  }
  return s.GetError();
}

}  // namespace

int32_t SerialiseValue(Value& value, Stream& s) {
  if (s.IsWriting()) {
    uint16_t tag = value.GetType();
    s.WriteU16(tag);
    s.WriteU16(value.GetKey());
    switch (tag) {
      case kEmpty:
      case kPointer: s.WriteU32(0); break;
      case kList: return WriteList(value, s);
      case kByte:
        s.WriteU32(1);
        s.WriteU8(value.GetByteValue());
        break;
      case kWord:
        s.WriteU32(2);
        s.WriteU16(value.GetWordValue());
        break;
      case kDWord:
      case kInt:
        s.WriteU32(4);
        s.WriteU32(value.GetDWordValue());
        break;
      case kDouble:
        s.WriteU32(8);
        s.WriteDouble(value.GetDoubleValue());
        break;
      case kString: {
        Text text(value.GetString());
        s.WriteU32(Measure([&](Stream& c) { c.WriteCountedString(text); }));
        s.WriteCountedString(text);
        break;
      }
      case kFsItem:
        // An item's record carries its file's data, which only the item writer has.
        return s.Fail(kBadArgument);
      default:
        s.WriteU32(value.GetSize());
        s.Write(value.GetBytes(), value.GetSize());
        break;
    }
    return s.GetError();
  }

  return ReadRecord(value, s, false);
}

int32_t ReadListRecord(Value& list, Stream& s) { return ReadRecord(list, s, true); }

namespace {

int32_t ReadRecord(Value& value, Stream& s, bool list_only) {
  if (!s.IsReading()) {
    s.Fail(kWrongDirection);
    return s.GetError();
  }
  value.Reset();
  uint16_t tag = 0, key = 0;
  uint32_t length = 0;
  if (s.ReadU16(tag) != 0) return s.GetError();
  if (list_only && tag != kList) return s.Fail(kFailed);
  s.ReadU16(key);
  s.ReadU32(length);
  if (s.GetError() != 0) return s.GetError();
  if (tag == kList || tag == kFsItem) {
    Nesting nested;
    if (nested.TooDeep()) return s.Fail(kOutOfMemory);
    // Items are read by the item reader alone, which yields them one by one; anywhere
    // else (a header anybody could have written) one is refused before it is read.
    if (tag == kFsItem) return s.Fail(kFailed);
    value.SetType(kList);
    if (value.GetType() != kList) return s.Fail(kOutOfMemory);
    value.SetKey(key);
    value.SetSize(length);
    return ReadList(value, s);
  }
  return ReadPayload(value, tag, key, length, s);
}

}  // namespace

int32_t ReadPayload(Value& value, uint16_t tag, uint16_t key, uint32_t length, Stream& s, uint32_t most) {
  value.SetType(tag);
  if (value.GetType() != tag) return s.Fail(kOutOfMemory);
  value.SetKey(key);
  switch (tag) {
    case kEmpty:
    case kPointer: value.SetSize(length); break;
    case kByte: {
      uint8_t v = 0;
      s.ReadU8(v);
      value.SetByte(v);
      value.SetSize(length);
      break;
    }
    case kWord: {
      uint16_t v = 0;
      s.ReadU16(v);
      value.SetWord(v);
      value.SetSize(length);
      break;
    }
    case kDWord:
    case kInt: {
      uint32_t v = 0;
      s.ReadU32(v);
      if (tag == kDWord)
        value.SetDWord(v);
      else
        value.SetInt(static_cast<int32_t>(v));
      value.SetSize(length);
      break;
    }
    case kDouble: {
      double v = 0;
      s.ReadDouble(v);
      value.SetDouble(v);
      value.SetSize(length);
      break;
    }
    case kString: {
      Text text;
      if (s.ReadCountedString(text, most) == 0) value.SetString(text.Str());
      break;
    }
    default: {
      if (length > most) return s.Fail(kOutOfMemory);
      unsigned char* block = length > 0 ? s.ReadBlock(length, 0) : nullptr;
      if (length == 0 || block != nullptr) value.AdoptBytes(tag, block, length);
      value.SetKey(key);
      break;
    }
  }
  return s.GetError();
}

uint32_t RecordSize(const Value& value) {
  return Measure([&](Stream& c) { SerialiseValue(const_cast<Value&>(value), c); });
}

}  // namespace qef
