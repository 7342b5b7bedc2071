// The value-record reader on a memory stream: whatever the bytes, reading ends with a
// code, and a value that was read writes back into bytes that read and write back the
// same again (a record's length field is the writer's to compute, so a read value's
// bytes may differ from the input there).
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "container/value_record.h"
#include "core/memory_stream.h"
#include "fuzz/fuzz_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qef::MemoryStream in;
  in.OpenRead(data, static_cast<uint32_t>(size), nullptr);
  qef::Value value;
  if (qef::SerialiseValue(value, in) != 0) return 0;
  FUZZ_ASSERT(in.Position() <= size);

  qef::MemoryStream out;
  out.OpenWrite(nullptr);
  FUZZ_ASSERT(qef::SerialiseValue(value, out) == 0);
  FUZZ_ASSERT(out.Size() == qef::RecordSize(value));
  qef::MemoryStream again;
  again.OpenRead(out.Data(), out.Size(), nullptr);
  qef::Value back;
  FUZZ_ASSERT(qef::SerialiseValue(back, again) == 0);
  FUZZ_ASSERT(again.Position() == out.Size());
  qef::MemoryStream twice;
  twice.OpenWrite(nullptr);
  FUZZ_ASSERT(qef::SerialiseValue(back, twice) == 0);
  FUZZ_ASSERT(twice.Size() == out.Size() && std::memcmp(twice.Data(), out.Data(), out.Size()) == 0);
  return 0;
}

std::vector<std::string> FuzzSeeds() {
  std::vector<std::string> seeds;
  auto bytes = [&](qef::Value& v) {
    qef::MemoryStream out;
    out.OpenWrite(nullptr);
    qef::SerialiseValue(v, out);
    seeds.emplace_back(reinterpret_cast<const char*>(out.Data()), out.Size());
  };
  qef::PropertyList all;
  qef::Value v;
  v.SetByte(7);
  all.PutValue(1, v, 0);
  bytes(v);
  v.SetWord(0x1234);
  all.PutValue(2, v, 0);
  bytes(v);
  v.SetDWord(0xDEADBEEF);
  all.PutValue(3, v, 0);
  bytes(v);
  v.SetInt(-1);
  all.PutValue(4, v, 0);
  bytes(v);
  v.SetDouble(3.5);
  all.PutValue(5, v, 0);
  bytes(v);
  v.SetString("a string");
  all.PutValue(6, v, 0);
  bytes(v);
  v.SetString(std::string(300, 's').c_str());
  bytes(v);
  v.SetBlob("blob", 4);
  all.PutValue(7, v, 0);
  bytes(v);
  v.AdoptBytes(77, nullptr, 0);
  bytes(v);
  v.Reset();
  bytes(v);
  qef::PropertyList inner;
  inner.PutString(200, "name", 1);
  all.PutValue(8, inner, 0);
  bytes(all);
  // Lists nested to the limit, and a string longer than a counted string's short form
  // and than any name.
  qef::PropertyList nested;
  nested.PutString(1, std::string(70000, 'x').c_str(), 1);
  for (int i = 1; i < qef::kMaxNesting; ++i) {
    qef::PropertyList outer;
    outer.PutValue(2, nested, 1);
    nested = outer;
  }
  bytes(nested);
  seeds.push_back(std::string("\x02\x00\x00\x00\x00\x00\x00\x00\xFF\xFF\xFF\x7F", 12));
  seeds.push_back(std::string("\x1C\x0C\x00\x00\x10\x00\x00\x00", 8));  // an item record
  return seeds;
}
