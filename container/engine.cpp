#include "container/engine.h"

#include <vector>

#include "container/container_reader.h"
#include "core/format.h"
#include "core/progress.h"
#include "core/result.h"
#include "fs/fs.h"
#include "fs/path.h"

namespace qef {

void ExtractEngine::Prepare() {
  ready_ = true;
  header_.Reset();
  path_.Assign("");
  part_ = FilePart();
  kind_ = 0;
}

int32_t ExtractEngine::PreparePath(const Text& path, const FilePart& part) {
  if (!ready_) return kNotReady;
  if (path.IsEmpty()) return kEmptyPath;
  path_ = path;
  part_ = part;
  bool whole = part.offset == 0 && part.length == FilePart::kToTheEnd;
  kind_ = !FileExists(path) ? kKindContainer : whole ? ContainerKindOf(path) : ContainerKindOf(path, part);
  return kind_ == kKindOldFormat ? kOldFormat : 0;
}

void ExtractEngine::Finish() {
  header_.Reset();
  path_.Assign("");
  ready_ = false;
}

namespace {

// Creates the target folder and its missing parents, noting each one made, so that a
// failed run removes the target only when the run made it. Codes as CreateFolder's.
// A new target (one the program chose) is always made by this run: a folder of its
// name that is there already, or a link, is refused with 1.
int32_t CreateTarget(const Text& target, bool new_target, DiskWriter& disk) {
  if (!IsFolderPath(target) || IsTooShortToCreate(target)) return kBadArgument;
  std::vector<Text> missing;
  // A relative path's first folder has the current folder as its parent ("./" of
  // "./new/sub/"), which exists: the walk up ends there.
  Text p = target;
  if (new_target) {
    missing.push_back(p);
    p = FolderOf(StripTrailingSeparator(p));
  }
  for (; !p.IsEmpty() && !FolderExists(p); p = FolderOf(StripTrailingSeparator(p))) {
    if (!IsFolderPath(p) || IsTooShortToCreate(p)) {
      return missing.empty() ? kBadArgument : kCannotCreateParent;
    }
    missing.push_back(p);
  }
  if (p.IsEmpty()) return kCannotCreateParent;
  // From the deepest folder that exists, each missing one is made inside the one
  // before, through the folder held open.
  int32_t r = disk.OpenTarget(p);
  if (r != 0) return kCannotCreateParent;
  for (size_t i = missing.size(); r == 0 && i-- > 0;) {
    Text stripped = StripTrailingSeparator(missing[i]);
    Text name = stripped.Right(stripped.GetLength() - stripped.ReverseFind('/') - 1);
    r = disk.MakeTarget(name, i == 0 && new_target, i == 0 ? kFailed : kCannotCreateParent);
  }
  return r;
}

// One run of the items: each one the reader yields goes to the disk writer, or, with
// none (verifying), has its name checked and its data read and dropped. An item does
// nothing before it checked out: one without data is checked first, a file's data is
// checked as it has been written aside, before the file takes its name.
// With checksums the header's size of the content list is checked too: damage to the
// list's own record (its count) would otherwise hide items without failing a checksum.
int32_t ReadItems(Stream& content, bool checksums, uint32_t content_size, const ExtractOptions& o, DiskWriter* disk,
                  uint32_t& refused_names, uint32_t& damaged, ErrorInfo& error) {
  ItemReader reader(content);
  reader.ExpectChecksums(checksums);
  ItemHeader item;
  ItemNaming naming;
  naming.mapper = o.name_mapper;
  naming.user = o.name_mapper_user;
  int32_t r = 0;
  bool in_item = false;
  while (r == 0 && reader.NextItem(item)) {
    in_item = true;
    bool refused = false;
    if ((item.kind == kKindFile || item.kind == kKindFolder) && o.selector != nullptr &&
        !o.selector(item, o.selector_user)) {
      // Its data is read and dropped; damage in it costs nothing this run keeps, but
      // an archive that cannot be read on stops the run.
      reader.EndItem();
      r = reader.GetError();
      if (r == 0) in_item = false;
      continue;
    }
    bool file = item.kind == kKindFile;
    int32_t check = file ? 0 : reader.EndItem();
    if (check != 0) {
      // damaged, or unreadable: below
    } else if (item.kind != kKindFile && item.kind != kKindFolder) {
      // an item without effect
    } else if (disk == nullptr) {
      Text folder, name;
      if (CheckedItemNames(item, naming, folder, name) != 0) {
        if (!o.go_on_after_refused_names) r = error.Set(kUnsafeName, item.StoredPath(), "the name is refused");
        refused = true;
        ++refused_names;
      }
    } else if (!file) {
      r = disk->MakeFolderItem(item);
    } else {
      bool skipped = false;
      r = disk->BeginFileItem(item, skipped);
      if (r == 0 && !skipped) {
        const unsigned char* data = nullptr;
        uint32_t length = 0;
        while (r == 0 && reader.ReadData(data, length)) r = disk->WriteData(data, length);
        if (r == 0) r = reader.GetError();
        if (r == 0) check = reader.EndItem();
        int32_t ended = disk->EndFileItem(item, r != 0 ? r : check);
        if (ended != check) r = ended;
      }
    }
    // What is left of the data (a file skipped, refused, or only verified) is read and
    // dropped, so that the next item follows, and the item is checked.
    if (r == 0 && check == 0) check = reader.EndItem();
    if (r == 0 && check != 0 && reader.GetError() == 0) {
      if (!o.salvage) {
        r = error.Set(check, item.StoredPath(), "damaged: the item does not match its checksum");
      } else {
        ++damaged;
        if (o.damaged != nullptr) o.damaged(item, check, o.damaged_user);
      }
      in_item = false;
      continue;
    }
    if (r == 0 && check != 0) break;
    if (r != 0) break;
    in_item = false;
    if (o.observer != nullptr) o.observer(item, refused, o.observer_user);
  }
  if (r == 0) r = reader.GetError();
  if (r == 0 && checksums && content_size != 0 && reader.BytesRead() != content_size)
    r = error.Set(kBadChecksum, Text(), "the content list is not the size the header gives");
  if (o.had_checksums != nullptr) *o.had_checksums = reader.HasChecksums();
  // The archive could not be read on: the item being read is named, when there was one.
  if (r != 0 && r == reader.GetError() && in_item) error.Set(r, item.StoredPath());
  if (disk != nullptr && disk->Error().IsSet())
    error.Set(disk->Error().code, disk->Error().path, disk->Error().action.Str(), disk->Error().reason);
  return r;
}

int32_t ExtractKind1(ExtractEngine& engine, const Text& password, const ProgressCallback* progress,
                     const ExtractOptions& options, DiskWriter* disk, uint32_t& refused_names, uint32_t& damaged,
                     ErrorInfo& error) {
  ProgressReport report(progress);
  ProgressPhase phase(progress, 100);
  StreamParams params;
  params.progress = progress;
  ContainerReader reader;
  reader.SetReadAhead(options.decode_threads);
  reader.SetPart(engine.ContainerPart());
  int32_t r = reader.Open(engine.ContainerPath(), password, &engine.HeaderList(), &params);
  // The progress total is known once the header is read; nothing has gone through
  // the progress stream yet, so that progress runs from the content list's first byte.
  if (r == 0 && progress != nullptr) params.progress_total = engine.HeaderList().GetDWord(kHeaderProgressTotal, 0);
  bool checksums = engine.HeaderList().GetByte(kHeaderChecksums, 0) == 1;
  if (r == 0) {
    r = ReadItems(reader, checksums, engine.HeaderList().GetDWord(kHeaderProgressTotal, 0), options, disk,
                  refused_names, damaged, error);
    reader.Close();
  }
  phase.EndPhase();
  report.EndProgress();
  return r;
}

}  // namespace

int32_t ExtractContainer(ExtractEngine& engine, const Text& container_path, const Text& password,
                         const Text& target_folder, const ProgressCallback* progress, const ExtractOptions* options) {
  if (!FileExists(container_path)) return kContainerMissing;
  ExtractOptions defaults;
  if (options == nullptr) options = &defaults;
  ErrorInfo local_error;
  ErrorInfo& error = options->error != nullptr ? *options->error : local_error;
  DiskWriter disk;
  ItemNaming naming;
  naming.mapper = options->name_mapper;
  naming.user = options->name_mapper_user;
  disk.SetNaming(naming);
  disk.SetExisting(options->keep_existing, options->skip_existing);
  disk.SetReplaceReadOnly(options->replace_read_only);
  disk.SetFolderNotMade(options->folder_not_made, options->folder_not_made_user);
  disk.SetKeptAside(options->kept_aside, options->kept_aside_user);
  disk.SetOtherSpelling(options->other_spelling, options->other_spelling_user);
  // A folder item left out as damaged, or passed over, must not cost the files inside it.
  disk.SetMakeMissingFolders(options->salvage || options->selector != nullptr);

  bool extracting = options->action == ItemAction::kExtract;
  Text target = target_folder.IsEmpty() ? FolderOf(ToInternalForm(container_path)) : target_folder;
  // A relative target is taken from the current folder ("new/sub/" as "./new/sub/"),
  // so that its first folder has a parent that exists, and is not taken for a root
  // too short to create.
  bool relative = !target.IsEmpty() && target.GetAt(0) != '/' && !(target.GetLength() >= 2 && target.GetAt(1) == ':');
  if (relative && !(target.GetLength() >= 2 && target.GetAt(0) == '.' && target.GetAt(1) == '/'))
    target = Text::Concat(Text("./"), target);
  int32_t r = 0;
  if (extracting) {
    r = FolderExists(target) && !options->new_target ? disk.OpenTarget(target)
                                                     : CreateTarget(target, options->new_target, disk);
    if (r != 0 && options->new_target)
      error.Set(r, target, "cannot make the folder new: something may have taken its name since it was chosen");
  }
  if (r == 0) {
    engine.Prepare();
    r = engine.PreparePath(container_path, options->container_part);
  }
  uint32_t refused_names = 0, damaged = 0;
  if (r == 0) {
    r = engine.GetKind() == kKindContainer ? ExtractKind1(engine, password, progress, *options,
                                                          extracting ? &disk : nullptr, refused_names, damaged, error)
                                           : kUnsupported;
  }
  if (r == 0 && refused_names != 0) r = kUnsafeName;
  if (options->damaged_items != nullptr) *options->damaged_items = damaged;
  if (r == 0 && damaged != 0) {
    Text count;
    count.Format(
        "the archive is damaged: %lu %s not extracted, every other item was", static_cast<unsigned long>(damaged),
        damaged == 1 ? "item that does not match its checksum was" : "items that do not match their checksums were");
    r = error.Set(kBadChecksum, Text(), count.Str());
  }
  // A failed run leaves the target as it found it; a successful one, or one that
  // salvages, drops the old files it replaced.
  if (r != 0 && (!options->salvage || r == kCancelled)) {
    if (options->undoing != nullptr && disk.FilesToUndo() + disk.FilesToPutBack() != 0)
      options->undoing(disk.FilesToUndo(), disk.FilesToPutBack(), options->undoing_user);
    disk.Rollback();
  } else {
    disk.Commit();
  }
  if (options->skipped_existing != nullptr) *options->skipped_existing = disk.SkippedExisting();
  if (options->replaced_other_spelling != nullptr)
    *options->replaced_other_spelling = disk.ReplacedUnderOtherSpelling();
  if (options->skipped_bytes != nullptr) *options->skipped_bytes = disk.SkippedExistingBytes();
  if (r != 0 && error.code != r) {
    // The context belongs to another failure than the one that ended the run.
    error.Clear();
    error.code = r;
  }
  engine.Finish();
  return r;
}

}  // namespace qef
