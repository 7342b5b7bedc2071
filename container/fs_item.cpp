#include "container/fs_item.h"

#include "container/value_record.h"
#include "container/writer.h"
#include "core/heap.h"
#include "core/result.h"
#include "fs/fs.h"

namespace qef {

// ---- ExtractJournal ----

void ExtractJournal::Add(Kind kind, const Text& path, const Text& backup) {
  entries_.push_back(Entry{kind, path, backup});
}

void ExtractJournal::Rollback() {
  for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
    switch (it->kind) {
      case kCreatedFile:
        if (FileExists(it->path)) {
          ApplyFileInformation(it->path, nullptr);  // a read-only file could not be deleted
          RemoveFile(it->path);
        }
        break;
      case kCreatedFolder:
        RemoveFolder(it->path);  // only succeeds when empty: nothing foreign is lost
        break;
      case kReplacedFile:
        if (FileExists(it->backup)) {
          if (FileExists(it->path)) {
            ApplyFileInformation(it->path, nullptr);
            RemoveFile(it->path);
          }
          RenameFile(it->backup, it->path);
        }
        break;
    }
  }
  entries_.clear();
}

void ExtractJournal::Commit() {
  for (const Entry& e : entries_) {
    if (e.kind == kReplacedFile && FileExists(e.backup)) {
      ApplyFileInformation(e.backup, nullptr);
      RemoveFile(e.backup);
    }
  }
  entries_.clear();
}

// ---- ItemContext ----

ItemContext::ItemContext() = default;

ItemContext::~ItemContext() {
  if (buffer_ != nullptr) {
    SecureWipe(buffer_, kBufferSize);
    HeapBlockFree(buffer_);
  }
}

unsigned char* ItemContext::Buffer() {
  if (buffer_ == nullptr) buffer_ = static_cast<unsigned char*>(HeapBlockAlloc(kBufferSize));
  return buffer_;
}

// ---- helpers ----

