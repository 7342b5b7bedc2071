#include "container/engine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "container/container_reader.h"
#include "container/value_record.h"
#include "container/writer.h"
#include "core/memory_stream.h"
#include "core/progress.h"
#include "core/result.h"
#include "fs/filetime.h"
#include "fs/fs.h"
#include "fs/path.h"
#include "tests/container/fixture.h"
#include "tests/fixtures/hostile_names.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tree_snapshot.h"

namespace qef {
namespace {

using test::Snapshot;
using test::TakeSnapshot;
using test::TempDir;
using test::WriteFileBytes;

const bool kWindows = kNativeStyle == PathStyle::kWindows;

int32_t Pack(const std::vector<Text>& sources, const Text& out, const char* password, uint8_t cipher = 2,
             uint8_t setting = 1) {
  PropertyList content;
  int32_t r = CollectSources(sources, content, nullptr, nullptr);
  if (r != 0) return r;
  PackOptions options;
  options.cipher_id = cipher;
  options.compression = setting;
  return WriteContainer(out, Text(password), content, options);
}

int32_t Extract(const Text& container, const char* password, const Text& target,
                const ProgressCallback* progress = nullptr, const ExtractOptions* options = nullptr) {
  ExtractEngine engine;
  return ExtractContainer(engine, container, Text(password), target, progress, options);
}

void SetTimes(const Text& path, uint64_t written) {
  FileInfo info;
  info.has_written = info.has_accessed = true;
  info.written = info.accessed = written;
  ASSERT_EQ(ApplyFileInformation(path, info), 0);
}

uint64_t WrittenTime(const Text& path) {
  FileInfo info;
  CollectFileInformation(path, info);
  return info.has_written ? info.written : 0;
}

FileInfo WithAttributes(uint32_t attributes) {
  FileInfo info;
  info.attributes = attributes;
  return info;
}

// A source tree with what a round trip must restore.
Text MakeTree(const TempDir& dir) {
  Text root = dir.Sub("src/tree/");
  EXPECT_EQ(CreateFolder(dir.Sub("src/tree/nested/deeper/")), 0);
  EXPECT_EQ(CreateFolder(dir.Sub("src/tree/empty folder/")), 0);
  WriteFileBytes(dir.Sub("src/tree/empty.txt"), "");
  WriteFileBytes(dir.Sub("src/tree/small.txt"), "small file\r\n");
  WriteFileBytes(dir.Sub("src/tree/nested/65535.bin"), test::SampleBytes(65535, 1));
  WriteFileBytes(dir.Sub("src/tree/nested/65536.bin"), test::SampleBytes(65536, 2));
  // More than two AES chunks, part of it incompressible.
  std::string big = test::SampleBytes(1500000, 3);
  for (size_t i = 0; i < 1500000; ++i) big.push_back(static_cast<char>((i * 2654435761u) >> 13));
  WriteFileBytes(dir.Sub("src/tree/nested/deeper/big.bin"), big);
  WriteFileBytes(dir.Sub("src/tree/read-only.txt"), "keep me");
  SetTimes(dir.Sub("src/tree/small.txt"), FileTimeFromUnix(1234567890, 123456700));
  SetTimes(dir.Sub("src/tree/nested/deeper/big.bin"), FileTimeFromUnix(1000000000, 0));
  ApplyFileInformation(dir.Sub("src/tree/read-only.txt"), WithAttributes(kAttrReadOnly));
  // Hidden and system have no POSIX counterpart; Windows keeps and restores them.
  WriteFileBytes(dir.Sub("src/tree/hidden.txt"), "h");
  ApplyFileInformation(dir.Sub("src/tree/hidden.txt"), WithAttributes(kAttrHidden | kAttrSystem));
  return root;
}

TEST(Engine, RoundTripsRestoreTreesExactly) {
  TempDir dir;
  Text root = MakeTree(dir);
  Snapshot source = TakeSnapshot(root);
  for (uint8_t cipher : {uint8_t(2), uint8_t(0)}) {
    for (uint8_t setting : {uint8_t(1), uint8_t(2), uint8_t(0)}) {
      SCOPED_TRACE(testing::Message() << "cipher " << int(cipher) << " setting " << int(setting));
      Text container = dir.Sub("out.qef");
      ASSERT_EQ(Pack({root}, container, "secret", cipher, setting), 0);
      Text target = dir.Sub("target/");
      ASSERT_EQ(Extract(container, "secret", target), 0);
      Snapshot got = TakeSnapshot(dir.Sub("target/tree/"));
      EXPECT_EQ(got, source) << test::Describe(got);
      EXPECT_EQ(WrittenTime(dir.Sub("target/tree/small.txt")), FileTimeFromUnix(1234567890, 123456700));
      EXPECT_EQ(WrittenTime(dir.Sub("target/tree/nested/deeper/big.bin")), FileTimeFromUnix(1000000000, 0));
      FileInfo want, have;
      CollectFileInformation(dir.Sub("src/tree/hidden.txt"), want);
      CollectFileInformation(dir.Sub("target/tree/hidden.txt"), have);
      EXPECT_EQ(have.attributes, want.attributes);
#ifdef _WIN32
      EXPECT_EQ(have.attributes & (kAttrHidden | kAttrSystem), uint32_t(kAttrHidden | kAttrSystem));
#endif
      test::RemoveTree(target);
    }
  }
}

TEST(Engine, EmptyTargetExtractsNextToTheContainerAndMissingContainerIsFirst) {
  TempDir dir;
  WriteFileBytes(dir.Sub("one.txt"), "1");
  ASSERT_EQ(Pack({dir.Sub("one.txt")}, dir.Sub("box/c.qef"), "pw"), 0);
  EXPECT_EQ(Extract(dir.Sub("box/c.qef"), "pw", Text("")), 0);
  EXPECT_EQ(test::ReadFileBytes(dir.Sub("box/one.txt")), "1");
  // A missing container is reported before the target is looked at.
  WriteFileBytes(dir.Sub("file"), "x");
  EXPECT_EQ(Extract(dir.Sub("missing.qef"), "pw", dir.Sub("file/sub/")), kContainerMissing);
  EXPECT_EQ(Extract(dir.Sub("box/c.qef"), "pw", dir.Sub("file/sub/")), kCannotCreateParent);
  // A target that does not exist is created with its parents.
  EXPECT_EQ(Extract(dir.Sub("box/c.qef"), "pw", dir.Sub("new/a/b/")), 0);
  EXPECT_EQ(test::ReadFileBytes(dir.Sub("new/a/b/one.txt")), "1");
  // So is a relative one whose first folder is missing too: its parent is the current
  // folder.
  std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(dir.Path().Str());
  int32_t relative = Extract(dir.Sub("box/c.qef"), "pw", Text("rel/sub/"));
  std::filesystem::current_path(before);
  EXPECT_EQ(relative, 0);
  EXPECT_EQ(test::ReadFileBytes(dir.Sub("rel/sub/one.txt")), "1");
}

TEST(Engine, KindsOtherThanContainers) {
  TempDir dir;
  WriteFileBytes(dir.Sub("one.txt"), "1");
  ASSERT_EQ(Pack({dir.Sub("one.txt")}, dir.Sub("c.qefx"), "pw"), 0);
  EXPECT_EQ(Extract(dir.Sub("c.qefx"), "pw", dir.Sub("t/")), kUnsupported);
  WriteFileBytes(dir.Sub("old.qef"), "Quillmar Encrypted File, an older one");
  EXPECT_EQ(Extract(dir.Sub("old.qef"), "pw", dir.Sub("t/")), kOldFormat);
  EXPECT_FALSE(FolderExists(dir.Sub("t/")));  // the target this run made is gone again
}

struct Progress {
  ProgressTracker tracker;
  std::vector<int32_t> overall;
  int32_t begins = 0;
  int32_t cancel_after = -1;  // answer 40 once overall reaches this
  static int32_t Callback(int32_t m, int32_t v, uintptr_t u1, uintptr_t) {
    auto* self = reinterpret_cast<Progress*>(u1);
    self->tracker.Feed(m, v);
    if (m == 100) ++self->begins;
    self->overall.push_back(self->tracker.GetOverall());
    return self->cancel_after >= 0 && self->tracker.GetOverall() >= self->cancel_after ? kCancelled : 0;
  }
  ProgressCallback Record() {
    ProgressCallback cb;
    cb.function = &Callback;
    cb.user1 = reinterpret_cast<uintptr_t>(this);
    return cb;
  }
};

TEST(Engine, ProgressWrongPasswordAndCancel) {
  TempDir dir;
  Text root = MakeTree(dir);
  Text container = dir.Sub("c.qef");
  ASSERT_EQ(Pack({root}, container, "right"), 0);
  ASSERT_EQ(CreateFolder(dir.Sub("target/")), 0);
  WriteFileBytes(dir.Sub("target/before.txt"), "was here");
  Snapshot before = TakeSnapshot(dir.Sub("target/"));

  {
    Progress p;
    ProgressCallback cb = p.Record();
    EXPECT_EQ(Extract(container, "Right", dir.Sub("target/"), &cb), kWrongPassword);
    EXPECT_EQ(p.begins, 1) << "only the engine's begin: the password is refused before the chain exists";
    EXPECT_EQ(TakeSnapshot(dir.Sub("target/")), before);
  }
  {
    Progress p;
    p.cancel_after = 30;
    ProgressCallback cb = p.Record();
    EXPECT_EQ(Extract(container, "right", dir.Sub("target/"), &cb), kCancelled);
    EXPECT_EQ(TakeSnapshot(dir.Sub("target/")), before) << test::Describe(TakeSnapshot(dir.Sub("target/")));
  }
  {
    Progress p;
    ProgressCallback cb = p.Record();
    EXPECT_EQ(Extract(container, "right", dir.Sub("target/"), &cb), 0);
    EXPECT_EQ(p.begins, 2) << "the engine's begin and the one open, which takes the total from the header";
    ASSERT_FALSE(p.overall.empty());
    EXPECT_EQ(p.tracker.GetOverall(), 100);
    // The value only grows, from the first byte of the content on.
    for (size_t i = 1; i < p.overall.size(); ++i) EXPECT_LE(p.overall[i - 1], p.overall[i]) << i;
  }
}

TEST(Engine, ReplacesExistingFilesOnlyWhenTheRunSucceeds) {
  TempDir dir;
  ASSERT_EQ(CreateFolder(dir.Sub("src/")), 0);
  WriteFileBytes(dir.Sub("src/a.txt"), "new a");
  WriteFileBytes(dir.Sub("src/b.txt"), "new b");
  ASSERT_EQ(Pack({dir.Sub("src/a.txt"), dir.Sub("src/b.txt")}, dir.Sub("c.qef"), "pw"), 0);

  // A container whose second item is refused: the first one's replacement is undone.
  PropertyList content;
  ASSERT_EQ(CollectSources({dir.Sub("src/a.txt"), dir.Sub("src/b.txt")}, content, nullptr, nullptr), 0);
  content.At(1).GetFsItem()->PutString(kItemName, "../escape.txt", 1);
  PackOptions options;
  ASSERT_EQ(WriteContainer(dir.Sub("bad.qef"), Text("pw"), content, options), 0);

  ASSERT_EQ(CreateFolder(dir.Sub("t/")), 0);
  WriteFileBytes(dir.Sub("t/a.txt"), "old a");
  Snapshot before = TakeSnapshot(dir.Sub("t/"));
  EXPECT_EQ(Extract(dir.Sub("bad.qef"), "pw", dir.Sub("t/")), kUnsafeName);
  EXPECT_EQ(TakeSnapshot(dir.Sub("t/")), before) << test::Describe(TakeSnapshot(dir.Sub("t/")));
  EXPECT_FALSE(FileExists(dir.Sub("escape.txt")));

  ExtractOptions keep;
  keep.keep_existing = true;
  EXPECT_EQ(Extract(dir.Sub("c.qef"), "pw", dir.Sub("t/"), nullptr, &keep), kCannotOpen);
  EXPECT_EQ(TakeSnapshot(dir.Sub("t/")), before);

  ApplyFileInformation(dir.Sub("t/a.txt"), WithAttributes(kAttrReadOnly));
  before = TakeSnapshot(dir.Sub("t/"));
  EXPECT_EQ(Extract(dir.Sub("c.qef"), "pw", dir.Sub("t/")), kCannotOpen) << "a read-only file is not replaced";
  EXPECT_EQ(TakeSnapshot(dir.Sub("t/")), before);
  ApplyFileInformation(dir.Sub("t/a.txt"), FileInfo());

  EXPECT_EQ(Extract(dir.Sub("c.qef"), "pw", dir.Sub("t/")), 0);
  Snapshot after = TakeSnapshot(dir.Sub("t/"));
  EXPECT_EQ(after.size(), 2u) << "no temporary or backup file is left: " << test::Describe(after);
  EXPECT_EQ(after["a.txt"].content, "new a");
  EXPECT_EQ(after["b.txt"].content, "new b");
}

// One stored item: a file's data is taken from `source`.
struct Stored {
  uint8_t kind;
  const char* folder;
  const char* name;
  Text source;
};

int32_t PackStored(const Text& out, const std::vector<Stored>& items) {
  PropertyList content;
  for (const Stored& s : items) {
    Value v;
    v.SetType(kFsItem);
    FsItem* item = v.GetFsItem();
    item->PutByte(kItemKind, s.kind, 1);
    item->PutString(kItemName, s.name, 1);
    item->PutString(kItemFolder, s.folder, 1);
    item->SetSourcePath(s.source.Str());
    content.Append(v);
  }
  PackOptions options;
  return WriteContainer(out, Text("pw"), content, options);
}

// A content list of one item with the given names, its data taken from `source`.
int32_t PackItem(const Text& out, const Text& source, uint8_t kind, const char* folder, const char* name) {
  return PackStored(out, {{kind, folder, name, source}});
}

// Does something once, right after the item of the given name has been written: what
// another process could do at that moment, without any race in the test.
struct Between {
  const char* after;
  std::function<void()> act;
  bool done = false;
  static void Observe(const ItemHeader& item, bool, void* user) {
    auto* self = static_cast<Between*>(user);
    if (self->done || !item.name.Equals(self->after)) return;
    self->done = true;
    self->act();
  }
  ExtractOptions Options() {
    ExtractOptions options;
    options.observer = &Observe;
    options.observer_user = this;
    return options;
  }
};

// The entries of a folder whose names begin with this run's temporary prefix.
std::vector<std::string> TemporaryNames(const Text& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder.Str())) {
    std::string name = e.path().filename().string();
    if (name.rfind("~qef-", 0) == 0 && name != "~qef-old-0.tmp") names.push_back(name);
  }
  return names;
}

