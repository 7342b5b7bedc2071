// qef extract, list and test: one run of the extraction engine each, writing the
// items (extract) or only decrypting and decoding them (list, test).
#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "cli/archive.h"
#include "cli/console.h"
#include "cli/listing.h"
#include "cli/names.h"
#include "cli/pattern.h"
#include "cli/tool.h"
#include "container/container_reader.h"
#include "container/engine.h"
#include "container/writer.h"
#include "core/error.h"
#include "core/format.h"
#include "core/result.h"
#include "fs/fs.h"
#include "fs/path.h"
#include "fs/temp_file.h"

namespace qef {

namespace {

// A relative path without a folder part ("x.exe", "out/") gets "./" in front, so
// that the path rules, which work on folder parts, find the current folder as its
// parent. "./" and "../" stay as they are.
Text WithFolder(const Text& path) {
  Text bare = StripTrailingSeparator(path);
  if (!FolderOf(bare).IsEmpty() || bare.Equals(".") || bare.Equals("..")) return path;
  return Text::Concat(Text("./"), path);
}

struct Tally {
  uint32_t files = 0;
  uint32_t folders = 0;
  uint64_t bytes = 0;
  Text Describe() const { return DescribeItems(files, folders, bytes); }
};

void CountItem(const ItemHeader& item, bool, void* user) {
  Tally& t = *static_cast<Tally*>(user);
  if (item.kind == kKindFile) {
    ++t.files;
    t.bytes += item.size;
  } else if (item.kind == kKindFolder) {
    ++t.folders;
  }
}

// The archive's top-level names as a run meets its items: whether it holds exactly one.
struct TopLevel {
  std::string first;
  bool many = false;
  void Note(const ItemHeader& item) {
    std::string stored = Text::Concat(item.folder, item.name).Str();
    std::string name = stored.substr(0, stored.find_first_of("/\\"));
    if (name.empty() || name == first) return;
    if (first.empty())
      first = name;
    else
      many = true;
  }
  bool One() const { return !first.empty() && !many; }
};

// An item's path as the user names it: local names, '/' between them, no '/' after a
// folder. The stored bytes when they do not convert.
Text LocalPathOf(const ItemHeader& item, const CodePage& page) {
  Text stored = Text::Concat(item.folder, item.name), local, why;
  if (ToLocalName(stored, page, local, why) != kOk) local = stored;
  return StripTrailingSeparator(ToInternalForm(local, PathStyle::kWindows));
}

// The patterns of a run, and which of them chose something.
struct Chooser {
  const std::vector<Text>* patterns = nullptr;
  const CodePage* page = nullptr;
  std::vector<bool> used;
  TopLevel* top = nullptr;  // when given: told of every item, chosen or not