namespace {

Text StoredRelativePath(const FsItem& item) {
  Text rel = Text::Concat(item.GetString(kItemFolder, ""), item.GetString(kItemName, ""));
  return ToInternalForm(rel, PathStyle::kWindows);
}

// The relative path of checked names, with the stored '\' separators turned into '/'.
Text RelativePath(const Text& folder, const Text& name) {
  return ToInternalForm(Text::Concat(folder, name), PathStyle::kWindows);
}

// True when a folder between base and path (the path itself included) is a link: an
// item must never be written through one, wherever it points. The part of the path
// that this run has verified already (the extraction itself makes no links) is not
// asked about again.
bool CrossesLink(const Text& base, const Text& path, ItemContext& ctx) {
  int32_t start = base.GetLength();
  const Text& known = ctx.verified_folder;
  if (!known.IsEmpty() && path.GetLength() >= known.GetLength() &&
      Text::Compare(path.Left(known.GetLength()).Str(), known.Str()) == 0)
    start = known.GetLength();
  for (int32_t i = start; i < path.GetLength(); ++i) {
    if (path.GetAt(i) == '/' && i > base.GetLength() && i > start && IsLink(path.Left(i))) return true;
  }
  Text whole = StripTrailingSeparator(path);
  return whole.GetLength() > start && IsLink(whole);
}

// A name beside `path` that nothing has yet.
Text FreeSibling(const Text& path, const char* tag) {
  Text folder = FolderOf(path);
  for (uint32_t n = 0;; ++n) {
    Text candidate;
    candidate.Format("%s~qef-%s-%lu.tmp", folder.Str(), tag, static_cast<unsigned long>(n));
    if (!FileExists(candidate) && !FolderExists(Text::Concat(candidate, "/"))) return candidate;
  }
}

// Creates the folder (ending in '/') and its missing parents below base, noting each
// one it made. False when a folder could not be made.
bool MakeFolders(const Text& base, const Text& folder, ExtractJournal& journal) {
  // Folder items come before what is inside them, so the parent mostly exists: one
  // call makes the folder.
  if (MakeOneFolder(folder)) {
    journal.FolderCreated(folder);
    return true;
  }
  for (int32_t i = base.GetLength(); i < folder.GetLength(); ++i) {
    if (folder.GetAt(i) != '/' || folder.GetAt(i - 1) == '/') continue;
    Text prefix = folder.Left(i + 1);
    if (FolderExists(prefix)) continue;
    if (!MakeOneFolder(prefix)) return false;
    journal.FolderCreated(prefix);
  }
  return true;
}

// Reads `size` bytes of item data from the stream into `out` (or drops them when out
// is null). A short write is 205; a failed read leaves the stream's own code.
int32_t CopyData(Stream& s, uint32_t size, NewFile* out, unsigned char* buffer, uint32_t buffer_size) {
  uint32_t left = size;
  while (left > 0) {
    uint32_t n = left < buffer_size ? left : buffer_size;
    if (s.Read(buffer, n) != 0) return s.GetError();
    if (out != nullptr && out->Write(buffer, n) != 0) return kShortWrite;
    left -= n;
  }
  return 0;
}

int32_t ReadFileData(FsItem& item, Stream& s, const Text& base, ItemContext& ctx, uint32_t& size) {
  unsigned char* buffer = ctx.Buffer();
  if (buffer == nullptr) return kOutOfMemory;
  if (s.ReadU32(size) != 0) return s.GetError();
  Text folder, name;
  if (ItemNames(item, ctx, folder, name) != 0) return kUnsafeName;
  if (ctx.action == ItemAction::kVerify) return CopyData(s, size, nullptr, buffer, ItemContext::kBufferSize);

  Text path = Text::Concat(base, RelativePath(folder, name));
  Text folder_path = FolderOf(path);
  if (CrossesLink(base, folder_path, ctx)) return kUnsafeName;
  ctx.verified_folder = folder_path;
  // The file is created only where nothing has its name; an existing file gets its new
  // content beside it and is replaced only once that is complete.
  NewFile out;
  bool exists = false;
  Text written = path;
  int32_t r = out.Create(path, exists);
  if (r != 0 && exists) {
    PropertyList existing;
    if (!FileExists(path) || CollectFileInformation(path, existing) != 0) return kCannotOpen;  // a folder
    if (ctx.keep_existing || existing.GetByte(kInfoReadOnly, 0) == 1) return kCannotOpen;
    written = FreeSibling(path, "new");
    r = out.Create(written, exists);
  }
  if (r != 0) return kCannotOpen;
  ctx.journal.FileCreated(written);
  r = CopyData(s, size, &out, buffer, ItemContext::kBufferSize);
  PropertyList info = item.GetList(kItemInfo);
  int32_t closed = r == 0 ? out.Finish(&info) : out.Close();
  if (r == 0) r = closed;
  if (r != 0) return r;
  if (written.NotEquals(path.Str())) {
    Text backup = FreeSibling(path, "old");
    if (!RenameFile(path, backup)) return kCannotOpen;
    if (!RenameFile(written, path)) {
      RenameFile(backup, path);
      return kCannotOpen;
    }
    ctx.journal.FileReplaced(path, backup);
  }
  return 0;
}

int32_t MakeFolderItem(FsItem& item, const Text& base, ItemContext& ctx) {
  Text folder, name;
  if (ItemNames(item, ctx, folder, name) != 0) return kUnsafeName;
  if (ctx.action == ItemAction::kVerify) return 0;
  Text path = AddTrailingSeparator(Text::Concat(base, RelativePath(folder, name)));
  if (CrossesLink(base, path, ctx)) return kUnsafeName;
  // As with the folder creation it stands for, a folder that cannot be made is not an
  // error here: the items inside it fail when they are written.
  if (MakeFolders(base, path, ctx.journal)) ctx.verified_folder = path;
  PropertyList info = item.GetList(kItemInfo);
  ApplyFileInformation(path, &info);
  return 0;
}

int32_t ReadItem(FsItem& item, Stream& s) {
  const StreamParams* params = s.GetParams();
  if (params == nullptr || params->base_folder == nullptr) return s.Fail(kFailed);
  ItemContext local;
  ItemContext& ctx = params->items != nullptr ? *params->items : local;
  Text base(params->base_folder);
  if (ctx.action != ItemAction::kVerify && !ctx.verified_base.Equals(base.Str())) {
    if (!FolderExists(base)) {
      item.SetBaseFolder("");
      return s.Fail(kTargetMissing);
    }
    ctx.verified_base = base;
  }
  item.SetBaseFolder(base.Str());
  if (ReadListRecord(item, s) != 0) return s.GetError();
  if (params->count_only == 1) return 0;

  uint8_t kind = item.GetByte(kItemKind, 0);
  uint32_t size = 0;
  int32_t r = 0;
  if (kind == 0) {
    r = ReadFileData(item, s, base, ctx, size);
  } else if (kind == 1) {
    r = MakeFolderItem(item, base, ctx);
  }
  if (r != 0) return s.Fail(r);
  if (ctx.observer != nullptr && s.GetError() == 0) ctx.observer(item, kind, size, ctx.observer_user);
  return s.GetError();
}

Text SourceOf(const FsItem& item, const StreamParams* params) {
  if (!item.GetSourcePath().IsEmpty()) return item.GetSourcePath();
  const char* base = params != nullptr ? params->base_folder : nullptr;
  if (base == nullptr) base = item.GetBaseFolder().Str();
  return Text::Concat(Text(base), StoredRelativePath(item));
}

int32_t WriteItem(FsItem& item, Stream& s) {
  const StreamParams* params = s.GetParams();
  Text source = SourceOf(item, params);
  if (SerialiseValue(item, s) != 0) return s.GetError();
  if (item.GetByte(kItemKind, 0) != 0) return s.GetError();
  int64_t size = FileSize(source);
  if (s.GetCountOnlyFlag() == 1) return s.Count(4 + static_cast<uint32_t>(size < 0 ? 0 : size));
  std::FILE* f = size < 0 ? nullptr : std::fopen(ToSystemForm(source).Str(), "rb");
  if (f == nullptr) return s.Fail(kCannotOpen);
  ItemContext local;
  unsigned char* buffer = (params != nullptr && params->items != nullptr ? params->items : &local)->Buffer();
  if (buffer == nullptr) {
    std::fclose(f);
    return s.Fail(kOutOfMemory);
  }
  // Exactly the size announced is copied: a file that changes meanwhile cannot make
  // the stored size and the stored data disagree.
  s.WriteU32(static_cast<uint32_t>(size));
  uint32_t left = static_cast<uint32_t>(size);
  while (left > 0 && s.GetError() == 0) {
    uint32_t n = left < ItemContext::kBufferSize ? left : ItemContext::kBufferSize;
    if (std::fread(buffer, 1, n, f) != n) {
      s.Fail(kShortRead);
      break;
    }
    s.Write(buffer, n);
    left -= n;
  }
  std::fclose(f);
  return s.GetError();
}

}  // namespace