TEST(Engine, BackupsOfReplacedFilesAreRemovedOnlyWhileTheyAreTheOldFiles) {
  TempDir dir;
  WriteFileBytes(dir.Sub("new.txt"), "new");
  ASSERT_EQ(CreateFolder(dir.Sub("t/")), 0);
  // An item of the name a backup could once be given.
  ASSERT_EQ(PackStored(dir.Sub("c.qef"),
                       {{0, "", "x.txt", dir.Sub("new.txt")}, {0, "", "~qef-old-0.tmp", dir.Sub("new.txt")}}),
            0);
  WriteFileBytes(dir.Sub("t/x.txt"), "old");
  EXPECT_EQ(Extract(dir.Sub("c.qef"), "pw", dir.Sub("t/")), 0);
  Snapshot after = TakeSnapshot(dir.Sub("t/"));
  EXPECT_EQ(after.size(), 2u) << test::Describe(after);
  EXPECT_EQ(after["x.txt"].content, "new");
  EXPECT_EQ(after["~qef-old-0.tmp"].content, "new");

  // The backup moved away and something else put under its name before the run ends:
  // that stays, and so does the old file.
  WriteFileBytes(dir.Sub("t/x.txt"), "old");
  std::string backup;
  Between swap{"x.txt", [&] {
                 std::vector<std::string> names = TemporaryNames(dir.Sub("t/"));
                 ASSERT_EQ(names.size(), 1u);
                 backup = names[0];
                 std::filesystem::rename(dir.Sub("t/").Str() + backup, dir.Sub("t/moved-old.txt").Str());
                 WriteFileBytes(Text::Concat(dir.Sub("t/"), backup.c_str()), "someone else's");
               }};
  ExtractOptions options = swap.Options();
  EXPECT_EQ(Extract(dir.Sub("c.qef"), "pw", dir.Sub("t/"), nullptr, &options), 0);
  ASSERT_TRUE(swap.done);
  after = TakeSnapshot(dir.Sub("t/"));
  EXPECT_EQ(after.size(), 4u) << test::Describe(after);
  EXPECT_EQ(after["x.txt"].content, "new");
  EXPECT_EQ(after["moved-old.txt"].content, "old");
  EXPECT_EQ(after[backup].content, "someone else's");
}

