#include "container/writer.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "container/chunk_streams.h"
#include "container/container_reader.h"
#include "container/deflate.h"
#include "container/fs_item.h"
#include "container/value_record.h"
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

  void Skip(const Text& path, const char* why) const {
    if (skipped != nullptr) skipped(path, why, user);
  }

  bool Add(uint8_t kind, const Text& parent, const Text& folder, const Text& name, const Text& source) {
    Value v;
    v.SetType(kFsItem);
    FsItem* item = v.GetFsItem();
    if (item == nullptr) return false;
    PropertyList info;
    CollectFileInformation(source, info);
    item->PutByte(kItemKind, kind, 1);
    item->PutString(kItemName, name.Str(), 1);
    item->PutString(kItemFolder, folder.Str(), 1);
    item->PutValue(kItemInfo, info, 1);
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
    if (size > kMaxStoredFile) {
      Skip(source, "4 GiB or larger: the format stores 32-bit sizes");
      return kUnsupported;
    }
    return Add(0, parent, folder, name, source) ? 0 : kOutOfMemory;
  }

  // The content of a folder, sorted by name so that the same tree always gives the
  // same container; each folder item comes before what is inside it.
  int32_t AddContents(const Text& parent, const Text& folder, const Text& source) {
    struct Entry {
      std::string name;
      bool is_folder, is_link;
    };
    std::vector<Entry> entries;
    FolderSearch search;
    if (!search.Open(source)) return kTargetMissing;
    Text name;
    bool is_folder = false, is_link = false;
    while (search.Next(name, is_folder, is_link)) entries.push_back(Entry{name.Str(), is_folder, is_link});
    search.Close();
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    for (const Entry& e : entries) {
      Text path = Text::Concat(source, e.name.c_str());
      int32_t r = 0;
      if (e.is_link) {
        Skip(path, "symbolic link");
      } else if (e.is_folder) {
        Text sub = Text::Concat(folder, e.name.c_str());
        sub.AppendChar('/');
        Text sub_source = Text::Concat(path, "/");
        if (!Add(1, parent, folder, Text(e.name.c_str()), sub_source)) return kOutOfMemory;
        r = AddContents(parent, sub, sub_source);
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

// The record size of a content list in 64 bits: a counting stream's 32-bit total
// would wrap for content of 4 GiB or more.
uint64_t ContentRecordSize(const PropertyList& content, const StreamParams* params) {
  uint64_t total = 8 + 4;
  for (int32_t i = 0; i < content.GetCount(); ++i) {
    const Value& v = content.At(i);
    total += v.GetType() == kFsItem ? 8 + static_cast<uint64_t>(ItemSize(*v.GetFsItem(), params))
                                    : RecordSize(v, params);
  }
  return total;
}

}  // namespace

int32_t CollectSources(const std::vector<Text>& sources, PropertyList& content, SkipReporter skipped, void* user) {
  Collector c{content, skipped, user};
  for (const Text& given : sources) {
    Text source = StripTrailingSeparator(ToInternalForm(given));
    Text name = LastComponent(source);
    Text parent = FolderOf(source);
    int32_t r = 0;
    if (IsLink(source)) {
      c.Skip(source, "symbolic link");
    } else if (FolderExists(Text::Concat(source, "/"))) {
      if (name.IsEmpty()) return kBadArgument;  // a root has no name to store
      Text folder_source = Text::Concat(source, "/");
      if (!c.Add(1, parent, Text(""), name, folder_source)) return kOutOfMemory;
      r = c.AddContents(parent, Text::Concat(name, "/"), folder_source);
    } else if (FileExists(source)) {
      r = c.AddFile(parent, Text(""), name, source);
    } else {
      r = kContainerMissing;
      c.Skip(source, "does not exist");
    }
    if (r != 0) return r;
  }
  return 0;
}

int32_t WriteContainer(const Text& out_path, const Text& password, PropertyList& content,
                       const PackOptions& options) {
  if (!IsSupported(options.cipher_id)) return kUnsupported;
  if (options.compression > 2) return kBadCompression;

  ItemContext context;
  StreamParams params;
  params.base_folder = "";
  params.items = &context;
  params.progress = options.progress;

  PropertyList header;
  uint64_t total = ContentRecordSize(content, &params);
  if (options.progress_total && total <= 0xFFFFFFFFull) header.PutDWord(kHeaderProgressTotal, static_cast<uint32_t>(total), 1);
  Value vector = TheRandomPool().Generate(static_cast<int32_t>(BlockSize(options.cipher_id)));
  if (!vector.IsBlobOf(BlockSize(options.cipher_id))) return kBadVector;
  header.PutValue(kHeaderVector, vector, 1);
  header.PutString(kHeaderMagic, kContainerMagic, 1);
  header.PutByte(kHeaderCompression, options.compression, 1);
  header.PutByte(kHeaderCipher, options.cipher_id, 1);

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
  if (r == 0) r = SerialiseValue(content, *top);
  progress.Close();
  int32_t closed = content_stream.Close();
  if (r == 0) r = closed;
  closed = file.Close();
  if (r == 0) r = closed;
  if (r == 0) r = aside.Keep();
  return r;
}

}  // namespace qef
