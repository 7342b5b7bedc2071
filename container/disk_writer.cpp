#include "container/disk_writer.h"

#include <cstdio>
#include <cstring>

#include "container/file_info.h"
#include "core/format.h"
#include "core/hold.h"
#include "core/result.h"
#include "fs/path.h"

namespace qef {

namespace {

// Folders held at once before those off the current path are let go (and opened
// again, checked, when they are needed): far below the usual limit of 1,024 open
// descriptors on POSIX, so that a tree of many folders cannot exhaust them.
const int32_t kMaxHeld = 200;
// Of the path to the folder in use, the few folders right above it stay held too, so
// that its neighbours are found again without a walk from the target; a deep path is
// let go of further up, so that no depth runs into the limit of open descriptors.
const int32_t kHeldAbove = 8;

}  // namespace

DiskWriter::DiskWriter() { Close(); }

DiskWriter::~DiskWriter() { Close(); }

void DiskWriter::Close() {
  folders_.clear();
  buckets_.clear();
  target_ = -1;
  held_ = 0;
  limit_ = kMaxHeld;
}

int32_t DiskWriter::OpenTarget(const Text& folder) {
  Close();
  changes_.clear();
  made_folders_.clear();
  auto root = std::make_unique<Folder>();
  if (root->Open(folder) != 0) return kTargetMissing;
  FolderEntry entry;
  entry.name = folder;
  entry.id = root->Id();
  entry.held = std::move(root);
  folders_.push_back(std::move(entry));
  held_ = 1;
  target_ = 0;
  target_path_ = folder;
  Index(target_);
  return 0;
}

int32_t DiskWriter::MakeTarget(const Text& name, bool must_make, int32_t failure) {
  int32_t code = 0;
  Folder* at = Hold(target_, code);
  if (at == nullptr) return failure;
  int32_t index = at->MakeFolder(name) ? NoteMadeFolder(*at, target_, name, Text(), nullptr) : -1;
  if (index < 0 && must_make) return failure;
  auto folder = std::make_unique<Folder>();
  if (folder->OpenIn(*at, name) != 0) return failure;  // made by someone else, as a link
  index = index >= 0 ? HoldMadeFolder(index, std::move(folder)) : AddFolder(target_, name, std::move(folder));
  if (index < 0) return failure;
  target_ = index;
  target_path_ = AddTrailingSeparator(Text::Concat(target_path_, name));
  folders_[index].key = Text();
  buckets_.clear();  // the folders above the target are no item's
  Index(target_);
  return 0;
}

namespace {

uint32_t HashOf(const Text& key) {
  uint32_t h = 2166136261u;  // FNV-1a
  for (const char* p = key.Str(); *p != 0; ++p) h = (h ^ static_cast<unsigned char>(*p)) * 16777619u;
  return h;
}

}  // namespace

int32_t DiskWriter::Known(const Text& key) const {
  if (buckets_.empty()) return -1;
  int32_t i = buckets_[HashOf(key) & (buckets_.size() - 1)];
  while (i >= 0 && Text::Compare(folders_[i].key.Str(), key.Str()) != 0) i = folders_[i].next;
  return i;
}

void DiskWriter::Index(int32_t folder) {
  auto link = [this](int32_t i) {
    size_t b = HashOf(folders_[i].key) & (buckets_.size() - 1);
    folders_[i].next = buckets_[b];
    buckets_[b] = i;
  };
  // The folders from the target on are the ones below it; there are never fewer
  // buckets than those.
  size_t count = folders_.size() - static_cast<size_t>(target_);
  if (count > buckets_.size()) {
    buckets_.assign(buckets_.empty() ? 64 : 2 * buckets_.size(), -1);
    for (int32_t i = target_; i < static_cast<int32_t>(folders_.size()); ++i) {
      if (i != folder) link(i);
    }
  }
  link(folder);
}

int32_t DiskWriter::NoteMadeFolder(const Folder& parent_folder, int32_t parent, const Text& name, const Text& key,
                                   const FileId* opened) {
  FileId id;
  if (opened != nullptr) {
    id = *opened;
  } else {
    EntryInfo made = parent_folder.Inspect(name);
    if (made.kind != EntryInfo::kFolder) return -1;  // already someone else's
    id = made.id;
  }
  FolderEntry entry;
  entry.parent = parent;
  entry.name = name;
  entry.id = id;
  entry.key = key;
  entry.made = true;
  folders_.push_back(std::move(entry));
  int32_t index = static_cast<int32_t>(folders_.size()) - 1;
  Index(index);
  made_folders_[{id.volume, id.index}] = index;
  changes_.push_back(Change{kMadeFolder, index, name, id, Text(), FileId(), Text()});
  return index;
}

int32_t DiskWriter::HoldMadeFolder(int32_t index, std::unique_ptr<Folder> folder) {
  if (folder->Id() != folders_[index].id) return -1;
  folders_[index].held = std::move(folder);
  ++held_;
  LimitHeld(index);
  return index;
}

int32_t DiskWriter::AddFolder(int32_t parent, const Text& name, std::unique_ptr<Folder> folder) {
  FolderEntry entry;
  entry.parent = parent;
  entry.name = name;
  entry.id = folder->Id();
  entry.held = std::move(folder);
  folders_.push_back(std::move(entry));
  ++held_;
  int32_t index = static_cast<int32_t>(folders_.size()) - 1;
  LimitHeld(index);
  return index;
}

void DiskWriter::LimitHeld(int32_t keep) {
  if (held_ <= limit_) return;
  std::vector<bool> kept(folders_.size(), false);
  kept[0] = true;
  if (target_ >= 0) kept[target_] = true;
  int32_t above = 0;
  for (int32_t i = keep; i >= 0 && above <= kHeldAbove; i = folders_[i].parent, ++above) kept[i] = true;
  for (size_t i = 0; i < folders_.size(); ++i) {
    if (!kept[i] && folders_[i].held != nullptr) {
      folders_[i].held.reset();
      --held_;
    }
  }
}

Folder* DiskWriter::Hold(int32_t folder, int32_t& code) {
  code = Note(kCannotOpen, "cannot open the folder");
  if (folder < 0 || folder >= static_cast<int32_t>(folders_.size())) return nullptr;
  std::vector<int32_t> chain;
  int32_t i = folder;
  for (; i >= 0 && folders_[i].held == nullptr; i = folders_[i].parent) chain.push_back(i);
  if (i < 0) return nullptr;  // the root has been let go: the run is over
  for (size_t k = chain.size(); k-- > 0;) {
    FolderEntry& entry = folders_[chain[k]];
    auto opened = std::make_unique<Folder>();
    int32_t r = opened->OpenIn(*folders_[entry.parent].held, entry.name);
    // Another folder under a known name is as foreign as a link.
    if (r == 0 && opened->Id() != entry.id) r = kUnsafeName;
    if (r != 0) {
      code = Note(r == kUnsafeName ? kUnsafeName : kCannotOpen, "a folder was replaced while the run went on");
      return nullptr;
    }
    entry.held = std::move(opened);
    ++held_;
    LimitHeld(chain[k]);
  }
  LimitHeld(folder);
  return folders_[folder].held.get();
}

int32_t DiskWriter::FindFolder(const Text& relative, bool create, int32_t& folder) {
  folder = target_;
  if (target_ < 0) return kCannotOpen;
  // The path is taken one component at a time; empty and "." components name the
  // folder they are in.
  Text key;
  int32_t start = 0;
  while (start < relative.GetLength()) {
    int32_t end = relative.Find('/', start);
    if (end < 0) end = relative.GetLength();
    Text name = relative.Mid(start, end - start);
    start = end + 1;
    if (name.IsEmpty() || name.Equals(".")) continue;
    if (name.Equals("..")) return Note(kUnsafeName, "the name is refused");  // the name check lets none through
    key.Append(name);
    key.AppendChar('/');
    int32_t known = Known(key);
    if (known >= 0) {
      folder = known;
      continue;
    }
    int32_t code = 0;
    Folder* at = Hold(folder, code);
    if (at == nullptr) return code;
    auto opened = std::make_unique<Folder>();
    int32_t r = opened->OpenIn(*at, name);
    int32_t made = -1;
    int32_t native = 0;
    if (r == kFolderMissing && create) {
      if (at->MakeFolder(name)) {
        // Noted as soon as it is there, by the identity of the folder opened, or of
        // what has its name when it does not open: undoing the run still removes it.
        r = opened->OpenIn(*at, name);
        if (r != 0 && r != kFolderMissing) native = LastNativeError();
        made = NoteMadeFolder(*at, folder, name, key, r == 0 ? &opened->Id() : nullptr);
      } else {
        native = LastNativeError();
        r = opened->OpenIn(*at, name);  // one made by someone else meanwhile counts as found
      }
      if (r == kFolderMissing) return Note(kFailed, "cannot create the folder", native);
    }
    if (r == kFolderMissing) return Note(kCannotOpen, "its folder does not exist");
    if (r == kUnsafeName) return Note(r, "a link is in the way");
    if (r != 0) {
      EntryInfo in_the_way = at->Inspect(name);
      if (in_the_way.kind != EntryInfo::kFolder && in_the_way.kind != EntryInfo::kMissing)
        return Note(r, "a file is in the way of a folder");
      return Note(r, "cannot open the folder", native);
    }
    if (made >= 0) {
      if (HoldMadeFolder(made, std::move(opened)) < 0)
        return Note(kUnsafeName, "a folder was replaced while the run went on");
      folder = made;
      continue;
    }
    folder = AddFolder(folder, name, std::move(opened));
    folders_[folder].key = key;
    Index(folder);
    // A folder this run made, found under another spelling of its path.
    auto made_before = made_folders_.find({folders_[folder].id.volume, folders_[folder].id.index});
    if (made_before != made_folders_.end()) {
      FolderEntry& first = folders_[made_before->second];
      folders_[folder].same = first.same;
      first.same = folder;
    }
  }
  return 0;
}

int32_t DiskWriter::ApplyToFolder(int32_t folder, const FileInfo& info) {
  int32_t code = 0;
  Folder* at = Hold(folder, code);
  return at != nullptr ? at->ApplyInformation(info) : kFailed;
}

// The temporary names of one run share a random part, so that no item can be stored
// under such a name on purpose. Should the generator fail, the identity checks still
// keep every removal to what this run made.
Text DiskWriter::TemporaryName() { return names_.Next(); }

const char* DiskWriter::Refusal(const EntryInfo& old, bool keep_existing) const {
  bool ours = old.kind == EntryInfo::kFile && made_files_.count({old.id.volume, old.id.index}) != 0;
  if (keep_existing && !ours) return kExistsAndKept;
  if (old.kind == EntryInfo::kFolder) return "a folder is in the way";
  if (old.read_only && !ours && !replace_read_only_) return "the file exists and is read-only";
  return nullptr;
}

int32_t DiskWriter::BeginFile(int32_t folder, const Text& name, bool keep_existing, NewFile& out, PendingFile& file) {
  int32_t code = 0;
  Folder* at = Hold(folder, code);
  if (at == nullptr) return code;
  file.folder = folder;
  file.name = name;
  // Whether an existing file is kept decides whether the data is written at all, so
  // only then is the name looked at first. Otherwise the new file takes its name in a
  // rename that never replaces, and PlaceFile decides about what has the name then,
  // by the same rule; most names are free, and a free name costs no look.
  if (keep_existing) {
    EntryInfo old = at->Inspect(name);
    const char* refused = old.kind != EntryInfo::kMissing ? Refusal(old, true) : nullptr;
    if (refused != nullptr) return Note(kCannotOpen, refused);
  }
  file.written = TemporaryName();
  bool exists = false;
  if (out.Create(*at, file.written, exists) != 0) return Note(kCannotOpen, "cannot create the file", out.NativeError());
  file.id = out.Id();
  file.change = changes_.size();
  made_files_[{file.id.volume, file.id.index}] = file.change;
  changes_.push_back(Change{kMadeFile, folder, file.written, file.id, Text(), FileId(), Text()});
  return 0;
}

int32_t DiskWriter::PlaceFile(const PendingFile& file) {
  int32_t code = 0;
  Folder* at = Hold(file.folder, code);
  if (at == nullptr) return code;
  // A free name is taken in one rename that never replaces: a file that came there
  // meanwhile is replaced as any existing one.
  if (at->Rename(file.written, file.name)) {
    changes_[file.change].name = file.name;  // also where the file is known from now on
    return 0;
  }
  EntryInfo old = at->Inspect(file.name);
  if (old.kind == EntryInfo::kMissing) return Note(kCannotOpen, "cannot create the file", LastNativeError());
  auto made = old.kind == EntryInfo::kFile ? made_files_.find({old.id.volume, old.id.index}) : made_files_.end();
  bool ours = made != made_files_.end();
  const char* refused = Refusal(old, keep_existing_ || skip_existing_);
  if (refused != nullptr) return Note(kCannotOpen, refused);
  // On a volume that does not tell case apart the old entry may be spelled otherwise
  // than the item: it keeps its own name aside and when it is put back.
  Text old_name = at->SpelledName(file.name);
  Text backup = names_.Aside(old_name);
  bool aside = at->Rename(file.name, backup);
  if (!aside) {
    // A name too long for the file system: the original is set aside without it.
    backup = names_.Aside(Text());
    aside = at->Rename(file.name, backup);
  }
  if (!aside) return Note(kCannotOpen, "cannot replace the file", LastNativeError());
  // Noted before the new file takes the name: should that fail, undoing the run puts
  // the old one back.
  size_t replaced = changes_.size();
  changes_.push_back(Change{kReplacedFile, file.folder, file.name, file.id, backup, at->Inspect(backup).id, old_name});
  if (!at->Rename(file.written, file.name)) {
    // The old file goes back at once: a run that keeps what did extract would
    // otherwise remove it on Commit.
    int32_t native = LastNativeError();
    if (at->Rename(backup, old_name)) changes_.pop_back();
    return Note(kCannotOpen, "cannot replace the file", native);
  }
  if (ours) {
    // The system found the file this run placed under another path when it was asked
    // for this one: both paths name one file here, and only the later item's is kept.
    const Change& earlier = changes_[made->second];
    Text earlier_path = Text::Concat(folders_[earlier.folder].key, earlier.name);
    Text later_path = Text::Concat(folders_[file.folder].key, file.name);
    if (Text::Compare(earlier_path.Str(), later_path.Str()) != 0) {
      ++other_spelling_;
      if (other_spelling_told_ != nullptr) other_spelling_told_(earlier_path, later_path, other_spelling_user_);
    }
  }
  made_files_[{file.id.volume, file.id.index}] = replaced;
  return 0;
}

uint32_t DiskWriter::FilesToUndo() const {
  uint32_t n = 0;
  for (const Change& change : changes_) n += change.kind == kMadeFile ? 1 : 0;
  return n;
}

uint32_t DiskWriter::FilesToPutBack() const {
  uint32_t n = 0;
  for (const Change& change : changes_) n += change.kind == kReplacedFile ? 1 : 0;
  return n;
}

// ---- items ----

const char kExistsAndKept[] = "the file exists and existing files are kept";

int32_t CheckedItemNames(const ItemHeader& item, const ItemNaming& naming, Text& folder, Text& name) {
  folder = item.folder;
  name = item.name;
  if (naming.mapper != nullptr) {
    Text mapped_folder, mapped_name;
    if (!naming.mapper(folder, mapped_folder, naming.user) || !naming.mapper(name, mapped_name, naming.user))
      return kUnsafeName;
    folder = mapped_folder;
    name = mapped_name;
  }
  return CheckItemName(folder, name, naming.style, item.kind == kKindFolder);
}

namespace {

// The relative path of checked names, with the stored '\' separators turned into '/'.
Text RelativePath(const Text& folder, const Text& name) {
  return ToInternalForm(Text::Concat(folder, name), PathStyle::kWindows);
}

}  // namespace

int32_t DiskWriter::ItemFailed(int32_t code, const Text& path) {
  return error_.Set(code, path, why_, SystemErrorText(native_));
}

int32_t DiskWriter::MakeFolderItem(const ItemHeader& item) {
  Text folder, name;
  if (CheckedItemNames(item, naming_, folder, name) != 0)
    return error_.Set(kUnsafeName, item.StoredPath(), "the name is refused");
  item_path_ = RelativePath(folder, name);
  int32_t at = 0;
  int32_t r = FindFolder(AddTrailingSeparator(item_path_), true, at);
  // As with the folder creation it stands for, a folder that cannot be made is not an
  // error here: the items inside it fail when they are written. A link is.
  if (r == kUnsafeName) return ItemFailed(r, item_path_);
  // Stored attributes go only to a folder this run made: a folder that was there
  // before (the target among them) keeps its own, which a failed run could not give
  // back, and which an archive must not be able to make hidden or system.
  if (r == 0) {
    if (folders_[at].made) ApplyToFolder(at, FileInfoFromList(item.info));
  } else if (folder_not_made_ != nullptr) {
    ErrorInfo why;
    why.Set(r, item_path_, why_, SystemErrorText(native_));
    folder_not_made_(why, folder_not_made_user_);
  }
  return 0;
}

int32_t DiskWriter::BeginFileItem(const ItemHeader& item, bool& skipped) {
  skipped = false;
  Text folder, name;
  if (CheckedItemNames(item, naming_, folder, name) != 0)
    return error_.Set(kUnsafeName, item.StoredPath(), "the name is refused");
  item_path_ = RelativePath(folder, name);
  int32_t slash = item_path_.ReverseFind('/');
  Text where = item_path_.Left(slash + 1);
  Text leaf = item_path_.Right(item_path_.GetLength() - slash - 1);
  int32_t at = 0;
  int32_t r = FindFolder(where, make_missing_folders_, at);
  // Only a file of the item's own name in the item's own folder is the existing file
  // to leave as it is; a folder that is missing is no reason to skip.
  if (r == 0) r = BeginFile(at, leaf, keep_existing_ || skip_existing_, out_, pending_);
  if (r == kCannotOpen && why_ == kExistsAndKept && skip_existing_) {
    ++skipped_existing_;
    skipped_existing_bytes_ += item.size;
    skipped = true;
    return 0;
  }
  if (r != 0) return ItemFailed(r == kUnsafeName ? kUnsafeName : kCannotOpen, item_path_);
  return 0;
}

int32_t DiskWriter::WriteData(const unsigned char* data, uint32_t length) {
  if (out_.Write(data, length) == 0) {
    HoldPoint("file-data");
    return 0;
  }
  return ItemFailed(Note(kShortWrite, "cannot write the file", out_.NativeError()), item_path_);
}

int32_t DiskWriter::EndFileItem(const ItemHeader& item, int32_t r) {
  if (r != 0) {
    // Nothing of a file that failed is kept, not even by a run that keeps the others.
    out_.Close();
    int32_t code = 0;
    Folder* at = Hold(pending_.folder, code);
    if (at != nullptr) at->Remove(pending_.written, pending_.id);
    return r;
  }
  // The file takes its name as it is finished when the name is free; otherwise
  // PlaceFile sees to the name once the file is closed.
  int32_t code = 0;
  Folder* at = Hold(pending_.folder, code);
  bool placed = false;
  int32_t finished = at != nullptr ? out_.FinishAs(FileInfoFromList(item.info), *at, pending_.name, placed)
                                   : out_.Finish(FileInfoFromList(item.info));
  if (finished != 0) return ItemFailed(Note(kShortWrite, "cannot write the file", out_.NativeError()), item_path_);
  if (placed) {
    changes_[pending_.change].name = pending_.name;
    return 0;
  }
  if (PlaceFile(pending_) != 0) {
    // Kept by no run, not even one that keeps the files that did extract.
    int32_t r = ItemFailed(kCannotOpen, item_path_);
    at = Hold(pending_.folder, code);
    if (at != nullptr) at->Remove(pending_.written, pending_.id);
    return r;
  }
  return 0;
}

void DiskWriter::Undo(const Change& change) {
  int32_t code = 0;
  if (change.kind == kMadeFolder) {
    FolderEntry& entry = folders_[change.folder];
    // Windows removes no folder that is held open, under any of its spellings.
    for (int32_t i = change.folder; i >= 0; i = folders_[i].same) {
      if (folders_[i].held != nullptr) {
        folders_[i].held.reset();
        --held_;
      }
    }
    Folder* parent = Hold(entry.parent, code);
    if (parent != nullptr) parent->Remove(entry.name, entry.id);  // only while empty
    return;
  }
  Folder* at = Hold(change.folder, code);
  if (at == nullptr) return;
  if (change.kind == kMadeFile) {
    at->Remove(change.name, change.id);
    return;
  }
  EntryInfo old = at->Inspect(change.backup);
  if (old.kind == EntryInfo::kMissing || old.id != change.old_id) return;
  // What has the name now is this run's file, or nothing; anything else stays, and
  // the old file with it, under its temporary name.
  EntryInfo now = at->Inspect(change.name);
  if (now.kind != EntryInfo::kMissing && (now.id != change.id || at->Remove(change.name, change.id) != 0)) {
    if (kept_aside_ != nullptr) {
      const Text& folder = folders_[change.folder].key;
      kept_aside_(Text::Concat(folder, change.backup), Text::Concat(folder, change.old_name), kept_aside_user_);
    }
    return;
  }
  at->Rename(change.backup, change.old_name);
}

void DiskWriter::Rollback() {
  for (auto it = changes_.rbegin(); it != changes_.rend(); ++it) Undo(*it);
  changes_.clear();
  made_files_.clear();
  made_folders_.clear();
  Close();
}

void DiskWriter::Commit() {
  for (const Change& change : changes_) {
    if (change.kind != kReplacedFile) continue;
    int32_t code = 0;
    Folder* at = Hold(change.folder, code);
    if (at != nullptr) at->Remove(change.backup, change.old_id);
  }
  changes_.clear();
  made_files_.clear();
  made_folders_.clear();
  Close();
}

}  // namespace qef
