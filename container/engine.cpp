#include "container/engine.h"

#include <vector>

#include "container/container_reader.h"
#include "container/fs_item.h"
#include "container/value_record.h"
#include "core/progress.h"
#include "core/result.h"
#include "fs/fs.h"
#include "fs/path.h"

namespace qef {

void ExtractEngine::Prepare(int32_t value) {
  value_ = value;
  ready_ = true;
  header_.Reset();
  content_.Reset();
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
  content_.Reset();
  path_.Assign("");
  ready_ = false;
}

namespace {

// Creates the target folder and its missing parents, noting each one made, so that a
// failed run removes the target only when the run made it. Codes as CreateFolder's.
int32_t CreateTarget(const Text& target, DiskWriter& disk) {
  if (!IsFolderPath(target) || IsTooShortToCreate(target)) return kBadArgument;
  std::vector<Text> missing;
  // A relative path's first folder has the current folder as its parent ("./" of
  // "./new/sub/"), which exists: the walk up ends there.
  Text p = target;
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
    r = disk.MakeTarget(name, i == 0 ? kFailed : kCannotCreateParent);
  }
  return r;
}

int32_t ExtractKind1(ExtractEngine& engine, const Text& password, const Text& base,
                     const ProgressCallback* progress, ItemContext& context, int32_t decode_threads) {
  ProgressReport report(progress);
  ProgressPhase phase(progress, 100);
  StreamParams params;
  params.base_folder = base.Str();
  params.progress = progress;
  params.items = &context;
  ContainerReader reader;
  reader.SetReadAhead(decode_threads);
  reader.SetPart(engine.ContainerPart());
  int32_t r = reader.Open(engine.ContainerPath(), password, &engine.HeaderList(), &params);
  uint32_t total = engine.HeaderList().GetDWord(kHeaderProgressTotal, 0);
  if (r == 0 && progress != nullptr && total != 0) {
    // The total is known only once the header is read: open again with it, so that
    // progress runs from the first byte of the content list.
    params.progress_total = total;
    reader.Close();
    r = reader.Open(engine.ContainerPath(), password, &engine.HeaderList(), &params);
  }
  if (r == 0) {
    r = SerialiseValue(engine.ContentList(), reader);
    reader.Close();
  }
  phase.EndPhase();
  report.EndProgress();
  return r;
}

}  // namespace

int32_t ExtractContainer(ExtractEngine& engine, const Text& container_path, const Text& password,
                         const Text& target_folder, PropertyList* header_out, PropertyList* content_out,
                         const ProgressCallback* progress, const ExtractOptions* options) {
  if (!FileExists(container_path)) return kContainerMissing;
  ExtractOptions defaults;
  if (options == nullptr) options = &defaults;
  ItemContext context;
  context.action = options->action;
  context.keep_existing = options->keep_existing;
  context.skip_existing = options->skip_existing;
  context.go_on_after_refused_names = options->go_on_after_refused_names;
  context.observer = options->observer;
  context.observer_user = options->observer_user;
  context.name_mapper = options->name_mapper;
  context.name_mapper_user = options->name_mapper_user;
  context.keep_items = content_out != nullptr;

  bool extracting = options->action == ItemAction::kExtract;
  Text target = target_folder.IsEmpty() ? FolderOf(ToInternalForm(container_path)) : target_folder;
  // A relative target is taken from the current folder ("new/sub/" as "./new/sub/"),
  // so that its first folder has a parent that exists, and is not taken for a root
  // too short to create.
  bool relative = !target.IsEmpty() && target.GetAt(0) != '/' && !(target.GetLength() >= 2 && target.GetAt(1) == ':');
  if (relative && !(target.GetLength() >= 2 && target.GetAt(0) == '.' && target.GetAt(1) == '/'))
    target = Text::Concat(Text("./"), target);
  int32_t r = 0;
  if (extracting) r = FolderExists(target) ? context.disk.OpenTarget(target) : CreateTarget(target, context.disk);
  if (r == 0) {
    engine.Prepare(0);
    r = engine.PreparePath(container_path, options->container_part);
  }
  if (r == 0) r = engine.GetKind() == kKindContainer ? ExtractKind1(engine, password, target, progress, context, options->decode_threads)
                                                     : kUnsupported;
  if (r == 0 && context.refused_names != 0) r = kUnsafeName;
  // A failed run leaves the target as it found it; a successful one drops the old
  // files it replaced.
  if (r != 0)
    context.disk.Rollback();
  else
    context.disk.Commit();
  if (options->skipped_existing != nullptr) *options->skipped_existing = context.skipped_existing;
  if (header_out != nullptr) *header_out = engine.HeaderList();
  if (content_out != nullptr) *content_out = engine.ContentList();
  engine.Finish();
  return r;
}

}  // namespace qef
