#include "container/fs_item.h"

#include "container/value_record.h"
#include "container/writer.h"
#include "core/heap.h"
#include "core/result.h"
#include "fs/fs.h"

namespace qef {

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

// Splits a relative path at its last '/': the folder part (ending in '/', or empty)
// and the name after it.
void SplitLast(const Text& path, Text& folder, Text& name) {
  int32_t slash = path.ReverseFind('/');
  folder = path.Left(slash + 1);
  name = path.Right(path.GetLength() - slash - 1);
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

// A refused name ends the run, but for a verifying run asked to go on: that one notes
// the item as refused and reads on.
bool RefusedNameGoesOn(ItemContext& ctx) {
  if (ctx.action != ItemAction::kVerify || !ctx.go_on_after_refused_names) return false;
  ctx.item_refused = true;
  ++ctx.refused_names;
  return true;
}

int32_t ReadFileData(FsItem& item, Stream& s, ItemContext& ctx, uint32_t& size) {
  unsigned char* buffer = ctx.Buffer();
  if (buffer == nullptr) return kOutOfMemory;
  if (s.ReadU32(size) != 0) return s.GetError();
  Text folder, name;
  if (ItemNames(item, ctx, folder, name) != 0) {
    if (!RefusedNameGoesOn(ctx)) return kUnsafeName;
    return CopyData(s, size, nullptr, buffer, ItemContext::kBufferSize);
  }
  if (ctx.action == ItemAction::kVerify) return CopyData(s, size, nullptr, buffer, ItemContext::kBufferSize);

  Text where, leaf;
  SplitLast(RelativePath(folder, name), where, leaf);
  int32_t at = 0;
  int32_t r = ctx.disk.FindFolder(where, false, at);
  NewFile out;
  PendingFile file;
  if (r == 0) r = ctx.disk.BeginFile(at, leaf, ctx.keep_existing || ctx.skip_existing, out, file);
  if (r == kCannotOpen && ctx.skip_existing && ctx.disk.FileThere(at, leaf)) {
    ++ctx.skipped_existing;
    return CopyData(s, size, nullptr, buffer, ItemContext::kBufferSize);
  }
  if (r != 0) return r == kUnsafeName ? kUnsafeName : kCannotOpen;
  r = CopyData(s, size, &out, buffer, ItemContext::kBufferSize);
  PropertyList info = item.GetList(kItemInfo);
  int32_t closed = r == 0 ? out.Finish(&info) : out.Close();
  if (r == 0) r = closed;
  if (r == 0) r = ctx.disk.PlaceFile(file);
  return r;
}

int32_t MakeFolderItem(FsItem& item, ItemContext& ctx) {
  Text folder, name;
  if (ItemNames(item, ctx, folder, name) != 0) return RefusedNameGoesOn(ctx) ? 0 : kUnsafeName;
  if (ctx.action == ItemAction::kVerify) return 0;
  int32_t at = 0;
  int32_t r = ctx.disk.FindFolder(AddTrailingSeparator(RelativePath(folder, name)), true, at);
  // As with the folder creation it stands for, a folder that cannot be made is not an
  // error here: the items inside it fail when they are written. A link is.
  if (r == kUnsafeName) return r;
  if (r == 0) {
    PropertyList info = item.GetList(kItemInfo);
    ctx.disk.ApplyToFolder(at, &info);
  }
  return 0;
}

int32_t ReadItem(FsItem& item, Stream& s) {
  const StreamParams* params = s.GetParams();
  if (params == nullptr || params->base_folder == nullptr) return s.Fail(kFailed);
  // Without a context of the run, the item is a run of its own.
  ItemContext local;
  bool alone = params->items == nullptr;
  ItemContext& ctx = alone ? local : *params->items;
  Text base(params->base_folder);
  if (ctx.action != ItemAction::kVerify && !ctx.disk.IsOpen() && ctx.disk.OpenTarget(base) != 0) {
    item.SetBaseFolder("");
    return s.Fail(kTargetMissing);
  }
  item.SetBaseFolder(base.Str());
  if (ReadListRecord(item, s) != 0) return s.GetError();
  if (params->count_only == 1) return 0;

  uint8_t kind = item.GetByte(kItemKind, 0);
  uint32_t size = 0;
  int32_t r = 0;
  ctx.item_refused = false;
  if (kind == 0) {
    r = ReadFileData(item, s, ctx, size);
  } else if (kind == 1) {
    r = MakeFolderItem(item, ctx);
  }
  if (alone && r == 0) ctx.disk.Commit();
  if (alone && r != 0) ctx.disk.Rollback();
  if (r != 0) return s.Fail(r);
  if (ctx.observer != nullptr && s.GetError() == 0)
    ctx.observer(item, kind + (ctx.item_refused ? kRefusedItem : 0), size, ctx.observer_user);
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
  // Exactly the size announced is copied, so the stored size and the stored data
  // always agree; a file that shrinks or grows meanwhile ends the run with 208, as a
  // copy cut short or cut off would not be the file.
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
  if (s.GetError() == 0 && std::fgetc(f) != EOF) s.Fail(kShortRead);
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
  return CheckItemName(folder, name, context.style, item.GetByte(kItemKind, 0) == 1);
}

}  // namespace qef