TEST(Engine, AFolderSwappedForALinkDuringTheRunIsNotFollowed) {
  if (kWindows) GTEST_SKIP() << "symbolic links need privileges on Windows";
  TempDir dir;
  WriteFileBytes(dir.Sub("data.txt"), "payload");
  ASSERT_EQ(CreateFolder(dir.Sub("outside/")), 0);
  WriteFileBytes(dir.Sub("outside/big.txt"), "outside's own");
  Snapshot outside = TakeSnapshot(dir.Sub("outside/"));
  for (bool fails : {false, true}) {
    SCOPED_TRACE(fails ? "failing run" : "successful run");
    std::vector<Stored> items = {
        {1, "", "sub", Text()}, {0, "sub/", "a.txt", dir.Sub("data.txt")}, {0, "sub/", "big.txt", dir.Sub("data.txt")}};
    if (fails) items.push_back({0, "", "../escape.txt", dir.Sub("data.txt")});
    ASSERT_EQ(PackStored(dir.Sub("c.qef"), items), 0);
    Between swap{"a.txt", [&] {
                   std::filesystem::rename(dir.Sub("t/sub").Str(), dir.Sub("t/moved").Str());
                   std::filesystem::create_directory_symlink(dir.Sub("outside").Str(), dir.Sub("t/sub").Str());
                 }};
    ExtractOptions options = swap.Options();
    EXPECT_EQ(Extract(dir.Sub("c.qef"), "pw", dir.Sub("t/"), nullptr, &options), fails ? kUnsafeName : 0);
    EXPECT_EQ(TakeSnapshot(dir.Sub("outside/")), outside);
    // The folder the run made and holds is where its files go, and where undoing
    // finds them again; the link in its place is not the run's to remove.
    Snapshot moved = TakeSnapshot(dir.Sub("t/moved/"));
    if (fails) {
      EXPECT_TRUE(moved.empty()) << test::Describe(moved);
    } else {
      EXPECT_EQ(moved.size(), 2u) << test::Describe(moved);
      EXPECT_EQ(moved["big.txt"].content, "payload");
    }
    EXPECT_TRUE(std::filesystem::is_symlink(dir.Sub("t/sub").Str()));
    test::RemoveTree(dir.Sub("t/"));
  }
}