  static bool Choose(const ItemHeader& item, void* user) {
    Chooser& c = *static_cast<Chooser*>(user);
    if (c.top != nullptr) c.top->Note(item);
    Text path = LocalPathOf(item, *c.page);
    bool chosen = false;
    for (size_t i = 0; i < c.patterns->size(); ++i) {
      if (ChoosesPath((*c.patterns)[i], path)) {
        c.used[i] = true;
        chosen = true;
      }
    }
    return chosen;
  }
  void Install(const ReadRequest& q, ExtractOptions& options) {
    if (q.patterns.empty()) return;
    patterns = &q.patterns;
    page = &q.common.page;
    used.assign(q.patterns.size(), false);
    options.selector = &Chooser::Choose;
    options.selector_user = this;
  }
  // The patterns that chose nothing, quoted and joined; empty when each chose something.
  Text Unused() const {
    Text list;
    for (size_t i = 0; i < used.size(); ++i) {
      if (used[i]) continue;
      list.Append(list.IsEmpty() ? "'" : ", '");
      list.Append(Escaped((*patterns)[i], false));
      list.AppendChar('\'');
    }
    return list;
  }
};

// After a run that went well: 0, or the failure when a pattern chose nothing.
int UnusedPatterns(const Chooser& chooser) {
  Text unused = chooser.Unused();
  if (unused.IsEmpty()) return kExitOk;
  return Fail(kFailed, Text::Concat(Text("nothing in the archive matches "), unused));
}

// What an extraction wrote: its tally, and the folders (as stored) that its files went
// to, where another run that was stopped may have left files written aside.
struct Extracted {
  Tally tally;
  std::set<std::string> folders;
  const CodePage* page = nullptr;
  bool verbose = false;
  TopLevel top;
};

void NoteExtracted(const ItemHeader& item, bool refused, void* user) {
  Extracted& e = *static_cast<Extracted*>(user);
  CountItem(item, refused, &e.tally);
  if (item.kind == kKindFile || item.kind == kKindFolder) e.top.Note(item);
  if (item.kind == kKindFile) e.folders.insert(item.folder.Str());
  if (e.verbose && (item.kind == kKindFile || item.kind == kKindFolder)) {
    Text path = Escaped(LocalPathOf(item, *e.page), false);
    if (item.kind == kKindFolder) path.AppendChar('/');
    std::printf("%s\n", path.Str());
  }
}

// The folders below the target that the stored folder parts name on this system.
std::vector<Text> FoldersOnDisk(const Text& target, const std::set<std::string>& stored, const CodePage& page) {
  std::vector<Text> folders;
  for (const std::string& folder : stored) {
    Text local, why;
    if (ToLocalName(Text(folder.c_str()), page, local, why) == kOk)
      folders.push_back(Text::Concat(target, ToInternalForm(local, PathStyle::kWindows)));
  }
  return folders;
}

struct Listing {
  const CodePage* page = nullptr;
  bool json = false;
  std::string out;
  Tally tally;
  uint32_t refused = 0;
};

void ListItem(const ItemHeader& item, bool refused, void* user) {
  Listing& l = *static_cast<Listing*>(user);
  CountItem(item, refused, &l.tally);
  if (refused) ++l.refused;
  if (item.kind != kKindFile && item.kind != kKindFolder) return;
  ListedItem listed;
  listed.refused = refused;
  listed.kind = item.kind;
  listed.size = item.size;
  listed.folder = item.folder;
  listed.name = item.name;
  listed.info = item.info;
  if (l.json) {
    l.out += l.out.empty() ? "[\n  " : ",\n  ";
    l.out += JsonItem(listed, *l.page).Str();
  } else {
    l.out += ListLine(listed, *l.page).Str();
    l.out += '\n';
  }
}

// Told before a failed or cancelled run is undone, which may take a while.
struct Undoing {
  ProgressView* progress = nullptr;
  static void Tell(uint32_t new_files, uint32_t replaced_files, void* user) {
    auto& self = *static_cast<Undoing*>(user);
    self.progress->Finish(false);
    Text line;
    if (replaced_files != 0)
      line.Format("%s; putting back %lu replaced %s and removing %lu new %s",
                  WasInterrupted() ? "cancelled" : "the run failed", static_cast<unsigned long>(replaced_files),
                  replaced_files == 1 ? "file" : "files", static_cast<unsigned long>(new_files),
                  new_files == 1 ? "file" : "files");
    else
      line.Format("%s; removing %lu new %s", WasInterrupted() ? "cancelled" : "the run failed",
                  static_cast<unsigned long>(new_files), new_files == 1 ? "file" : "files");
    Warn(line);
  }
};

// One run of the engine on the archive: opens it (a program's container is read in
// place), asks for the password, follows progress and answers the exit status, with
// the error line printed; `before_result`, when given, runs once the engine has run,
// before that line.
int RunEngine(const ReadRequest& q, const Text& target, ExtractOptions& options,
              const std::function<void(int32_t)>& before_result = nullptr) {
  ArchiveInput archive;
  Text message;
  int32_t r = archive.Open(q.archive, message);
  PropertyList header;
  if (r == kOk && (r = archive.ReadHeader(header)) != kOk) message = archive.WhatWasFound(r);
  if (r != kOk) return Fail(r, message);

  Text password;
  int32_t characters = 0;
  r = GetPassword(q.common, false, password, characters, message);
  if (r != kOk) return Fail(r, message);

  NameMapping names(q.common.page);
  names.Install(options);
  options.decode_threads = q.threads;
  options.container_part = archive.ContainerPart();

  ProgressView progress(q.common.quiet || q.verbose);  // the names take the bar's place
  progress.Start(header.GetDWord(kHeaderProgressTotal, 0));
  Undoing undoing;
  undoing.progress = &progress;
  // Only a long undoing is told: a cancelled run, or one with many files to take back.
  options.undoing = [](uint32_t new_files, uint32_t replaced_files, void* user) {
    if (WasInterrupted() || new_files + replaced_files >= 100) Undoing::Tell(new_files, replaced_files, user);
  };
  options.undoing_user = &undoing;
  ExtractEngine engine;
  ErrorInfo error;
  options.error = &error;
  r = ExtractContainer(engine, archive.Path(), password, target, progress.Callback(), &options);
  progress.Finish(r == kOk);
  if (before_result) before_result(r);
  if (r == kUnsafeName && options.go_on_after_refused_names)
    message = "items whose names extraction refuses are marked above; extract stops at the first";
  else if (r == kUnsafeName && !names.Refusal().IsEmpty())
    message = names.Refusal();
  else if (r == kBadChecksum && error.path.IsEmpty() && !error.action.IsEmpty())
    message = error.action;  // what a salvage left out
  else if (r != kOk && r != kUnsafeName && !error.path.IsEmpty()) {
    // A failure about one item names it, says what was being done and, where the
    // system gave one, its reason (the engine keeps a context only for the code it
    // ends with).
    if (error.action.Equals(kExistsAndKept)) error.action = "exists and --keep-existing was given";
    if (error.code == kCannotOpen && error.action.FindText("read-only") >= 0)
      error.action.Append(" (--overwrite-read-only replaces it, --skip-existing leaves existing files as they are)");
    return Fail(error);
  } else if (r != kOk && r != kCancelled && message.IsEmpty()) {
    // A wrong password, damaged or cut-short data: the archive is what it is about.
    message.Format("%s: %s", Escaped(q.archive, false).Str(), DescribeResult(r));
  }
  return r == kOk ? kExitOk : Fail(r, message);
}

}  // namespace

// The folders an extraction could not make, told once the run is over (not across
// the progress bar); a hostile archive's thousands are summed up after the first ones.
struct FoldersNotMade {
  static const size_t kShown = 20;
  std::vector<Text> lines;
  uint32_t count = 0;
  static void Note(const ErrorInfo& why, void* user) {
    auto& self = *static_cast<FoldersNotMade*>(user);
    if (self.count++ >= kShown) return;
    ErrorInfo shown = why;
    shown.path = Escaped(AddTrailingSeparator(why.path), false);
    self.lines.push_back(Text::Concat(DescribeError(shown), "; the folder was not made"));
  }
  void Tell() const {
    for (const Text& line : lines) Warn(line);
    if (count > kShown) {
      Text more;
      more.Format("%lu more folders were not made", static_cast<unsigned long>(count - kShown));
      Warn(more);
    }
  }
};

// Files the run made that a later item replaced under another spelling of the path
// (names that differ only in case, where the volume does not tell case apart): a few
// by both names once the run is over, then how many more.
struct OtherSpellings {
  static const size_t kShown = 5;
  std::vector<Text> lines;
  uint32_t count = 0;
  static void Note(const Text& earlier, const Text& later, void* user) {
    auto& self = *static_cast<OtherSpellings*>(user);
    if (self.count++ >= kShown) return;
    Text line = Escaped(later, false);
    line.Append(" replaced ");
    line.Append(Escaped(earlier, false));
    line.Append(", extracted earlier in this run: the system takes both names for one file");
    self.lines.push_back(line);
  }
  void Tell() const {
    for (const Text& line : lines) Warn(line);
    if (count > kShown) {
      Text more;
      more.Format("%lu more files were replaced by a later one under another spelling of their names",
                  static_cast<unsigned long>(count - kShown));
      Warn(more);
    }
  }
};

// The target can be written in, or made where it is missing: 0, or the failure with
// the path and the reason, found before the password is asked for and anything is read.
// For a missing target a file is written aside and removed in the deepest folder that
// exists, where the run would make the target; a target that exists is left untouched
// (its time stays as it was when the run fails), and a file the run cannot write there
// is named when it is met.
int32_t CheckTarget(const Text& target, ErrorInfo& error) {
  Text bare = StripTrailingSeparator(target);
  if (FileExists(bare)) return error.Set(kBadArgument, bare, "cannot extract into it", "it is a file, not a folder");
  if (FolderExists(target)) return kOk;
  Text existing = target;
  while (!existing.IsEmpty() && !FolderExists(existing)) {
    Text up = FolderOf(StripTrailingSeparator(existing));
    if (!up.IsEmpty() && FileExists(StripTrailingSeparator(up)))
      return error.Set(kCannotCreateParent, bare, "cannot create the folder",
                       Text::Concat(StripTrailingSeparator(up), " is a file"));
    existing = up;
  }
  if (existing.IsEmpty()) return kOk;  // a relative path: the current folder
  TempFile probe;                      // discarded when it goes
  if (probe.Create(Text::Concat(existing, "probe")) == kOk) return kOk;
  return error.Set(kCannotCreateParent, bare, "cannot create the folder", SystemErrorText(LastNativeError()));
}
// The files a failed run replaced and could not put back, as another run has written
// their names since: each stays under this run's temporary name, and the warning says
// whose it is.
struct KeptOriginals {
  Text target;
  std::vector<Text> paths;
  std::vector<Text> lines;
  static void Note(const Text& kept, const Text& name, void* user) {
    auto& self = *static_cast<KeptOriginals*>(user);
    Text path = Text::Concat(self.target, kept);
    self.paths.push_back(path);
    Text line = Escaped(path, false);
    line.Append(" holds ");
    line.Append(Escaped(Text::Concat(self.target, name), false));
    line.Append(" as it was before this run; another run has written that name since, so it was not put back");
    self.lines.push_back(line);
  }
};

// Salvaging: each item dropped as damaged is named once the run is over.
struct Damaged {
  std::vector<Text> paths;
  static void Note(const ItemHeader& item, int32_t, void* user) {
    static_cast<Damaged*>(user)->paths.push_back(item.StoredPath());
  }
};

// Where the items of a run into a folder the tool chose went: the folder, or the one
// item put beside the archive; and the name it would have had, when that was taken.
struct Placed {
  Text path;
  bool folder = true;
  Text taken;  // the name it would have had, when that was taken
};

// Gives `base` (a file's name when `is_file`), or the first numbered form of it that is
// free, to what `take` moves there with a move that never replaces: the number used,
// or -1. A name taken between the look and the move is passed over; any other failure
// ends the tries.
template <typename Take>
int32_t TakeFreeName(const Folder& at, const Text& base, bool is_file, Take take) {
  const int32_t kNumbers = 10000;
  for (int32_t n = 0; n < kNumbers; ++n) {
    Text name = NumberedName(base, n, is_file);
    if (at.Inspect(name).kind != EntryInfo::kMissing) continue;
    if (take(name)) return n;
    if (at.Inspect(name).kind == EntryInfo::kMissing) return -1;
  }
  return -1;
}

// Puts what a run wrote into the folder `temp` (one component, inside `parent`) where
// it belongs once the run is over: an archive of exactly one top-level item gives that
// item itself beside the archive (doc.qef holding doc/ gives doc/, not doc/doc/); any
// other, the folder `title` named after the archive. The run wrote under a temporary
// name so that no name the user sees is taken before the archive's items are known,
// and a failed run, undone, leaves nothing; a name taken meanwhile is numbered
// ("doc (1)"), as the move never replaces. A run that failed and kept nothing leaves
// no empty folder either. False when nothing could be moved: the items stay in `temp`.
bool PlaceExtracted(const Text& parent, const Text& temp, const Text& title, bool one_item, bool failed,
                    Placed& placed) {
  Folder at;
  if (at.Open(parent) != kOk) return false;
  EntryInfo made = at.Inspect(temp);
  if (made.kind != EntryInfo::kFolder) return false;
  Text entry;
  bool entry_is_folder = false;
  uint32_t entries = 0;
  FolderSearch search;
  if (search.Open(AddTrailingSeparator(Text::Concat(parent, temp)))) {
    Text name;
    bool is_folder = false, is_link = false;
    while (entries < 2 && search.Next(name, is_folder, is_link)) {
      ++entries;
      entry = name;
      entry_is_folder = is_folder;
    }
  }
  search.Close();
  if (entries == 0 && failed) {
    placed.path = Text();
    return at.Remove(temp, made.id) == kOk;
  }
  if (one_item && entries == 1) {
    Folder from;
    int32_t n = -1;
    if (from.OpenIn(at, temp) == kOk)
      n = TakeFreeName(at, entry, !entry_is_folder, [&](const Text& name) { return from.MoveTo(entry, at, name); });
    from.Close();  // Windows removes no folder that is held open
    if (n >= 0) {
      Text name = NumberedName(entry, n, !entry_is_folder);
      placed.path = Text::Concat(parent, entry_is_folder ? AddTrailingSeparator(name) : name);
      placed.folder = entry_is_folder;
      if (n != 0) placed.taken = Text::Concat(parent, entry);
      at.Remove(temp, made.id);
      return true;
    }
  }
  if (title.IsEmpty()) return false;
  int32_t n = TakeFreeName(at, title, false, [&](const Text& name) { return at.Rename(temp, name); });
  if (n < 0) return false;
  placed.path = Text::Concat(parent, AddTrailingSeparator(NumberedName(title, n, false)));
  if (n != 0) placed.taken = Text::Concat(parent, title);
  return true;
}

int RunExtract(const ReadRequest& q, const Text& directory, Existing existing) {
  Text archive = WithFolder(q.archive);
  // Without -C the run writes into a new folder of a temporary name beside the archive,
  // and its items go where they belong once it is over (PlaceExtracted).
  bool own_folder = directory.IsEmpty();
  Text parent = FolderOf(archive), title = TitleOf(archive);
  Text temp = own_folder ? TemporaryNames().Next() : Text();
  Text target =
      own_folder ? Text::Concat(parent, AddTrailingSeparator(temp)) : WithFolder(AddTrailingSeparator(directory));
  ErrorInfo problem;
  // The folder is checked under the name the user would expect: the probe is the same.
  Text checked = own_folder ? UniqueFolderName(Text::Concat(parent, AddTrailingSeparator(title))) : target;
  if (FileExists(q.archive) && CheckTarget(checked, problem) != kOk) return Fail(problem);
  Extracted extracted;
  extracted.page = &q.common.page;
  extracted.verbose = q.verbose && !q.common.quiet;
  Tally& tally = extracted.tally;
  ExtractOptions options;
  options.keep_existing = existing == Existing::kKeep;
  options.skip_existing = existing == Existing::kSkip;
  options.replace_read_only = q.overwrite_read_only;
  // A folder the tool chose is made by this run: nobody can put a link in its place
  // while the password is asked for.
  options.new_target = own_folder;
  // The tally counts every file item read; what was left as it was is taken off it.
  uint32_t skipped = 0;
  uint64_t skipped_bytes = 0;
  options.skipped_existing = &skipped;
  options.skipped_bytes = &skipped_bytes;
  options.observer = &NoteExtracted;
  options.observer_user = &extracted;
  FoldersNotMade not_made;
  options.folder_not_made = &FoldersNotMade::Note;
  options.folder_not_made_user = &not_made;
  OtherSpellings spellings;
  options.other_spelling = &OtherSpellings::Note;
  options.other_spelling_user = &spellings;
  Chooser chooser;
  chooser.Install(q, options);
  chooser.top = &extracted.top;
  KeptOriginals kept;
  kept.target = target;
  options.kept_aside = &KeptOriginals::Note;
  options.kept_aside_user = &kept;
  Damaged damaged;
  options.salvage = q.salvage;
  options.damaged = &Damaged::Note;
  options.damaged_user = &damaged;
  // After a failure the run is undone and its one error line says why; salvaging, what
  // checked out stays and each item that did not is named.
  Placed placed;
  placed.path = target;
  int status = RunEngine(q, target, options, [&](int32_t r) {
    bool kept_items = r == kOk || (q.salvage && r != kCancelled);
    if (own_folder && kept_items) {
      if (!PlaceExtracted(parent, temp, title, extracted.top.One(), r != kOk, placed))
        Warn(Text::Concat(Escaped(target, false), ": the items could not be moved from there to their place"));
      else if (!placed.taken.IsEmpty())
        Warn(Text::Concat(Escaped(placed.taken, false),
                          Text::Concat(" exists, so the items went to ", Escaped(placed.path, false))));
    }
    if (kept_items) {
      not_made.Tell();
      spellings.Tell();
    }
    for (const Text& path : damaged.paths)
      Warn(Text::Concat(Escaped(path, false), ": damaged (it does not match its checksum); not extracted"));
    if (q.salvage && r != kOk && r != kCancelled && !placed.path.IsEmpty()) {
      tally.files -= skipped;
      tally.bytes -= skipped_bytes;
      Text salvaged;
      salvaged.Format("Salvaged %s %s %s", tally.Describe().Str(), placed.folder ? "into" : "as",
                      Escaped(placed.path, false).Str());
      Say(q.common.quiet, salvaged);
    }
    for (const Text& line : kept.lines) Warn(line);
    // A folder the run made new holds nothing another run left; beside the archive,
    // an earlier run without a target may have left the folder it wrote into.
    if (!own_folder)
      WarnOfLeftovers(FoldersOnDisk(target, extracted.folders, q.common.page), kept.paths);
    else
      WarnOfLeftovers({parent}, {target});
  });
  if (status == kExitOk) {
    tally.files -= skipped;
    tally.bytes -= skipped_bytes;
    tally.folders -= not_made.count;
    Text summary;
    summary.Format("Extracted %s %s %s", tally.Describe().Str(), placed.folder ? "into" : "as",
                   Escaped(placed.path, false).Str());
    if (skipped != 0) {
      Text more;
      more.Format("; %lu existing %s left as %s", static_cast<unsigned long>(skipped), skipped == 1 ? "file" : "files",
                  skipped == 1 ? "it was" : "they were");
      summary.Append(more);
    }
    if (spellings.count != 0) {
      Text more;
      more.Format("; %lu %s replaced by a later one under another spelling of %s",
                  static_cast<unsigned long>(spellings.count), spellings.count == 1 ? "file" : "files",
                  spellings.count == 1 ? "its name" : "their names");
      summary.Append(more);
    }
    Say(q.common.quiet, summary);
    status = UnusedPatterns(chooser);
  }
  return status;
}

int RunList(const ReadRequest& q, bool json) {
  Listing listing;
  listing.page = &q.common.page;
  listing.json = json;
  ExtractOptions options;
  options.action = ItemAction::kVerify;
  options.observer = &ListItem;
  options.observer_user = &listing;
  options.go_on_after_refused_names = true;
  Chooser chooser;
  chooser.Install(q, options);
  // Everything read is shown, also when a refused name or damage ends the run: the
  // error line then follows the items read before it.
  int status = RunEngine(q, Text(), options, [&](int32_t r) {
    if (r != kOk && r != kUnsafeName && listing.out.empty()) return;
    if (json)
      listing.out += listing.out.empty() ? "[]\n" : "\n]\n";
    else
      listing.out = std::string(ListHeading().Str()) + "\n" + listing.out;
    std::fwrite(listing.out.data(), 1, listing.out.size(), stdout);
    std::fflush(stdout);
  });
  return status == kExitOk ? UnusedPatterns(chooser) : status;
}

int RunTest(const ReadRequest& q) {
  Tally tally;
  ExtractOptions options;
  options.action = ItemAction::kVerify;
  options.observer = &CountItem;
  options.observer_user = &tally;
  options.go_on_after_refused_names = true;
  Chooser chooser;
  chooser.Install(q, options);
  bool checksums = false;
  options.had_checksums = &checksums;
  int status = RunEngine(q, Text(), options);
  if (status != kExitOk) return status;
  if (checksums) {
    Say(q.common.quiet, Text::Concat(Text("OK: "), Text::Concat(tally.Describe(), ", each matching its checksum")));
  } else {
    // An archive another program wrote: zlib's own check covers deflated data only.
    Say(q.common.quiet, Text::Concat(Text("Read without error: "), tally.Describe()));
    Warn(
        "the archive carries no checksums, so only its deflated data could be checked: damage to names, file "
        "information or data stored uncompressed would go unnoticed");
  }
  return UnusedPatterns(chooser);
}

}  // namespace qef