int32_t SerialiseItem(FsItem& item, Stream& stream) {
  return stream.IsWriting() ? WriteItem(item, stream) : ReadItem(item, stream);
}

uint32_t ItemSize(const FsItem& item, const StreamParams* params) {
  bool has_base = params != nullptr && params->base_folder != nullptr;
  if (!has_base && item.GetSourcePath().IsEmpty()) return 0;
  PropertyList list(item);
  uint32_t size = RecordSize(list, params);
  if (item.GetByte(kItemKind, 0) == 0) {
    int64_t file = FileSize(SourceOf(item, params));
    size += 4 + static_cast<uint32_t>(file < 0 ? 0 : file);
  }
  return size;
}

Text ItemPath(const Text& base_folder, const FsItem& item) {
  return Text::Concat(base_folder, StoredRelativePath(item));
}

int32_t ItemNames(const FsItem& item, const ItemContext& context, Text& folder, Text& name) {
  folder = item.GetString(kItemFolder, "");
  name = item.GetString(kItemName, "");
  if (context.name_mapper != nullptr) {
    Text mapped_folder, mapped_name;
    if (!context.name_mapper(folder, mapped_folder, context.name_mapper_user) ||
        !context.name_mapper(name, mapped_name, context.name_mapper_user))
      return kUnsafeName;
    folder = mapped_folder;
    name = mapped_name;
  }
  return CheckItemName(folder, name, context.style);
}

}  // namespace qef