// Only a file that was there before the run is an existing file: a name stored twice
// ends with the later copy whatever the option, and a missing folder is no reason to
// skip an item because another file of its name is somewhere above it.
TEST(Engine, ExistingFilesAreThoseThereBeforeTheRun) {
  TempDir dir;
  WriteFileBytes(dir.Sub("first.txt"), "first copy");
  WriteFileBytes(dir.Sub("later.txt"), "later copy");
  const std::vector<Stored> twice = {{0, "", "d.txt", dir.Sub("first.txt")}, {0, "", "d.txt", dir.Sub("later.txt")}};
  const std::vector<Stored> deeper = {{1, "", "a", Text()}, {0, "a\\b\\", "x", dir.Sub("later.txt")}};
  enum Mode { kReplace, kKeep, kSkip };
  struct Case {
    const char* what;
    const std::vector<Stored>& items;
    Mode mode;
    const char* planted;  // a file there before the run, holding "before"
    int32_t code;
    uint32_t skipped;
    const char* file;  // what then holds
    const char* content;
  } cases[] = {
      {"twice", twice, kReplace, nullptr, 0, 0, "d.txt", "later copy"},
      {"twice, keep", twice, kKeep, nullptr, 0, 0, "d.txt", "later copy"},
      {"twice, skip", twice, kSkip, nullptr, 0, 0, "d.txt", "later copy"},
      {"twice over one there before, skip", twice, kSkip, "d.txt", 0, 2, "d.txt", "before"},
      {"twice over one there before, keep", twice, kKeep, "d.txt", kCannotOpen, 0, "d.txt", "before"},
      {"its folder missing, a file of its name above, skip", deeper, kSkip, "a/x", kCannotOpen, 0, "a/x", "before"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(PackStored(dir.Sub("c.qef"), c.items), 0);
    ASSERT_EQ(CreateFolder(dir.Sub("t/a/")), 0);
    if (c.planted != nullptr) WriteFileBytes(Text::Concat(dir.Sub("t/"), c.planted), "before");
    Snapshot before = TakeSnapshot(dir.Sub("t/"));
    ExtractOptions options;
    options.keep_existing = c.mode == kKeep;
    options.skip_existing = c.mode == kSkip;
    uint32_t skipped = 0;
    options.skipped_existing = &skipped;
    EXPECT_EQ(Extract(dir.Sub("c.qef"), "pw", dir.Sub("t/"), nullptr, &options), c.code);
    Snapshot after = TakeSnapshot(dir.Sub("t/"));
    if (c.code != 0) {
      EXPECT_EQ(after, before) << test::Describe(after);
    }
    EXPECT_EQ(skipped, c.skipped);
    EXPECT_EQ(after[c.file].content, c.content) << test::Describe(after);
    test::RemoveTree(dir.Sub("t/"));
  }
}

// Paths that differ only in case name one file where the volume does not tell case
// apart (Windows; Wine's drives): the later item replaces the file the earlier one
// made and says so, naming both. Undoing puts a file it replaced back under that
// file's own spelling, and removes a folder two spellings held. Where case counts,
// each path is its own file and nothing is told.
TEST(Engine, PathsThatNameOneFileUnderTwoSpellings) {
  TempDir dir;
  WriteFileBytes(dir.Sub("first.txt"), "first");
  WriteFileBytes(dir.Sub("later.txt"), "later");
  WriteFileBytes(dir.Sub("probe"), "");
  const bool folds = FileExists(dir.Sub("PROBE"));  // the test's own question, not the writer's
  const Text first = dir.Sub("first.txt"), later = dir.Sub("later.txt");
  const Stored escape = {0, "", "../escape.txt", later};  // refused: the run fails and is undone
  struct Case {
    const char* what;
    std::vector<Stored> items;
    const char* planted;  // a file there before the run, holding "before"
    int32_t code;
    std::vector<std::string> told;     // where case is not told apart: "earlier > later"
    size_t files_folded, files_apart;  // files after a run that succeeds
  } cases[] = {
      {"two spellings of a name",
       {{0, "", "Index.html", first}, {0, "", "index.html", later}},
       nullptr,
       0,
       {"Index.html > index.html"},
       1,
       2},
      {"two spellings of its folder",
       {{1, "", "A", Text()}, {0, "A/", "x", first}, {1, "", "a", Text()}, {0, "a/", "X", later}},
       nullptr,
       0,
       {"A/x > a/X"},
       1,
       2},
      {"one spelling twice", {{0, "", "d.txt", first}, {0, "", "d.txt", later}}, nullptr, 0, {}, 1, 1},
      {"a file there before", {{0, "", "README", later}}, "readme", 0, {}, 1, 2},
      {"a file there before, failing", {{0, "", "README", later}, escape}, "readme", kUnsafeName, {}, 0, 0},
      {"a folder made under two spellings, failing",
       {{1, "", "A", Text()}, {1, "", "a", Text()}, {0, "a/", "x", later}, escape},
       nullptr,
       kUnsafeName,
       {},
       0,
       0},
  };
  struct Told {
    std::vector<std::string> lines;
    static void Note(const Text& earlier, const Text& later, void* user) {
      static_cast<Told*>(user)->lines.push_back(std::string(earlier.Str()) + " > " + later.Str());
    }
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(PackStored(dir.Sub("c.qef"), c.items), 0);
    ASSERT_EQ(CreateFolder(dir.Sub("t/")), 0);
    if (c.planted != nullptr) WriteFileBytes(Text::Concat(dir.Sub("t/"), c.planted), "before");
    Snapshot before = TakeSnapshot(dir.Sub("t/"));
    Told told;
    uint32_t count = 99;
    ExtractOptions options;
    options.other_spelling = &Told::Note;
    options.other_spelling_user = &told;
    options.replaced_other_spelling = &count;
    EXPECT_EQ(Extract(dir.Sub("c.qef"), "pw", dir.Sub("t/"), nullptr, &options), c.code);
    Snapshot after = TakeSnapshot(dir.Sub("t/"));
    const std::vector<std::string> none;
    const std::vector<std::string>& want = folds ? c.told : none;
    EXPECT_EQ(told.lines, want);
    EXPECT_EQ(count, want.size());
    if (c.code != 0) {
      // The snapshot holds the names as the folder spells them.
      EXPECT_EQ(after, before) << test::Describe(after);
    } else {
      size_t files = 0;
      for (const auto& entry : after) files += entry.second.folder ? 0 : 1;
      EXPECT_EQ(files, folds ? c.files_folded : c.files_apart) << test::Describe(after);
      const Stored& last = c.items.back();
      EXPECT_EQ(test::ReadFileBytes(Text::Concat(dir.Sub("t/"), Text::Concat(last.folder, last.name))), "later");
    }
    test::RemoveTree(dir.Sub("t/"));
  }
}

TEST(Engine, AFailedRunLeavesWhatAnotherRunMadeMeanwhile) {
  TempDir dir;
  WriteFileBytes(dir.Sub("a.txt"), "from A");
  WriteFileBytes(dir.Sub("b.txt"), "from B");
  ASSERT_EQ(PackStored(dir.Sub("a.qef"), {{1, "", "d", Text()}, {0, "d/", "a.txt", dir.Sub("a.txt")}}), 0);
  ASSERT_EQ(PackStored(dir.Sub("b.qef"), {{1, "", "d", Text()},
                                          {0, "d/", "a.txt", dir.Sub("b.txt")},
                                          {0, "", "../escape.txt", dir.Sub("b.txt")}}),
            0);
  ASSERT_EQ(CreateFolder(dir.Sub("t/")), 0);
  // B has made d/ and d/a.txt when A runs whole, replacing B's d/a.txt; then B fails.
  Between a_runs{"a.txt", [&] { EXPECT_EQ(Extract(dir.Sub("a.qef"), "pw", dir.Sub("t/")), 0); }};
  ExtractOptions options = a_runs.Options();
  EXPECT_EQ(Extract(dir.Sub("b.qef"), "pw", dir.Sub("t/"), nullptr, &options), kUnsafeName);
  Snapshot after = TakeSnapshot(dir.Sub("t/"));
  EXPECT_EQ(after.size(), 2u) << test::Describe(after);
  EXPECT_EQ(after["d/a.txt"].content, "from A");

  // Over a file that was there before: B cannot put it back, as A's file has its name
  // now, and tells where it kept it.
  WriteFileBytes(dir.Sub("t/d/a.txt"), "there before");
  struct Told {
    std::vector<std::string> kept, names;
    static void Note(const Text& kept, const Text& name, void* user) {
      static_cast<Told*>(user)->kept.push_back(kept.Str());
      static_cast<Told*>(user)->names.push_back(name.Str());
    }
  } told;
  Between again{"a.txt", [&] { EXPECT_EQ(Extract(dir.Sub("a.qef"), "pw", dir.Sub("t/")), 0); }};
  options = again.Options();
  options.kept_aside = &Told::Note;
  options.kept_aside_user = &told;
  EXPECT_EQ(Extract(dir.Sub("b.qef"), "pw", dir.Sub("t/"), nullptr, &options), kUnsafeName);
  after = TakeSnapshot(dir.Sub("t/"));
  EXPECT_EQ(after["d/a.txt"].content, "from A");
  ASSERT_EQ(told.kept.size(), 1u);
  EXPECT_EQ(told.names[0], "d/a.txt");
  EXPECT_EQ(after[told.kept[0]].content, "there before") << test::Describe(after);
}

// More folders than are held at once: the first ones are let go while the others are
// made, then opened again, each checked, for the files inside them and for undoing.
TEST(Engine, FoldersLetGoOfAreCheckedWhenUsedAgain) {
  TempDir dir;
  WriteFileBytes(dir.Sub("data.txt"), "payload");
  ASSERT_EQ(CreateFolder(dir.Sub("outside/")), 0);
  std::vector<std::string> names, folders;
  for (int i = 0; i < 300; ++i) {
    names.push_back("f" + std::to_string(i));
    folders.push_back(names.back() + "/");
  }
  std::vector<Stored> items;
  for (const std::string& n : names) items.push_back({1, "", n.c_str(), Text()});
  for (const std::string& f : folders) items.push_back({0, f.c_str(), "x.txt", dir.Sub("data.txt")});
  struct Case {
    bool fails, swap;
    int32_t code;
  } cases[] = {{false, false, 0}, {true, false, kUnsafeName}, {false, true, kUnsafeName}};
  for (const Case& c : cases) {
    if (c.swap && kWindows) continue;  // symbolic links need privileges on Windows
    SCOPED_TRACE(testing::Message() << "fails " << c.fails << " swap " << c.swap);
    std::vector<Stored> stored = items;
    if (c.fails) stored.push_back({0, "", "../escape.txt", dir.Sub("data.txt")});
    ASSERT_EQ(PackStored(dir.Sub("c.qef"), stored), 0);
    ASSERT_EQ(CreateFolder(dir.Sub("t/")), 0);
    WriteFileBytes(dir.Sub("t/placed.txt"), "placed before");
    Snapshot before = TakeSnapshot(dir.Sub("t/"));
    Between swap{"f299", [&] {
                   std::filesystem::rename(dir.Sub("t/f0").Str(), dir.Sub("t/moved").Str());
                   std::filesystem::create_directory_symlink(dir.Sub("outside").Str(), dir.Sub("t/f0").Str());
                 }};
    ExtractOptions options = swap.Options();
    EXPECT_EQ(Extract(dir.Sub("c.qef"), "pw", dir.Sub("t/"), nullptr, c.swap ? &options : nullptr), c.code);
    Snapshot after = TakeSnapshot(dir.Sub("t/"));
    if (c.code == 0) {
      EXPECT_EQ(after.size(), 601u);
      EXPECT_EQ(after["f0/x.txt"].content, "payload");
    } else if (!c.swap) {
      EXPECT_EQ(after, before) << test::Describe(after);
    }
    EXPECT_TRUE(TakeSnapshot(dir.Sub("outside/")).empty());
    test::RemoveTree(dir.Sub("t/"));
  }
}

TEST(Engine, HostileNamesWriteNothingAnywhere) {
  TempDir dir;
  WriteFileBytes(dir.Sub("data.txt"), "payload");
  ASSERT_EQ(CreateFolder(dir.Sub("area/t/")), 0);
  WriteFileBytes(dir.Sub("area/t/placed.txt"), "placed before");
  // Refused before anything is made: not even the target folder's time moves.
  Snapshot area = TakeSnapshot(dir.Sub("area/"), test::FolderTimes::kCompared);
  for (const test::HostileName& c : test::kHostileNames) {
    bool refused = kWindows ? c.refused_windows : c.refused_posix;
    if (!refused) continue;
    for (uint8_t kind : {uint8_t(0), uint8_t(1)}) {
      // A folder item needs no name of its own (see FolderItemsAndDotComponents).
      if (kind == 1 && (std::string(c.name).empty() || std::string(c.name) == ".")) continue;
      Text container = dir.Sub("h.qef");
      ASSERT_EQ(PackItem(container, dir.Sub("data.txt"), kind, c.folder, c.name), 0);
      EXPECT_EQ(Extract(container, "pw", dir.Sub("area/t/")), kUnsafeName) << "[" << c.folder << "][" << c.name << "]";
      EXPECT_EQ(TakeSnapshot(dir.Sub("area/"), test::FolderTimes::kCompared), area)
          << "[" << c.folder << "][" << c.name << "]";
    }
  }
}

// Names that stay inside the target are taken: a "." component, and a folder item
// whose name is empty (its folder part names it; with both empty, the target itself).
TEST(Engine, FolderItemsAndDotComponents) {
  TempDir dir;
  WriteFileBytes(dir.Sub("data.txt"), "payload");
  struct Case {
    uint8_t kind;
    const char* folder;
    const char* name;
    const char* made;  // below the target
  } cases[] = {
      {1, "x/", "", "x/"},         {1, "", "", ""},
      {1, "./d/", "", "d/"},       {1, "d/./e/", "", "d/e/"},
      {0, "./", "f.txt", "f.txt"}, {0, "", "./g.txt", "g.txt"},
  };
  ASSERT_EQ(CreateFolder(dir.Sub("t/d/")), 0);
  for (const Case& c : cases) {
    Text container = dir.Sub("h.qef");
    ASSERT_EQ(PackItem(container, dir.Sub("data.txt"), c.kind, c.folder, c.name), 0);
    EXPECT_EQ(Extract(container, "pw", dir.Sub("t/")), 0) << "[" << c.folder << "][" << c.name << "]";
    Text made = dir.Sub((std::string("t/") + c.made).c_str());
    EXPECT_TRUE(c.kind == 1 ? FolderExists(made) : FileExists(made)) << made.Str();
  }
}

// A folder item's attributes go only to a folder the run made, never to one that was
// there before: the target (a folder item with empty names) and an existing folder
// keep theirs, which a failed run could not give back. Items without attributes
// would otherwise clear them.
TEST(Engine, FolderAttributesReachOnlyFoldersTheRunMade) {
  if (!kWindows) GTEST_SKIP() << "folders keep their permissions on POSIX";
  TempDir dir;
  ASSERT_EQ(CreateFolder(dir.Sub("t/old/")), 0);
  for (const char* folder : {"t/", "t/old/"}) {
    ASSERT_EQ(ApplyFileInformation(dir.Sub(folder), WithAttributes(kAttrHidden)), 0);
    FileInfo info;
    ASSERT_EQ(CollectFileInformation(dir.Sub(folder), info), 0);
    ASSERT_EQ(info.attributes & kAttrHidden, static_cast<uint32_t>(kAttrHidden)) << folder;
  }
  ASSERT_EQ(PackStored(dir.Sub("h.qef"), {{1, "", "", Text()}, {1, "old/", "", Text()}, {1, "new/", "", Text()}}), 0);
  ASSERT_EQ(Extract(dir.Sub("h.qef"), "pw", dir.Sub("t/")), 0);
  for (const char* folder : {"t/", "t/old/"}) {
    FileInfo info;
    ASSERT_EQ(CollectFileInformation(dir.Sub(folder), info), 0);
    EXPECT_EQ(info.attributes & kAttrHidden, static_cast<uint32_t>(kAttrHidden)) << folder;
  }
  EXPECT_TRUE(FolderExists(dir.Sub("t/new/")));
}

TEST(Engine, NeverWritesThroughALinkInsideTheTarget) {
  if (kWindows) GTEST_SKIP() << "symbolic links need privileges on Windows";
  TempDir dir;
  ASSERT_EQ(CreateFolder(dir.Sub("outside/")), 0);
  ASSERT_EQ(CreateFolder(dir.Sub("t/")), 0);
  std::filesystem::create_directory_symlink(dir.Sub("outside").Str(), dir.Sub("t/link").Str());
  WriteFileBytes(dir.Sub("data.txt"), "payload");
  ASSERT_EQ(PackItem(dir.Sub("h.qef"), dir.Sub("data.txt"), 0, "link/", "x.txt"), 0);
  EXPECT_EQ(Extract(dir.Sub("h.qef"), "pw", dir.Sub("t/")), kUnsafeName);
  ASSERT_EQ(PackItem(dir.Sub("h.qef"), dir.Sub("data.txt"), 1, "", "link"), 0);
  EXPECT_EQ(Extract(dir.Sub("h.qef"), "pw", dir.Sub("t/")), kUnsafeName);
  EXPECT_TRUE(TakeSnapshot(dir.Sub("outside/")).empty());
}

TEST(Engine, TruncationAtEveryOffsetLeavesTheTargetAsItWas) {
  TempDir dir;
  ASSERT_EQ(CreateFolder(dir.Sub("src/s/")), 0);
  WriteFileBytes(dir.Sub("src/s/a.txt"), "alpha");
  WriteFileBytes(dir.Sub("src/b.txt"), test::SampleBytes(300, 9));
  ASSERT_EQ(Pack({dir.Sub("src/")}, dir.Sub("whole.qef"), "pw"), 0);
  std::string whole = test::ReadFileBytes(dir.Sub("whole.qef"));
  ASSERT_EQ(CreateFolder(dir.Sub("t/")), 0);
  WriteFileBytes(dir.Sub("t/placed.txt"), "placed before");
  Snapshot before = TakeSnapshot(dir.Sub("t/"));
  for (size_t n = 0; n < whole.size(); ++n) {
    WriteFileBytes(dir.Sub("cut.qef"), whole.substr(0, n));
    int32_t r = Extract(dir.Sub("cut.qef"), "pw", dir.Sub("t/"));
    EXPECT_TRUE(r == kShortRead || r == kFailed) << "cut at " << n << ": " << r;
    ASSERT_EQ(TakeSnapshot(dir.Sub("t/")), before) << "cut at " << n;
  }
}

TEST(Engine, VerifyReadsEverythingAndWritesNothing) {
  TempDir dir;
  Text root = MakeTree(dir);
  ASSERT_EQ(Pack({root}, dir.Sub("c.qef"), "pw"), 0);
  struct Seen {
    int files = 0, folders = 0;
    uint64_t bytes = 0;
  } seen;
  ExtractOptions verify;
  verify.action = ItemAction::kVerify;
  verify.observer = [](const ItemHeader& item, bool, void* user) {
    auto* s = static_cast<Seen*>(user);
    (item.kind == 0 ? s->files : s->folders)++;
    s->bytes += item.size;
  };
  verify.observer_user = &seen;
  EXPECT_EQ(Extract(dir.Sub("c.qef"), "pw", dir.Sub("nowhere/"), nullptr, &verify), 0);
  EXPECT_FALSE(FolderExists(dir.Sub("nowhere/")));
  EXPECT_EQ(seen.files, 7);
  EXPECT_EQ(seen.folders, 4);
  EXPECT_EQ(seen.bytes, 12u + 65535 + 65536 + 3000000 + 7 + 1);
}

}  // namespace
}  // namespace qef

