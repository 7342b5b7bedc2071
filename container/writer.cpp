#include "container/writer.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "container/checksum.h"
#include "container/chunk_streams.h"
#include "container/container_reader.h"
#include "container/deflate.h"
#include "container/file_info.h"
#include "container/value_record.h"
#include "core/heap.h"
#include "core/hold.h"
#include "core/result.h"
#include "crypto/hash.h"
#include "fs/file_stream.h"
#include "fs/fs.h"
#include "fs/path.h"
#include "fs/temp_file.h"

namespace qef {

namespace {

const uint64_t kMaxStoredFile = 0xFFFFFFFFull;  // sizes are stored in 32 bits

struct Collector {
  PropertyList& content;
  SkipReporter skipped;
  void* user;
  ErrorInfo& error;
  bool follow_links = false;
  // Following links: the real paths (every link resolved, no '/' at the end) of the
  // folders the walk is inside, from the source down.
  std::vector<std::string> walking;

  void Skip(const Text& path, const char* why) const {
    if (skipped != nullptr) skipped(path, why, user);
  }

  bool Add(uint8_t kind, const Text& parent, const Text& folder, const Text& name, const Text& source) {
    Value v;
    v.SetType(kFsItem);
    FsItem* item = v.GetFsItem();
    if (item == nullptr) return false;
    FileInfo info;
    CollectFileInformation(source, info);
    item->PutByte(kItemKind, kind, 1);
    item->PutString(kItemName, name.Str(), 1);
    item->PutString(kItemFolder, folder.Str(), 1);
    item->PutValue(kItemInfo, ListFromFileInfo(info), 1);
    item->SetBaseFolder(parent.Str());
    item->SetSourcePath(source.Str());
    return content.Append(v);
  }

  // A file of a source: regular files only, below 4 GiB.
  int32_t AddFile(const Text& parent, const Text& folder, const Text& name, const Text& source) {
    uint64_t size = 0;
    if (!RegularFileSize(source, size)) {
      Skip(source, "not a regular file");
      return 0;
    }
    if (size > kMaxStoredFile)
      return error.Set(kUnsupported, source, "4 GiB or larger: the format stores 32-bit sizes");
    return Add(0, parent, folder, name, source) ? 0 : kOutOfMemory;
  }

  // True when a folder's real path is one the walk is inside, or above one: walking
  // into it would come back to where it is, again and again.
  bool Encloses(const std::string& real) const {
    std::string prefix = real.empty() || real.back() == '/' ? real : real + "/";
    for (const std::string& inside : walking)
      if (inside == real || inside.compare(0, prefix.size(), prefix) == 0) return true;
    return false;
  }

  // A link met inside a source, followed: packed as what it points to, under its own
  // name. A link that leads nowhere, or to a folder the walk is inside, is skipped.
  int32_t AddLinked(const Text& parent, const Text& folder, const Text& name, const Text& path) {
    Text real = ResolvedPath(path);
    if (real.IsEmpty()) {
      Skip(path, "symbolic link that leads nowhere");
      return 0;
    }
    Text real_folder = AddTrailingSeparator(real);
    if (!FolderExists(real_folder)) return AddFile(parent, folder, name, real);
    if (Encloses(real.Str())) {
      Skip(path, "symbolic link to a folder it is inside (it would repeat forever)");
      return 0;
    }
    if (!Add(1, parent, folder, name, real_folder)) return kOutOfMemory;
    return AddContents(parent, AddTrailingSeparator(Text::Concat(folder, name)), real_folder, real);
  }

  // The content of a folder, sorted by name so that the same tree always gives the
  // same container; each folder item comes before what is inside it. `real` is the
  // folder's real path when links are followed.
  int32_t AddContents(const Text& parent, const Text& folder, const Text& source, const Text& real) {
    if (follow_links) walking.push_back(real.Str());
    int32_t r = AddEntries(parent, folder, source, real);
    if (follow_links) walking.pop_back();
    return r;
  }

