#include "container/container_reader.h"

#include <cstdio>
#include <cstring>

#include "container/value_record.h"
#include "core/result.h"
#include "fs/path.h"

namespace qef {

int32_t ContainerKindOf(const Text& path) {
  Text ext = ExtensionOf(path);
  ext.MakeLower();
  if (!ext.Equals("qef")) return kKindCarrier;
  return ContainerKindOf(path, FilePart());
}

// An older format began with the magic in plain.
int32_t ContainerKindOf(const Text& path, const FilePart& part) {
  char head[sizeof kContainerMagic] = {};
  StreamParams params;
  FileStream file;
  bool got = file.OpenPart(path, part, &params) == 0 && file.Read(head, sizeof head) == 0;
  file.Close();
  if (got && (std::memcmp(head, kContainerMagic, sizeof kContainerMagic - 1) == 0 ||
              std::memcmp(head, kOldFormatMagic, sizeof kOldFormatMagic - 1) == 0))
    return kKindOldFormat;
  return kKindContainer;
}

Value HeaderVector(const PropertyList& header, uint8_t cipher_id) {
  uint32_t block = BlockSize(cipher_id);
  Value v = header.GetValue(kHeaderVector);
  if (v.GetType() != kBlob || v.GetSize() < block) v.SetBlobSize(static_cast<int32_t>(block));
  return v;
}

int32_t ContainerReader::Open(const Text& path, const Text& password, PropertyList* header,
                              const StreamParams* params) {
  Close();
  Stream::Open(kModeReading, params);
  int32_t r = header == nullptr ? kBadArgument : 0;
  if (r == 0 && file_.OpenPart(path, part_, params) != 0) r = kCannotOpen;
  if (r == 0) r = SerialiseValue(*header, file_);
  if (r == 0 && !header->GetString(kHeaderMagic, "").Equals(kContainerMagic)) r = kBadMagic;
  uint8_t setting = kCompressionStored;
  if (r == 0) setting = header->GetByte(kHeaderCompression, kCompressionStored);
  if (r == 0 && setting > kMaxCompressionSetting) r = kBadCompression;
  uint8_t cipher = kBlowfishCipher;
  if (r == 0) cipher = header->GetByte(kHeaderCipher, kBlowfishCipher);
  if (r == 0 && !IsSupported(cipher)) r = kBadMagic;
  if (r == 0) {
    Value vector = HeaderVector(*header, cipher);
    r = content_.SetUp(&file_, password, &vector, cipher, setting);
    content_.SetReadAhead(read_ahead_);
  }
  if (r == 0 && progress_.Attach(&content_) != 0) r = kAttachFailed;
  if (r == 0) {
    next_ = &progress_;
  } else {
    Close();
  }
  return r;
}

int32_t ContainerReader::Read(void* buffer, uint32_t length) {
  if (!BeginRead(buffer, length)) return error_;
  return error_ = progress_.Read(buffer, length);
}

int32_t ContainerReader::Close() {
  progress_.Close();
  content_.Close();
  file_.Close();
  return FilterStream::Close();
}

}  // namespace qef