namespace qef {
namespace {

// The plain bytes of a content list as a writer would produce them.
std::string ContentBytes(PropertyList& content) {
  StreamParams params;
  MemoryStream out;
  out.OpenWrite(&params);
  EXPECT_EQ(WriteContentList(content, out), 0);
  return std::string(reinterpret_cast<const char*>(out.Data()), out.Size());
}

TEST(Engine, DamagedContainersGiveTheirCodeAndChangeNothing) {
  TempDir dir;
  ASSERT_EQ(CreateFolder(dir.Sub("src/")), 0);
  WriteFileBytes(dir.Sub("src/first.txt"), "first file");
  WriteFileBytes(dir.Sub("src/second.txt"), test::SampleBytes(5000, 4));
  PropertyList content;
  ASSERT_EQ(CollectSources({dir.Sub("src/first.txt"), dir.Sub("src/second.txt")}, content, nullptr, nullptr), 0);
  std::string plain = ContentBytes(content);
  // Split so that the first file is complete within the first compressed chunk.
  size_t cut = plain.find("first file") + 10;
  ASSERT_NE(plain.find("first file"), std::string::npos);
  std::string head = plain.substr(0, cut), tail = plain.substr(cut);
  Value iv;
  iv.SetBlob("0123456789abcdef", 16);

  enum Damage {
    kNone,
    kBadMagic_,
    kSetting3,
    kCipher3,
    kLongVector,
    kWrongPw,
    kCutCheck,
    kCutHeader,
    kHugeChunk,
    kHugeLength,
    kGarbageZlib,
    kEnds
  };
  auto build = [&](Damage d) {
    PropertyList h = test::StandardHeader(d == kCipher3 ? 3 : 2, d == kSetting3 ? 3 : 1, &iv);
    if (d == kBadMagic_) h.PutString(kHeaderMagic, "Quillmar Encrypted Fil", 1);
    if (d == kLongVector) {
      Value v17;
      v17.SetBlob("0123456789abcdefX", 17);
      h.PutValue(kHeaderVector, v17, 1);
    }
    std::string bytes = test::RecordBytes(h);
    if (d == kCutHeader) return bytes.substr(0, bytes.size() - 3);
    bytes += test::CheckBytes(d == kWrongPw ? "other" : "pw");
    if (d == kCutCheck) return bytes.substr(0, bytes.size() - 1);
    test::ChunkEncryptor enc(2, "pw", &iv);
    bytes += enc.Chunk(test::CompressedChunk(1, test::Zlib(head, 9)));
    if (d == kHugeChunk)
      bytes += enc.Chunk(test::CompressedChunk(0, tail, 70000));
    else if (d == kHugeLength)
      bytes += enc.Chunk(test::CompressedChunk(1, test::Zlib(tail, 9)), 1048577);
    else if (d == kGarbageZlib)
      bytes += enc.Chunk(test::CompressedChunk(1, "this is not zlib"));
    else if (d == kEnds)
      bytes += enc.Chunk(test::CompressedChunk(1, test::Zlib(tail.substr(0, 100), 9)));
    else
      bytes += enc.Chunk(test::CompressedChunk(1, test::Zlib(tail, 9)));
    return bytes;
  };
  struct Case {
    Damage damage;
    int32_t code;
  } cases[] = {{kBadMagic_, kBadMagic},   {kSetting3, kBadCompression}, {kCipher3, kBadMagic},
               {kLongVector, kBadVector}, {kWrongPw, kWrongPassword},   {kCutCheck, kFailed},
               {kCutHeader, kShortRead},  {kHugeChunk, kBadChunk},      {kHugeLength, kCipherRefused},
               {kGarbageZlib, kBadChunk}, {kEnds, kShortRead},          {kNone, 0}};
  // The same codes whether a second thread reads and decodes ahead or not.
  for (int32_t threads : {1, 2}) {
    test::RemoveTree(dir.Sub("area/"));
    ASSERT_EQ(CreateFolder(dir.Sub("area/t/")), 0);
    WriteFileBytes(dir.Sub("area/t/placed.txt"), "placed before");
    WriteFileBytes(dir.Sub("area/t/first.txt"), "an older first file");
    Snapshot before = TakeSnapshot(dir.Sub("area/"));
    ExtractOptions options;
    options.decode_threads = threads;
    for (const Case& c : cases) {
      WriteFileBytes(dir.Sub("d.qef"), build(c.damage));
      EXPECT_EQ(Extract(dir.Sub("d.qef"), "pw", dir.Sub("area/t/"), nullptr, &options), c.code)
          << "damage " << c.damage << ", " << threads << " threads";
      if (c.code != 0) {
        EXPECT_EQ(TakeSnapshot(dir.Sub("area/")), before) << "damage " << c.damage << ", " << threads << " threads";
      }
    }
    EXPECT_EQ(test::ReadFileBytes(dir.Sub("area/t/first.txt")), "first file");
    EXPECT_EQ(test::ReadFileBytes(dir.Sub("area/t/second.txt")), test::SampleBytes(5000, 4));
  }
}

}  // namespace
}  // namespace qef