  int32_t AddEntries(const Text& parent, const Text& folder, const Text& source, const Text& real) {
    struct Entry {
      std::string name;
      bool is_folder, is_link;
    };
    std::vector<Entry> entries;
    FolderSearch search;
    if (!search.Open(source)) {
      Text why = SystemErrorText(LastNativeError());
      return error.Set(kTargetMissing, StripTrailingSeparator(source), "cannot read the folder", why);
    }
    Text name;
    bool is_folder = false, is_link = false;
    while (search.Next(name, is_folder, is_link)) entries.push_back(Entry{name.Str(), is_folder, is_link});
    search.Close();
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    for (const Entry& e : entries) {
      Text path = Text::Concat(source, e.name.c_str());
      int32_t r = 0;
      if (e.is_link && follow_links) {
        r = AddLinked(parent, folder, Text(e.name.c_str()), path);
      } else if (e.is_link) {
        Skip(path, "symbolic link");
      } else if (e.is_folder) {
        Text sub = Text::Concat(folder, e.name.c_str());
        sub.AppendChar('/');
        Text sub_source = Text::Concat(path, "/");
        if (!Add(1, parent, folder, Text(e.name.c_str()), sub_source)) return kOutOfMemory;
        Text sub_real = follow_links ? Text::Concat(AddTrailingSeparator(real), e.name.c_str()) : Text();
        r = AddContents(parent, sub, sub_source, sub_real);
      } else {
        r = AddFile(parent, folder, Text(e.name.c_str()), path);
      }
      if (r != 0) return r;
    }
    return 0;
  }
};

// The name after the last '/', whatever characters it holds.
Text LastComponent(const Text& path) {
  int32_t slash = path.ReverseFind('/');
  return slash < 0 ? path : path.Right(path.GetLength() - slash - 1);
}

// Where an item's file is read from: its source path, or its base folder joined with
// its stored names.
Text SourceOf(const FsItem& item) {
  if (!item.GetSourcePath().IsEmpty()) return item.GetSourcePath();
  Text stored = Text::Concat(item.GetString(kItemFolder, ""), item.GetString(kItemName, ""));
  return Text::Concat(item.GetBaseFolder(), ToInternalForm(stored, PathStyle::kWindows));
}

// The length field of an item's record: its property list's record size, plus 4 + the
// source file's size for a file item.
uint32_t ItemLength(const FsItem& item) {
  uint32_t size = RecordSize(PropertyList(item));
  if (item.GetByte(kItemKind, kKindFile) == kKindFile) {
    int64_t file = FileSize(SourceOf(item));
    size += 4 + static_cast<uint32_t>(file < 0 ? 0 : file);
  }
  return size;
}

// The record size of a content list in 64 bits: a counting stream's 32-bit total
// would wrap for content of 4 GiB or more.
uint64_t ContentRecordSize(const PropertyList& content, bool checksums) {
  uint64_t total = 8 + 4;
  for (int32_t i = 0; i < content.GetCount(); ++i) {
    const Value& v = content.At(i);
    if (v.GetType() != kFsItem) {
      total += RecordSize(v);
      continue;
    }
    total += 8 + static_cast<uint64_t>(ItemLength(*v.GetFsItem()));
    if (checksums) total += kItemChecksumRecordSize;
  }
  return total;
}

uint32_t ItemCount(const PropertyList& content) {
  uint32_t items = 0;
  for (int32_t i = 0; i < content.GetCount(); ++i) items += content.At(i).GetType() == kFsItem ? 1 : 0;
  return items;
}

// One item's record: header, property list, and for a file its size and data.
// Exactly the size announced is copied, so the stored size and the stored data always
// agree; a file that shrinks or grows meanwhile ends the run with 208, as a copy cut
// short or cut off would not be the file.
int32_t WriteItem(const Value& value, Stream& s, unsigned char* buffer, uint32_t buffer_size) {
  const FsItem& item = *value.GetFsItem();
  Text source = SourceOf(item);
  s.WriteU16(kFsItem);
  s.WriteU16(value.GetKey());
  s.WriteU32(ItemLength(item));
  PropertyList properties(item);
  if (SerialiseValue(properties, s) != 0) return s.GetError();
  if (item.GetByte(kItemKind, kKindFile) != kKindFile) return s.GetError();
  int64_t size = FileSize(source);
  std::FILE* f = size < 0 ? nullptr : OpenFileStream(source, false);
  if (f == nullptr) return s.Fail(kCannotOpen);
  s.WriteU32(static_cast<uint32_t>(size));
  uint32_t left = static_cast<uint32_t>(size);
  while (left > 0 && s.GetError() == 0) {
    uint32_t n = left < buffer_size ? left : buffer_size;
    if (std::fread(buffer, 1, n, f) != n) {
      s.Fail(kShortRead);
      break;
    }
    s.Write(buffer, n);
    HoldPoint("pack-data");
    left -= n;
  }
  if (s.GetError() == 0 && std::fgetc(f) != EOF) s.Fail(kShortRead);
  std::fclose(f);
  return s.GetError();
}

}  // namespace

int32_t CollectSources(const std::vector<Text>& sources, PropertyList& content, SkipReporter skipped, void* user,
                       ErrorInfo* error, LinkPolicy links) {
  ErrorInfo local;
  Collector c{content, skipped, user, error != nullptr ? *error : local, links == LinkPolicy::kFollowAll, {}};
  for (const Text& given : sources) {
    Text source = StripTrailingSeparator(ToInternalForm(given));
    Text name = LastComponent(source);
    Text parent = FolderOf(source);
    int32_t r = 0;
    bool link = IsLink(source);
    if (link && links != LinkPolicy::kSkip) {
      // Read from where the link leads, stored under the link's own name.
      Text resolved = ResolvedPath(source);
      if (resolved.IsEmpty())
        return c.error.Set(kContainerMissing, source, "does not exist (a link that leads nowhere)");
      source = resolved;
      link = false;
    }
    if (link) {
      c.Skip(source, "symbolic link");
    } else if (FolderExists(Text::Concat(source, "/"))) {
      if (name.IsEmpty()) return c.error.Set(kBadArgument, source, "a root folder has no name to store");
      Text folder_source = Text::Concat(source, "/");
      if (!c.Add(1, parent, Text(""), name, folder_source)) return kOutOfMemory;
      r = c.AddContents(parent, Text::Concat(name, "/"), folder_source,
                        c.follow_links ? ResolvedPath(folder_source) : Text());
    } else if (FileExists(source)) {
      r = c.AddFile(parent, Text(""), name, source);
    } else {
      r = c.error.Set(kContainerMissing, source, "does not exist");
    }
    if (r != 0) return r;
  }
  return 0;
}

int32_t WriteContentList(const PropertyList& content, Stream& out, bool checksums) {
  const uint32_t kBufferSize = 1u << 20;
  auto* buffer = static_cast<unsigned char*>(HeapBlockAlloc(kBufferSize));
  if (buffer == nullptr) return out.Fail(kOutOfMemory);
  ChecksumTap tap;
  if (tap.Attach(&out) != 0) out.Fail(kAttachFailed);
  uint32_t count = static_cast<uint32_t>(content.GetCount()) + (checksums ? ItemCount(content) : 0);
  out.WriteU16(kList);
  out.WriteU16(content.GetKey());
  out.WriteU32(static_cast<uint32_t>(ContentRecordSize(content, checksums) - 8));  // as a 32-bit counter has it
  out.WriteU32(count);
  for (int32_t i = 0; i < content.GetCount() && out.GetError() == 0; ++i) {
    const Value& v = content.At(i);
    if (v.GetType() != kFsItem) {
      SerialiseValue(const_cast<Value&>(v), out);
      continue;
    }
    tap.Start(0);
    // A failure stored on the tap (a source that cannot be read) is the list's.
    if (WriteItem(v, tap, buffer, kBufferSize) != 0) out.Fail(tap.GetError());
    tap.Stop();
    if (checksums) {
      out.WriteU16(kDWord);
      out.WriteU16(kItemChecksumKey);
      out.WriteU32(4);
      out.WriteU32(tap.Value());
    }
  }
  tap.Close();
  SecureWipe(buffer, kBufferSize);
  HeapBlockFree(buffer);
  return out.GetError();
}

int32_t WriteContainer(const Text& out_path, const Text& password, PropertyList& content, const PackOptions& options) {
  if (!IsSupported(options.cipher_id)) return kUnsupported;
  if (options.compression > kMaxCompressionSetting) return kBadCompression;

  StreamParams params;
  params.progress = options.progress;

  PropertyList header;
  uint64_t total = ContentRecordSize(content, options.checksums);
  if (options.progress_total && total <= 0xFFFFFFFFull)
    header.PutDWord(kHeaderProgressTotal, static_cast<uint32_t>(total), 1);
  Value vector = TheRandomPool().Generate(static_cast<int32_t>(BlockSize(options.cipher_id)));
  if (!vector.IsBlobOf(BlockSize(options.cipher_id))) return kBadVector;
  header.PutValue(kHeaderVector, vector, 1);
  header.PutString(kHeaderMagic, kContainerMagic, 1);
  header.PutByte(kHeaderCompression, options.compression, 1);
  header.PutByte(kHeaderCipher, options.cipher_id, 1);
  if (options.checksums) header.PutByte(kHeaderChecksums, 1, 1);

  // Written aside and put in place only when complete; the stream opens the file the
  // aside name was reserved with.
  TempFile aside;
  int32_t r = aside.Create(out_path);
  if (r == 0) r = aside.Close();
  FileStream file;
  if (r == 0) r = file.Open(kModeWriting, aside.Name(), &params);
  if (r == 0) r = SerialiseValue(header, file);
  ContentStream content_stream;
  if (r == 0) r = content_stream.SetUp(&file, password, &vector, options.cipher_id, options.compression);
  content_stream.SetJobs(options.jobs);
  content_stream.SetCompressor(&NewDeflateCompressor);
  ProgressStream progress;
  Stream* top = &content_stream;
  if (r == 0 && options.progress != nullptr) {
    params.progress_total = total <= 0xFFFFFFFFull ? static_cast<uint32_t>(total) : 0;
    if (progress.Attach(&content_stream) != 0) r = kAttachFailed;
    top = &progress;
  }
  if (r == 0) r = WriteContentList(content, *top, options.checksums);
  progress.Close();
  int32_t closed = content_stream.Close();
  if (r == 0) r = closed;
  closed = file.Close();
  if (r == 0) r = closed;
  if (r == 0) r = aside.Keep();
  return r;
}

}  // namespace qef