namespace qef {
namespace {

TEST(Engine, ReadingAheadGivesTheSameTreesAndCodes) {
  TempDir dir;
  Text root = MakeTree(dir);
  ASSERT_EQ(Pack({root}, dir.Sub("c.qef"), "pw"), 0);
  ExtractOptions ahead;
  ahead.decode_threads = 2;
  ASSERT_EQ(Extract(dir.Sub("c.qef"), "pw", dir.Sub("t/"), nullptr, &ahead), 0);
  EXPECT_EQ(TakeSnapshot(dir.Sub("t/tree/")), TakeSnapshot(root));
  test::RemoveTree(dir.Sub("t/"));

  // Cut at many places: the same code with and without reading ahead, and nothing left.
  std::string whole = test::ReadFileBytes(dir.Sub("c.qef"));
  for (size_t n = 0; n < whole.size(); n += whole.size() / 97 + 1) {
    WriteFileBytes(dir.Sub("cut.qef"), whole.substr(0, n));
    int32_t alone = Extract(dir.Sub("cut.qef"), "pw", dir.Sub("t/"));
    int32_t with = Extract(dir.Sub("cut.qef"), "pw", dir.Sub("t/"), nullptr, &ahead);
    EXPECT_EQ(with, alone) << "cut at " << n;
    EXPECT_NE(with, 0);
    EXPECT_FALSE(FolderExists(dir.Sub("t/"))) << "cut at " << n;
  }
  // Cancelling stops the second thread too.
  Progress p;
  p.cancel_after = 50;
  ProgressCallback cb = p.Record();
  EXPECT_EQ(Extract(dir.Sub("c.qef"), "pw", dir.Sub("t/"), &cb, &ahead), kCancelled);
  EXPECT_FALSE(FolderExists(dir.Sub("t/")));
}

}  // namespace
}  // namespace qef
