// End-to-end runs of the real qef binary: natively, and the Windows build under Wine.
// Passwords come from a password file or QEF_PASSWORD, never from the command line.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "cli/password.h"
#include "container/chunk_streams.h"
#include "container/container_reader.h"
#include "container/engine.h"
#include "container/value_record.h"
#include "container/writer.h"
#include "core/result.h"
#include "fs/file_stream.h"
#include "fs/filetime.h"
#include "fs/fs.h"
#include "fs/path.h"
#include "fs/temp_file.h"
#include "sfx/payload.h"
#include "sfx/pe_image.h"
#include "tests/cli/tool_runner.h"
#include "tests/fixtures/hostile_names.h"
#include "tests/sfx/test_image.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tree_snapshot.h"

namespace qef {
namespace {

using test::Chain;
using test::RunResult;
using test::TakeSnapshot;
using test::TempDir;
using test::WriteDeep;
using test::WriteFileBytes;

const bool kWindows = kNativeStyle == PathStyle::kWindows;
const char kPassword[] = "correct horse battery staple";
// "Grüße.txt" as the file system spells it: UTF-8 here, code page 1252 under Wine.
const char* const kLocalName = kWindows ? "Gr\xFC\xDF"
                                          "e.txt"
                                        : "Gr\xC3\xBC\xC3\x9F"
                                          "e.txt";
const char kStoredName[] =
    "Gr\xFC\xDF"
    "e.txt";                                          // what the stub's system sees (1252)
const uint64_t kWrittenTime = 126887187060000000ull;  // 2003-02-03 04:05:06 UTC
const uint64_t kFutureTime = 157469184000000000ull;   // 2100-01-01 00:00:00 UTC

// Deterministic bytes that compress moderately.
std::string Data(size_t n) {
  std::string s;
  uint32_t x = 1;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    s.push_back(static_cast<char>(i % 3 != 0 ? 'a' + (x >> 16) % 16 : x >> 24));
  }
  return s;
}

// What a round trip must keep: nesting, an empty folder, an empty file, a read-only
// file with a known time, a non-ASCII name and data over several chunks.
void MakeSource(const TempDir& dir) {
  ASSERT_EQ(CreateFolder(dir.Sub("src/nested/deeper/")), 0);
  ASSERT_EQ(CreateFolder(dir.Sub("src/empty/")), 0);
  WriteFileBytes(dir.Sub("src/nested/deeper/notes.txt"), "notes\r\n");
  WriteFileBytes(dir.Sub("src/nested/data.bin"), Data(1200000));
  WriteFileBytes(dir.Sub("src/empty.txt"), "");
  WriteFileBytes(Text::Concat(dir.Sub("src/"), kLocalName), "umlauts");
  WriteFileBytes(dir.Sub("src/readonly.txt"), "keep me");
  FileInfo info;
  info.has_written = true;
  info.written = kWrittenTime;
  info.attributes = kAttrReadOnly;
  ASSERT_EQ(ApplyFileInformation(dir.Sub("src/readonly.txt"), info), 0);
}

// A file item as a hostile author would write it: names stored as given, data from
// `source`.
Value FileItem(const char* folder, const char* name, const Text& source) {
  Value v;
  v.SetType(kFsItem);
  FsItem* item = v.GetFsItem();
  item->PutByte(kItemKind, 0, 1);
  item->PutString(kItemName, name, 1);
  item->PutString(kItemFolder, folder, 1);
  item->SetSourcePath(source.Str());
  return v;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

bool Exists(const Text& path) { return FileExists(path) || FolderExists(Text::Concat(path, "/")); }

// A failure's one line on standard error, with the code.
::testing::AssertionResult OneErrorLine(const RunResult& r, int32_t code) {
  std::string line = r.err;
  if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) line.erase(line.size() - 2, 1);
  std::string end = " (code " + std::to_string(code) + ")\n";
  if (r.status == 1 && line.rfind("qef: ", 0) == 0 && line.size() > 5 + end.size() &&
      line.compare(line.size() - end.size(), end.size(), end) == 0 && line.find('\n') == line.size() - 1)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "status " << r.status << ", stderr: " << r.err;
}

class Tool : public ::testing::Test {
 protected:
  void SetUp() override {
    test::SetVariable(kPasswordVariable, nullptr);
    WriteFileBytes(dir_.Sub("pw.txt"), std::string(kPassword) + "\n");
  }

  RunResult Qef(const std::vector<std::string>& args) { return test::RunProgram(tool_, args); }
  std::string At(const char* relative) const { return dir_.Sub(relative).Str(); }

  // A stub for programs: the minimal test program of the Windows build, else a PE32
  // image made in code (enough to pack and read back, not to run).
  std::string Stub() {
    std::string mini = QEF_MINI_STUB;
    if (!mini.empty()) return test::BuiltPath(mini.c_str());
    WriteFileBytes(dir_.Sub("stub.exe"), std::string(reinterpret_cast<const char*>(test::MakeTestImage().data()),
                                                     test::MakeTestImage().size()));
    return At("stub.exe");
  }

  std::string tool_ = test::BuiltPath(QEF_TOOL_PATH);
  TempDir dir_;
};

TEST_F(Tool, RoundTripsContainersAndProgramsWithBothCiphers) {
  MakeSource(dir_);
  std::string stub = Stub();
  struct Case {
    const char* output;
    const char* cipher;
    const char* compression;
    const char* shown;
  } cases[] = {
      {"c1.qef", "aes", "best", "AES-128 (id 2)"},
      {"c2.qef", "blowfish", "store", "Blowfish (id 0)"},
      {"p1.exe", "aes", "fast", "AES-128 (id 2)"},
      {"p2.exe", "blowfish", "best", "Blowfish (id 0)"},
  };
  test::Snapshot source = TakeSnapshot(dir_.Sub("src/"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    std::string out = At(c.output);
    std::vector<std::string> pack = {
        "pack",        At("src"),         "-o",        out, "--cipher", c.cipher, "--compression",
        c.compression, "--password-file", At("pw.txt")};
    if (Contains(c.output, ".exe")) pack.insert(pack.end(), {"--stub", stub});
    RunResult r = Qef(pack);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");

    r = Qef({"info", out});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, c.shown)) << r.out;
    EXPECT_TRUE(Contains(r.out, std::string(c.compression) + (c.compression[0] == 's' ? "" : ":"))) << r.out;

    r = Qef({"list", out, "--json", "--password-file", At("pw.txt")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "{\"name\": \"src/empty/\", \"kind\": \"folder\"")) << r.out;
    EXPECT_TRUE(Contains(r.out,
                         "{\"name\": \"src/Gr\xC3\xBC\xC3\x9F"
                         "e.txt\", \"kind\": \"file\", \"size\": 7"))
        << r.out;
    EXPECT_TRUE(Contains(r.out,
                         "{\"name\": \"src/readonly.txt\", \"kind\": \"file\", \"size\": 7, \"attributes\": "
                         "[\"read-only\"") &&
                Contains(r.out, "\"modified\": \"2003-02-03T04:05:06Z\""))
        << r.out;

    r = Qef({"test", out, "--password-file", At("pw.txt")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "OK: 5 files and 4 folders")) << r.out;

    std::string target = At((std::string("x-") + c.output).c_str());
    r = Qef({"extract", out, "-C", target, "--password-file", At("pw.txt")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(TakeSnapshot(Text::Concat(Text(target.c_str()), "/src/")), source);
  }
}

// The compressed chunks under the encryption (the initialisation vector is drawn anew
// for every container, so the encrypted bytes always differ).
std::string ChunksOf(const Text& path, uint8_t& cipher, int32_t& end) {
  StreamParams params;
  FileStream file;
  PropertyList header;
  uint16_t check = 0;
  EXPECT_EQ(file.Open(kModeReading, path, &params), 0);
  EXPECT_EQ(SerialiseValue(header, file), 0);
  EXPECT_EQ(file.ReadU16(check), 0);
  cipher = header.GetByte(kHeaderCipher, 0);
  Value vector = HeaderVector(header, cipher);
  DecryptingStream chunks;
  EXPECT_EQ(chunks.Attach(&file, cipher), 0);
  EXPECT_EQ(chunks.SetUpCiphers(Text(kPassword), &vector), 0);
  std::string all;
  for (;;) {
    uint8_t flag = 0;
    uint32_t length = 0;
    if ((end = chunks.ReadU8(flag)) != 0 || (end = chunks.ReadU32(length)) != 0) break;
    std::string bytes(length, '\0');
    if (length == 0 || (end = chunks.Read(&bytes[0], length)) != 0) break;
    all += static_cast<char>(flag) + bytes;
  }
  chunks.Close();
  file.Close();
  return all;
}

TEST_F(Tool, AnyNumberOfJobsGivesTheSameChunks) {
  // Reading a file moves its access time, which the archive stores, unless that time
  // lies ahead (relatime): so every run sees the same times.
  ASSERT_EQ(CreateFolder(dir_.Sub("src/")), 0);
  for (const char* name : {"src/data.bin", "src/small.txt"}) {
    WriteFileBytes(dir_.Sub(name), name[4] == 'd' ? Data(1200000) : "small");
    FileInfo times;
    times.has_written = times.has_accessed = true;
    times.written = kWrittenTime;
    times.accessed = kFutureTime;
    ASSERT_EQ(ApplyFileInformation(dir_.Sub(name), times), 0);
  }
  std::string first;
  for (const char* jobs : {"1", "3", "8"}) {
    std::string out = At((std::string("jobs") + jobs + ".qef").c_str());
    RunResult r = Qef({"pack", At("src"), "-o", out, "--jobs", jobs, "--password-file", At("pw.txt")});
    ASSERT_EQ(r.status, 0) << r.err;
    uint8_t cipher = 0;
    int32_t end = 0;
    std::string chunks = ChunksOf(out.c_str(), cipher, end);
    EXPECT_EQ(cipher, 2);
    EXPECT_EQ(end, kShortRead) << "the chunks must read to the end of the file";
    EXPECT_GT(chunks.size(), 2 * 65536u) << "several chunks";
    if (first.empty()) first = chunks;
    EXPECT_TRUE(chunks == first) << jobs << " jobs";
  }
}

TEST_F(Tool, FailuresPrintOneLineWithTheCode) {
  MakeSource(dir_);
  std::string stub = Stub();
  std::string pw = At("pw.txt");
  ASSERT_EQ(Qef({"pack", At("src"), "-o", At("good.qef"), "--password-file", pw}).status, 0);
  ASSERT_EQ(Qef({"pack", At("src"), "-o", At("good.exe"), "--stub", stub, "--password-file", pw}).status, 0);
  std::string qef = test::ReadFileBytes(dir_.Sub("good.qef")), exe = test::ReadFileBytes(dir_.Sub("good.exe"));
  WriteFileBytes(dir_.Sub("cut.qef"), qef.substr(0, qef.size() / 2));
  WriteFileBytes(dir_.Sub("cut.exe"), exe.substr(0, exe.size() - 1000));
  WriteFileBytes(dir_.Sub("wrong.txt"), "not the password\n");
  WriteFileBytes(dir_.Sub("omega.txt"), "\xCE\xA9 is not in code page 1252\n");
  WriteFileBytes(dir_.Sub("latin1.txt"), "a\xE4 is not UTF-8\n");
  WriteFileBytes(dir_.Sub("mz.exe"), "MZ");
  std::string damaged = qef;
  damaged[damaged.size() / 2] ^= 0x55;
  WriteFileBytes(dir_.Sub("damaged.qef"), damaged);
  WriteFileBytes(dir_.Sub("other.zip"), "PK not an archive of ours");
  WriteFileBytes(dir_.Sub("empty.qef"), "");
  WriteFileBytes(dir_.Sub("text.qef"), "a text file\n");
  WriteFileBytes(dir_.Sub("good.bak"), qef);
  ASSERT_EQ(CreateFolder(dir_.Sub("other/")), 0);
  WriteFileBytes(dir_.Sub("other/READONLY.txt"), "the same name in other letters");
  // The longest password a program's field takes, and one byte more ("\xC3\xA9" is
  // one byte in code page 1252).
  WriteFileBytes(dir_.Sub("long.txt"), "\xC3\xA9" + std::string(254, 'p') + "\n");
  WriteFileBytes(dir_.Sub("longer.txt"), "\xC3\xA9" + std::string(255, 'p') + "\n");
  EXPECT_EQ(Qef({"pack", At("src"), "-o", At("long.exe"), "--stub", stub, "--password-file", At("long.txt")}).status,
            0);
  EXPECT_EQ(Qef({"pack", At("src"), "-o", At("longer.qef"), "--password-file", At("longer.txt")}).status, 0)
      << "the tool itself reads longer passwords";

  struct Case {
    std::vector<std::string> args;
    int32_t code;
    const char* never_made;  // output or target that must not exist afterwards
    const char* said;        // part of the message
  } cases[] = {
      {{"extract", At("good.qef"), "-C", At("t1"), "--password-file", At("wrong.txt")},
       kWrongPassword,
       "t1",
       "good.qef: wrong password"},
      {{"extract", At("good.exe"), "-C", At("t2"), "--password-file", At("wrong.txt")}, kWrongPassword, "t2", ""},
      {{"extract", At("cut.qef"), "-C", At("t3"), "--password-file", pw}, kShortRead, "t3", "truncated"},
      {{"extract", At("cut.exe"), "-C", At("t4"), "--password-file", pw}, kShortRead, "t4", "truncated"},
      {{"test", At("missing.qef"), "--password-file", pw}, kContainerMissing, "", "missing.qef"},
      {{"list", At("other.zip"), "--password-file", pw}, kUnsupported, "", "other.zip"},
      {{"pack", At("src/missing"), "-o", At("o1.qef"), "--password-file", pw}, kContainerMissing, "o1.qef", "missing"},
      {{"pack", At("src"), "-o", At("o2.exe"), "--stub", stub, "--picture", pw, "--password-file", pw},
       kBadArgument,
       "o2.exe",
       "BMP"},
      {{"pack", At("src"), "-o", At("o3.exe"), "--stub", stub, "--info", At("omega.txt"), "--password-file", pw},
       kBadArgument,
       "o3.exe",
       "U+03A9"},
      {{"pack", At("src"), "-o", At("o4.exe"), "--stub", pw, "--password-file", pw}, kBadArgument, "o4.exe", "stub"},
      // A password's message says where the fault is, never what is there.
      {{"pack", At("src"), "-o", At("o5.qef"), "--password-file", At("omega.txt")},
       kBadArgument,
       "o5.qef",
       "password: character 1 cannot be written in code page 1252"},
      {{"pack", At("src"), "-o", At("o6.qef"), "--password-file", At("latin1.txt")},
       kBadArgument,
       "o6.qef",
       "password: the text is not valid UTF-8 at character 2"},
      {{"pack", At("src/readonly.txt"), At("other/READONLY.txt"), "-o", At("o7.qef"), "--password-file", pw},
       kBadArgument,
       "o7.qef",
       "two sources"},
      // Each names what it is about and why.
      {{"info", At("mz.exe")}, kBadArgument, "", "mz.exe: too short to be a Windows program (2 bytes)"},
      {{"test", At("src"), "--password-file", pw}, kContainerMissing, "", "is a folder, not an archive"},
      {{"pack", At("src"), "-o", At("o10.qef"), "--password-file", At("src")}, kCannotOpen, "o10.qef", "is a folder"},
      {{"pack", At("src"), "-o", At("o11.exe"), "--stub", stub, "--info", At("src"), "--password-file", pw},
       kContainerMissing,
       "o11.exe",
       "it is a folder"},
      {{"pack", At("src"), "-o", At("o9.exe"), "--stub", stub, "--password-file", At("longer.txt")},
       kBadArgument,
       "o9.exe",
       "256 bytes"},
      {{"extract", At("damaged.qef"), "-C", At("t5"), "--password-file", pw}, kBadChunk, "t5", "damaged"},
      {{"pack", At("src"), "-o", At("o12.qef"), "--password-file", At("missing.txt")},
       kCannotOpen,
       "o12.qef",
       "missing.txt: "},
      {{"pack", At("src"), "-o", At("pw.txt/o13.qef"), "--password-file", pw},
       kCannotOpen,
       "",
       "o13.qef: cannot create the file: "},
      // What an archive that is none holds instead; a container under another name.
      {{"list", At("empty.qef"), "--password-file", pw}, kShortRead, "", "empty.qef is empty, not an archive"},
      {{"test", At("text.qef"), "--password-file", pw}, kShortRead, "", "text.qef holds text, not an archive"},
      {{"list", At("good.bak"), "--password-file", pw}, kUnsupported, "", "rename it to end in .qef"},
      // An output or target that cannot be is named before any work.
      {{"pack", At("src"), "-o", At("other.qef"), "--password-file", pw},
       kCannotOpen,
       "",
       "other.qef: cannot create the file: it is a folder"},
      {{"pack", At("src"), "-o", At("nowhere/o15.qef"), "--password-file", pw},
       kCannotOpen,
       "nowhere",
       "does not exist"},
      {{"extract", At("good.qef"), "-C", At("pw.txt"), "--password-file", pw},
       kBadArgument,
       "",
       "it is a file, not a folder"},
      {{"extract", At("good.qef"), "-C", At("pw.txt/t6"), "--password-file", pw},
       kCannotCreateParent,
       "",
       "t6: cannot create the folder: "},
      {{"extract", At("good.qef"), "nothing*", "src/empty", "-C", At("t7"), "--password-file", pw},
       kFailed,
       "",
       "nothing in the archive matches 'nothing*'"},
      {{"list", At("good.qef"), "nothing", "--password-file", pw}, kFailed, "", "matches 'nothing'"},
  };
  ASSERT_EQ(CreateFolder(dir_.Sub("other.qef/")), 0);
  std::vector<Case> all(std::begin(cases), std::end(cases));
  if (!kWindows) {  // sizes are stored in 32 bits; a sparse file here, where making one is cheap
    ASSERT_EQ(CreateFolder(dir_.Sub("huge/")), 0);
    WriteFileBytes(dir_.Sub("huge/4gib.bin"), "");
    std::error_code ec;
    std::filesystem::resize_file(At("huge/4gib.bin"), 0x100000000ull, ec);
    ASSERT_FALSE(ec) << ec.message();
    all.push_back(
        {{"pack", At("huge"), "-o", At("o8.qef"), "--password-file", pw}, kUnsupported, "o8.qef", "4 GiB or larger"});
    all.push_back(
        {{"pack", At("src"), "-o", At("o14.exe"), "--stub", stub, "--info", "/dev/null", "--password-file", pw},
         kCannotOpen,
         "o14.exe",
         "/dev/null: it is not a regular file"});
  }
  for (const Case& c : all) {
    RunResult r = Qef(c.args);
    EXPECT_TRUE(OneErrorLine(r, c.code)) << c.args[0] << " " << c.args[1];
    EXPECT_TRUE(Contains(r.err, c.said)) << r.err;
    if (Contains(c.said, "password:")) {
      EXPECT_FALSE(Contains(r.err, "\xCE\xA9") || Contains(r.err, "0xE4")) << r.err;
    }
    if (*c.never_made != 0) {
      EXPECT_FALSE(Exists(dir_.Sub(c.never_made))) << c.never_made;
    }
  }
  test::RemoveTree(dir_.Sub("huge/"));  // not read into the snapshot
  // No temporary container file is left beside a target, nor a partial output.
  for (const auto& entry : TakeSnapshot(dir_.Path())) EXPECT_FALSE(Contains(entry.first, "~qef-")) << entry.first;
}

// Files that a run killed outright left written aside are named by the next run into
// their folder, with how to clear them, and left in place.
TEST_F(Tool, FilesLeftByAStoppedRunAreNamed) {
  std::string pw = At("pw.txt");
  ASSERT_EQ(CreateFolder(dir_.Sub("src/docs/")), 0);
  WriteFileBytes(dir_.Sub("src/docs/a.txt"), "a");
  ASSERT_EQ(CreateFolder(dir_.Sub("out/")), 0);
  ASSERT_EQ(CreateFolder(dir_.Sub("t/src/docs/")), 0);
  const char* const left[] = {"out/~qef-0123456789abcdef-0.tmp", "t/src/docs/~qef-0123456789abcdef-4.tmp",
                              "t/src/docs/~qef-0123456789abcdef-5.orig-b.txt"};
  for (const char* name : left) WriteFileBytes(dir_.Sub(name), "left");
  WriteFileBytes(dir_.Sub("t/src/docs/~qef-notes.tmp"), "a name of the user's own");

  RunResult r = Qef({"pack", At("src"), "-o", At("out/a.qef"), "--password-file", pw});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Contains(r.err, "out/~qef-0123456789abcdef-0.tmp was left by a qef run") &&
              Contains(r.err, "delete them"))
      << r.err;
  r = Qef({"extract", At("out/a.qef"), "-C", At("t"), "--password-file", pw});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Contains(r.err, "docs/~qef-0123456789abcdef-4.tmp was left by a qef run")) << r.err;
  // A file set aside while it was replaced may be the only copy: the warning says
  // whose original it is and how to put it back, and never to delete it.
  EXPECT_TRUE(Contains(r.err, "docs/~qef-0123456789abcdef-5.orig-b.txt was left by a qef run") &&
              Contains(r.err, "the original of " + At("t/src/docs/b.txt")) &&
              Contains(r.err, "that file is missing now: rename this one back"))
      << r.err;
  EXPECT_FALSE(Contains(r.err, "out/") || Contains(r.err, "~qef-notes")) << r.err;
  for (const char* name : left) EXPECT_TRUE(FileExists(dir_.Sub(name))) << name;
  // A run into a folder without them says nothing of them.
  r = Qef({"extract", At("out/a.qef"), "-C", At("t2"), "--password-file", pw});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
}

// Names that some reader could not restore are refused before anything is written,
// naming the file and the reason; a source "x/." is packed as x.
TEST_F(Tool, PackRefusesNamesNoReaderCanRestore) {
  MakeSource(dir_);
  std::string pw = At("pw.txt");
  struct Case {
    const char* file;  // made inside bad/, then bad/ is packed
    bool posix_only;   // a name Windows will not even create
    const char* shown;
    const char* said;
  } cases[] = {
      {"aux.c", true, "bad/aux.c", "device"},
      {"a\\b.txt", true, "bad/a\\b.txt", "separator"},
      {"what?.txt", true, "bad/what?.txt", "Windows refuses"},
      {"end.", true, "bad/end.", "dot or a blank"},
      {"bell\x07", true, "bad/bell\\x07", "control"},
      {"nul.tar.gz", true, "bad/nul.tar.gz", "device"},
  };
  for (const Case& c : cases) {
    if (c.posix_only && kWindows) continue;
    ASSERT_EQ(CreateFolder(dir_.Sub("bad/")), 0);
    WriteFileBytes(dir_.Sub((std::string("bad/") + c.file).c_str()), "x");
    RunResult r = Qef({"pack", At("bad"), "-o", At("o.qef"), "--password-file", pw});
    EXPECT_TRUE(OneErrorLine(r, kBadArgument)) << c.file;
    EXPECT_TRUE(Contains(r.err, c.shown) && Contains(r.err, c.said)) << r.err;
    EXPECT_FALSE(Exists(dir_.Sub("o.qef"))) << c.file;
    std::filesystem::remove_all(dir_.Sub("bad").Str());
  }
  RunResult up = Qef({"pack", At("src/nested/.."), "-o", At("o.qef"), "--password-file", pw});
  EXPECT_TRUE(OneErrorLine(up, kBadArgument)) << up.err;
  EXPECT_FALSE(Exists(dir_.Sub("o.qef")));

  ASSERT_EQ(Qef({"pack", At("src/."), "-o", At("dot.qef"), "--password-file", pw}).status, 0);
  RunResult listed = Qef({"list", At("dot.qef"), "--json", "--password-file", pw});
  EXPECT_EQ(listed.status, 0) << listed.err;
  EXPECT_TRUE(Contains(listed.out, "\"src/nested/\"")) << listed.out;
  EXPECT_FALSE(Contains(listed.out, "\"./")) << listed.out;
}

// An existing output is replaced in one step by the complete new one; a link planted
// at the output is replaced, never written through (the aside file's own name is
// covered by the temporary file's tests).
TEST_F(Tool, PackReplacesTheOutputWholeAndFollowsNoLink) {
  std::string pw = At("pw.txt");
  std::string stub = Stub();
  WriteFileBytes(dir_.Sub("a.txt"), "first");
  WriteFileBytes(dir_.Sub("b.txt"), "second");
  WriteFileBytes(dir_.Sub("victim"), "untouched");
  for (const char* out : {"o.qef", "o.exe"}) {
    SCOPED_TRACE(out);
    std::string output = At(out);
    if (!kWindows) {
      std::filesystem::create_symlink(At("victim"), output);
    }
    for (const char* source : {"a.txt", "b.txt"}) {
      std::vector<std::string> args = {"pack", At(source), "-o", output, "--password-file", pw};
      if (Contains(out, ".exe")) args.insert(args.end(), {"--stub", stub});
      ASSERT_EQ(Qef(args).status, 0) << source;
    }
    RunResult listed = Qef({"list", output, "--json", "--password-file", pw});
    EXPECT_TRUE(Contains(listed.out, "b.txt") && !Contains(listed.out, "a.txt")) << listed.out;
    EXPECT_EQ(test::ReadFileBytes(dir_.Sub("victim")), "untouched");
  }
}

// Paths the user gives follow this system's rules: on POSIX '|' and '?' are ordinary.
TEST_F(Tool, CommandLinePathsFollowTheHostsRules) {
  if (kWindows) GTEST_SKIP() << "Windows refuses these characters in any path";
  MakeSource(dir_);
  std::string pw = At("pw.txt");
  ASSERT_EQ(CreateFolder(dir_.Sub("odd|in/")), 0);
  WriteFileBytes(dir_.Sub("odd|in/a.txt"), "a");
  ASSERT_EQ(Qef({"pack", At("odd|in/a.txt"), At("src/empty.txt"), "-o", At("what?.qef"), "--password-file", pw}).status,
            0);
  RunResult r = Qef({"extract", At("what?.qef"), "-C", At("odd|dir"), "--password-file", pw});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::ReadFileBytes(dir_.Sub("odd|dir/a.txt")), "a");
  r = Qef({"extract", At("what?.qef"), "--password-file", pw});  // beside it, named after it
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::ReadFileBytes(dir_.Sub("what?/a.txt")), "a");
  // The folder is found; its name is one that Windows could not restore.
  r = Qef({"pack", At("odd|in"), "-o", At("o.qef"), "--password-file", pw});
  EXPECT_TRUE(OneErrorLine(r, kBadArgument)) << r.err;
  EXPECT_TRUE(Contains(r.err, "odd|in") && Contains(r.err, "Windows refuses")) << r.err;
}

// Containers with names that lead outside the target, made with the library as a
// hostile author would; the tool refuses them and writes nothing anywhere.
TEST_F(Tool, HostileNamesAreRefused) {
  WriteFileBytes(dir_.Sub("data.txt"), "payload");
  ASSERT_EQ(CreateFolder(dir_.Sub("area/t/")), 0);
  WriteFileBytes(dir_.Sub("area/t/placed.txt"), "placed before");
  test::Snapshot area = TakeSnapshot(dir_.Sub("area/"), test::FolderTimes::kCompared);
  for (const test::HostileName& c : test::kHostileNames) {
    if (!(kWindows ? c.refused_windows : c.refused_posix)) continue;
    PropertyList content;
    content.Append(FileItem(c.folder, c.name, dir_.Sub("data.txt")));
    ASSERT_EQ(WriteContainer(dir_.Sub("h.qef"), Text(kPassword), content, PackOptions()), 0);
    RunResult r =
        Qef({"extract", At("h.qef"), "-C", At("area/t"), "--codepage", "raw", "--password-file", At("pw.txt")});
    EXPECT_TRUE(OneErrorLine(r, kUnsafeName)) << "[" << c.folder << "][" << c.name << "]";
    EXPECT_EQ(TakeSnapshot(dir_.Sub("area/"), test::FolderTimes::kCompared), area)
        << "[" << c.folder << "][" << c.name << "]";
  }
}

// The issue a user met: a byte flipped in the middle of an archive packed with the
// default settings, inside a file deflate cannot shrink. Every reader finds it and
// names the item; extraction undoes itself, or with --salvage keeps the rest; an
// archive another writer made without checksums is read with a word on what could
// not be checked.
TEST_F(Tool, DamageIsFoundByEveryCommandAndNamed) {
  std::mt19937 random(3);
  std::string noise(3u << 20, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  ASSERT_EQ(CreateFolder(dir_.Sub("src/")), 0);
  WriteFileBytes(dir_.Sub("src/a.txt"), "first");
  WriteFileBytes(dir_.Sub("src/big.bin"), noise);
  WriteFileBytes(dir_.Sub("src/c.txt"), "last");
  std::string pw = At("pw.txt");
  for (const char* compression : {"best", "store"}) {
    SCOPED_TRACE(compression);
    ASSERT_EQ(Qef({"pack", At("src"), "-o", At("d.qef"), "--compression", compression, "--password-file", pw}).status,
              0);
    std::string bytes = test::ReadFileBytes(dir_.Sub("d.qef"));
    bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x20);
    WriteFileBytes(dir_.Sub("d.qef"), bytes);

    RunResult r = Qef({"test", At("d.qef"), "--password-file", pw});
    EXPECT_TRUE(OneErrorLine(r, kBadChecksum) && Contains(r.err, "src/big.bin")) << r.err;
    r = Qef({"list", At("d.qef"), "--password-file", pw});
    EXPECT_TRUE(OneErrorLine(r, kBadChecksum)) << r.err;
    EXPECT_TRUE(Contains(r.out, "src/a.txt") && !Contains(r.out, "big.bin")) << r.out;
    r = Qef({"extract", At("d.qef"), "-C", At("t"), "--password-file", pw});
    EXPECT_TRUE(OneErrorLine(r, kBadChecksum) && Contains(r.err, "src/big.bin")) << r.err;
    EXPECT_FALSE(FolderExists(dir_.Sub("t/")));
    r = Qef({"extract", At("d.qef"), "-C", At("t"), "--salvage", "--password-file", pw});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(Contains(r.err, "src/big.bin: damaged")) << r.err;
    EXPECT_EQ(test::ReadFileBytes(dir_.Sub("t/src/a.txt")), "first");
    EXPECT_EQ(test::ReadFileBytes(dir_.Sub("t/src/c.txt")), "last");
    EXPECT_FALSE(FileExists(dir_.Sub("t/src/big.bin")));
    EXPECT_TRUE(FindTemporaryFiles(dir_.Sub("t/src/")).empty());
    test::RemoveTree(dir_.Sub("t/"));
  }

  PropertyList content;
  ASSERT_EQ(CollectSources({dir_.Sub("src/")}, content, nullptr, nullptr), 0);
  PackOptions without;
  without.checksums = false;
  ASSERT_EQ(WriteContainer(dir_.Sub("o.qef"), Text(kPassword), content, without), 0);
  RunResult r = Qef({"test", At("o.qef"), "--password-file", pw});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(Contains(r.out, "OK")) << r.out;
  EXPECT_TRUE(Contains(r.err, "no checksums") && Contains(r.err, "would go unnoticed")) << r.err;
}

// list and test read every item: a refused name is marked, the items after it are
// still shown, and the exit status says that something is wrong.
TEST_F(Tool, ListAndTestShowEveryItemAndMarkRefusedNames) {
  WriteFileBytes(dir_.Sub("data.txt"), "payload");
  PropertyList content;
  for (const char* name : {"before.txt", "../escape.txt", "after.txt"})
    content.Append(FileItem("", name, dir_.Sub("data.txt")));
  ASSERT_EQ(WriteContainer(dir_.Sub("h.qef"), Text(kPassword), content, PackOptions()), 0);
  RunResult r = Qef({"list", At("h.qef"), "--password-file", At("pw.txt")});
  EXPECT_TRUE(OneErrorLine(r, kUnsafeName)) << r.err;
  EXPECT_TRUE(Contains(r.out, "before.txt") && Contains(r.out, "after.txt")) << r.out;
  EXPECT_TRUE(Contains(r.out, "../escape.txt  (refused: unsafe name, not extracted)")) << r.out;
  r = Qef({"list", At("h.qef"), "--json", "--password-file", At("pw.txt")});
  EXPECT_TRUE(Contains(r.out,
                       "\"name\": \"../escape.txt\", \"kind\": \"file\", \"size\": 7, \"attributes\": [], "
                       "\"refused\": \"unsafe name\""))
      << r.out;
  r = Qef({"test", At("h.qef"), "--password-file", At("pw.txt")});
  EXPECT_TRUE(OneErrorLine(r, kUnsafeName)) << r.err;
  EXPECT_FALSE(Contains(r.out, "OK")) << r.out;
}

TEST_F(Tool, UsageErrorsExitWith2AndAHint) {
  MakeSource(dir_);
  std::string src = At("src");
  struct Case {
    std::vector<std::string> args;
    const char* hint;
  } cases[] = {
      {{}, "qef --help"},
      {{"unpack", "x.qef"}, "unknown command 'unpack'"},
      {{"pack", src}, "qef pack --help"},
      {{"pack", src, "-o", At("out.zip")}, "qef pack --help"},
      {{"pack", src, "-o", At("out.qef"), "--info", At("pw.txt")}, "qef pack --help"},
      {{"pack", src, "-o", At("out.qef"), "--cipher", "rc4"}, "qef pack --help"},
      {{"pack", src, "-o", At("out.qef"), "--jobs", "0"}, "qef pack --help"},
      {{"pack", src, "-o", At("out.qef"), "--windows", "64"}, "qef pack --help"},
      {{"pack", src, "-o", At("out.exe"), "--windows", "16"}, "qef pack --help"},
      {{"pack", src, "-o", At("out.exe"), "--windows", "64", "--stub", At("pw.txt")}, "qef pack --help"},
      {{"extract"}, "qef extract --help"},
      {{"extract", At("a.qef"), "--codepage", "utf8"}, "qef extract --help"},
      {{"extract", At("a.qef"), "--threads", "0"}, "qef extract --help"},
      {{"list", At("a.qef"), "--password", kPassword}, "--password-file"},
      {{"test", At("a.qef"), "--password=secret"}, "--password-file"},
  };
  for (const Case& c : cases) {
    RunResult r = Qef(c.args);
    std::string shown = c.args.empty() ? "(none)" : c.args.back();
    EXPECT_EQ(r.status, 2) << shown << ": " << r.err;
    EXPECT_TRUE(Contains(r.err, c.hint)) << shown << ": " << r.err;
  }
  EXPECT_FALSE(FileExists(dir_.Sub("out.qef")) || FileExists(dir_.Sub("out.zip")) || FileExists(dir_.Sub("out.exe")));
}

// --version answers; --help names every way a password comes in.
TEST_F(Tool, VersionAndHelpAnswer) {
  RunResult r = Qef({"--version"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("qef ", 0), 0u) << r.out;
  for (const char* command : {"pack", "extract"}) {
    r = Qef({command, "--help"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "QEF_PASSWORD") && Contains(r.out, "FILE '-'")) << r.out;
  }
}

TEST_F(Tool, KeepExistingLeavesFilesAsTheyAre) {
  ASSERT_EQ(CreateFolder(dir_.Sub("src/nested/deeper/")), 0);
  WriteFileBytes(dir_.Sub("src/nested/deeper/notes.txt"), "notes");
  WriteFileBytes(dir_.Sub("src/other.txt"), "other");
  std::string pw = At("pw.txt");
  ASSERT_EQ(Qef({"pack", At("src"), "-o", At("a.qef"), "--password-file", pw}).status, 0);
  ASSERT_EQ(Qef({"extract", At("a.qef"), "-C", At("t"), "--password-file", pw}).status, 0);
  WriteFileBytes(dir_.Sub("t/src/nested/deeper/notes.txt"), "changed");
  test::Snapshot changed = TakeSnapshot(dir_.Sub("t/"));

  RunResult r = Qef({"extract", At("a.qef"), "-C", At("t"), "--keep-existing", "--password-file", pw});
  EXPECT_TRUE(OneErrorLine(r, kCannotOpen));
  EXPECT_TRUE(Contains(r.err, "--keep-existing")) << r.err;
  EXPECT_EQ(TakeSnapshot(dir_.Sub("t/")), changed);

  // --skip-existing leaves the changed file, brings back a missing one and says how
  // many it left; the bytes it counts are those it wrote.
  ASSERT_EQ(RemoveFile(dir_.Sub("t/src/other.txt")), 0);
  r = Qef({"extract", At("a.qef"), "-C", At("t"), "--skip-existing", "--password-file", pw});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(TakeSnapshot(dir_.Sub("t/")), changed);
  EXPECT_TRUE(Contains(r.out, "Extracted 1 file and 3 folders (5 B)") &&
              Contains(r.out, "; 1 existing file left as it was"))
      << r.out;
  EXPECT_EQ(
      Qef({"extract", At("a.qef"), "-C", At("t"), "--skip-existing", "--keep-existing", "--password-file", pw}).status,
      2);

  r = Qef({"extract", At("a.qef"), "-C", At("t"), "--password-file", pw});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(TakeSnapshot(dir_.Sub("t/src/")), TakeSnapshot(dir_.Sub("src/")));
}

// --overwrite-read-only replaces a read-only file with the archive's; a run that fails
// after it did puts the file back exactly (content, time, read-only state).
TEST_F(Tool, OverwriteReadOnlyReplacesAndIsUndoneExactly) {
  WriteFileBytes(dir_.Sub("data.txt"), "payload");
  PropertyList content;
  Value docs = FileItem("", "docs", dir_.Sub("data.txt"));
  docs.GetFsItem()->PutByte(kItemKind, 1, 1);
  content.Append(docs);
  content.Append(FileItem("docs/", "report.pdf", dir_.Sub("data.txt")));
  content.Append(FileItem("docs/", "z-later.txt", dir_.Sub("data.txt")));
  ASSERT_EQ(WriteContainer(dir_.Sub("a.qef"), Text(kPassword), content, PackOptions()), 0);
  FileInfo read_only;
  read_only.attributes = kAttrReadOnly;
  read_only.has_written = true;
  read_only.written = kWrittenTime;
  for (const char* target : {"t1/", "t2/"}) {
    ASSERT_EQ(CreateFolder(dir_.Sub((std::string(target) + "docs/").c_str())), 0);
    Text old = dir_.Sub((std::string(target) + "docs/report.pdf").c_str());
    WriteFileBytes(old, "old");
    ASSERT_EQ(ApplyFileInformation(old, read_only), 0);
  }
  ASSERT_EQ(CreateFolder(dir_.Sub("t2/docs/z-later.txt/")), 0);  // fails the run after the replacement
  test::Snapshot before = TakeSnapshot(dir_.Sub("t2/"));

  std::string pw = At("pw.txt");
  RunResult r = Qef({"extract", At("a.qef"), "-C", At("t1"), "--overwrite-read-only", "--password-file", pw});
  EXPECT_EQ(r.status, 0) << r.err;
  test::Snapshot after = TakeSnapshot(dir_.Sub("t1/"));
  EXPECT_EQ(after["docs/report.pdf"].content, "payload");
  EXPECT_FALSE(after["docs/report.pdf"].read_only);
  r = Qef({"extract", At("a.qef"), "-C", At("t2"), "--overwrite-read-only", "--password-file", pw});
  EXPECT_TRUE(OneErrorLine(r, kCannotOpen));
  EXPECT_TRUE(Contains(r.err, "docs/z-later.txt: a folder is in the way")) << r.err;
  EXPECT_EQ(TakeSnapshot(dir_.Sub("t2/")), before);
  for (const char* other : {"--keep-existing", "--skip-existing"})
    EXPECT_EQ(
        Qef({"extract", At("a.qef"), "-C", At("t3"), "--overwrite-read-only", other, "--password-file", pw}).status, 2)
        << other;
}

// A failed extraction names the item, what could not be done and, where the system
// gave one, its reason; the code stays 204 and the target is left as it was.
TEST_F(Tool, ExtractFailuresNameTheItemAndWhy) {
  WriteFileBytes(dir_.Sub("data.txt"), "payload");
  PropertyList content;
  Value docs = FileItem("", "docs", dir_.Sub("data.txt"));
  docs.GetFsItem()->PutByte(kItemKind, 1, 1);
  content.Append(docs);
  content.Append(FileItem("docs/", "report.pdf", dir_.Sub("data.txt")));
  ASSERT_EQ(WriteContainer(dir_.Sub("a.qef"), Text(kPassword), content, PackOptions()), 0);
  PropertyList long_content;
  std::string long_name = std::string(300, 'n') + ".txt";
  long_content.Append(FileItem("", long_name.c_str(), dir_.Sub("data.txt")));
  ASSERT_EQ(WriteContainer(dir_.Sub("long.qef"), Text(kPassword), long_content, PackOptions()), 0);
  // A run that has made folders and files 1000 characters deep before it fails is
  // rolled back whole.
  std::string deep_folder = Chain(10, 99, "level");
  PropertyList deep_content;
  Value chain = FileItem(deep_folder.c_str(), "", dir_.Sub("data.txt"));
  chain.GetFsItem()->PutByte(kItemKind, 1, 1);
  deep_content.Append(chain);
  deep_content.Append(FileItem(deep_folder.c_str(), "first.txt", dir_.Sub("data.txt")));
  deep_content.Append(FileItem(deep_folder.c_str(), long_name.c_str(), dir_.Sub("data.txt")));
  ASSERT_EQ(WriteContainer(dir_.Sub("deep-long.qef"), Text(kPassword), deep_content, PackOptions()), 0);
  FileInfo read_only;
  read_only.attributes = kAttrReadOnly;

  struct Case {
    const char* what;
    const char* archive;
    std::function<void(const Text& target)> prepare;
    const char* option;
    std::string said;
  } cases[] = {
      {"a folder in the way", "a.qef", [](const Text& t) { CreateFolder(Text::Concat(t, "docs/report.pdf/")); }, "",
       "qef: docs/report.pdf: a folder is in the way (code 204)"},
      {"a read-only file", "a.qef",
       [&](const Text& t) {
         CreateFolder(Text::Concat(t, "docs/"));
         WriteFileBytes(Text::Concat(t, "docs/report.pdf"), "old");
         ApplyFileInformation(Text::Concat(t, "docs/report.pdf"), read_only);
       },
       "",
       "qef: docs/report.pdf: the file exists and is read-only (--overwrite-read-only replaces it, --skip-existing "
       "leaves existing files as they are)"},
      {"--keep-existing", "a.qef",
       [](const Text& t) {
         CreateFolder(Text::Concat(t, "docs/"));
         WriteFileBytes(Text::Concat(t, "docs/report.pdf"), "old");
       },
       "--keep-existing", "qef: docs/report.pdf: exists and --keep-existing was given (code 204)"},
      {"a file in the way of its folder", "a.qef", [](const Text& t) { WriteFileBytes(Text::Concat(t, "docs"), "x"); },
       "", "qef: docs/report.pdf: a file is in the way of a folder (code 204)"},
      {"a name too long for the system", "long.qef", [](const Text&) {}, "",
       "qef: " + long_name + ": cannot create the file: "},
      {"a name too long for the system, deep down", "deep-long.qef", [](const Text&) {}, "",
       "qef: " + deep_folder + long_name + ": cannot create the file: "},
  };
  int n = 0;
  for (const Case& c : cases) {
    std::string target = "t" + std::to_string(++n);
    Text t = dir_.Sub((target + "/").c_str());
    ASSERT_EQ(CreateFolder(t), 0);
    c.prepare(t);
    test::Snapshot before = TakeSnapshot(t);
    std::vector<std::string> args = {"extract",          At(c.archive),     "-C",
                                     At(target.c_str()), "--password-file", At("pw.txt")};
    if (*c.option != 0) args.push_back(c.option);
    RunResult r = Qef(args);
    EXPECT_TRUE(OneErrorLine(r, kCannotOpen)) << c.what;
    EXPECT_TRUE(Contains(r.err, c.said)) << c.what << ": " << r.err;
    EXPECT_EQ(TakeSnapshot(t), before) << c.what;
  }
}

// Trees deeper than the old MAX_PATH limit go both ways: packed by qef from the deep
// folder and extracted in this process, and packed in this process and extracted by
// qef, each compared exactly with the source (content, read-only, times).
TEST_F(Tool, DeepTreesRoundTripExactly) {
  const char* page = kWindows ? "1252" : "raw";  // this process names files in 1252 under Wine
  const std::string umlauts = kWindows ? "Gr\xFC\xDF"
                                         "e"
                                       : "Gr\xC3\xBC\xC3\x9F"
                                         "e";
  struct Row {
    const char* what;
    std::string folder;  // below src/
    std::string name;
  } rows[] = {
      {"a file 300 characters deep", Chain(6, 50, "level"), "deep.txt"},
      {"a file 1000 characters deep", Chain(10, 99, "level"), "deep.txt"},
      {"a chain of 60 folders", Chain(60, 3, "d"), "deep.txt"},
      {"names of 255 characters", std::string(255, 'n') + "/", std::string(251, 'f') + ".txt"},
      {"non-ASCII names deep down", Chain(5, 60, umlauts), umlauts + ".txt"},
  };
  FileInfo read_only;
  read_only.attributes = kAttrReadOnly;
  read_only.has_written = true;
  read_only.written = kWrittenTime;
  FileInfo plain;
  plain.has_written = true;
  plain.written = kWrittenTime + 10000000;
  int n = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Text root = dir_.Sub(("deep" + std::to_string(++n) + "/").c_str());
    Text src = Text::Concat(root, "src/");
    Text deep = Text::Concat(src, row.folder.c_str());
    WriteDeep(Text::Concat(deep, row.name.c_str()), Data(70000), read_only);
    WriteDeep(Text::Concat(deep, "second.txt"), "second", plain);
    WriteDeep(Text::Concat(src, "top.txt"), "top", plain);
    test::Snapshot source = TakeSnapshot(src);
    ASSERT_EQ(source.size(), 3u + std::count(row.folder.begin(), row.folder.end(), '/')) << test::Describe(source);

    std::string packed = Text::Concat(root, "a.qef").Str();
    RunResult r = Qef(
        {"pack", StripTrailingSeparator(src).Str(), "-o", packed, "--password-file", At("pw.txt"), "--codepage", page});
    ASSERT_EQ(r.status, 0) << r.err;
    Text mine = Text::Concat(root, "mine/");
    ASSERT_EQ(CreateFolder(mine), 0);
    ExtractEngine engine;
    EXPECT_EQ(ExtractContainer(engine, Text(packed.c_str()), Text(kPassword), mine, nullptr), 0);
    EXPECT_EQ(TakeSnapshot(Text::Concat(mine, "src/")), source);

    PropertyList content;
    ASSERT_EQ(CollectSources({StripTrailingSeparator(src)}, content, nullptr, nullptr), 0);
    Text ours = Text::Concat(root, "b.qef");
    ASSERT_EQ(WriteContainer(ours, Text(kPassword), content, PackOptions()), 0);
    std::string theirs = Text::Concat(root, "theirs").Str();
    r = Qef({"extract", ours.Str(), "-C", theirs, "--password-file", At("pw.txt"), "--codepage", page});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(TakeSnapshot(Text::Concat(root, "theirs/src/")), source);
  }
}

// A file and a folder of the same name: the folder after the file cannot be made,
// which the run tells, naming it; the file after the folder fails the run.
TEST_F(Tool, AFileAndAFolderOfOneNameAreTold) {
  WriteFileBytes(dir_.Sub("data.txt"), "payload");
  Value folder = FileItem("", "x", dir_.Sub("data.txt"));
  folder.GetFsItem()->PutByte(kItemKind, 1, 1);
  PropertyList file_first, folder_first;
  file_first.Append(FileItem("", "x", dir_.Sub("data.txt")));
  file_first.Append(folder);
  folder_first.Append(folder);
  folder_first.Append(FileItem("", "x", dir_.Sub("data.txt")));
  ASSERT_EQ(WriteContainer(dir_.Sub("ff.qef"), Text(kPassword), file_first, PackOptions()), 0);
  ASSERT_EQ(WriteContainer(dir_.Sub("df.qef"), Text(kPassword), folder_first, PackOptions()), 0);

  RunResult r = Qef({"extract", At("ff.qef"), "-C", At("t1"), "--password-file", At("pw.txt")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Contains(r.err, "qef: warning: x/: a file is in the way of a folder; the folder was not made")) << r.err;
  EXPECT_TRUE(Contains(r.out, "Extracted 1 file and 0 folders")) << r.out;
  EXPECT_EQ(test::ReadFileBytes(dir_.Sub("t1/x")), "payload");

  r = Qef({"extract", At("df.qef"), "-C", At("t2"), "--password-file", At("pw.txt")});
  EXPECT_TRUE(OneErrorLine(r, kCannotOpen));
  EXPECT_TRUE(Contains(r.err, "qef: x: a folder is in the way (code 204)")) << r.err;
}

// Where the volume does not tell case apart (Windows; Wine's drives), a later item
// whose path differs only in case replaces the file an earlier one made: a warning
// names both, a few of them and then how many more, and the summary counts them.
// Where case counts, each is its own file and nothing is said.
TEST_F(Tool, FilesReplacedUnderAnotherSpellingAreTold) {
  WriteFileBytes(dir_.Sub("first.txt"), "first");
  WriteFileBytes(dir_.Sub("later.txt"), "later");
  const bool folds = FileExists(dir_.Sub("LATER.TXT"));
  PropertyList content;
  for (int i = 0; i < 7; ++i) {
    std::string name = "Note" + std::to_string(i) + ".txt", lower = "note" + std::to_string(i) + ".txt";
    content.Append(FileItem("", name.c_str(), dir_.Sub("first.txt")));
    content.Append(FileItem("", lower.c_str(), dir_.Sub("later.txt")));
  }
  ASSERT_EQ(WriteContainer(dir_.Sub("c.qef"), Text(kPassword), content, PackOptions()), 0);
  RunResult r = Qef({"extract", At("c.qef"), "-C", At("t"), "--password-file", At("pw.txt")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, "Extracted 14 files and 0 folders")) << r.out;
  if (folds) {
    EXPECT_TRUE(Contains(r.err,
                         "qef: warning: note0.txt replaced Note0.txt, extracted earlier in this run: the "
                         "system takes both names for one file"))
        << r.err;
    EXPECT_TRUE(Contains(r.err, "note4.txt replaced Note4.txt") && !Contains(r.err, "note5.txt replaced")) << r.err;
    EXPECT_TRUE(Contains(r.err, "qef: warning: 2 more files were replaced by a later one under another spelling"))
        << r.err;
    EXPECT_TRUE(Contains(r.out, "; 7 files replaced by a later one under another spelling of their names")) << r.out;
    EXPECT_EQ(test::ReadFileBytes(dir_.Sub("t/note6.txt")), "later");
  } else {
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(Contains(r.out, "spelling")) << r.out;
    EXPECT_EQ(TakeSnapshot(dir_.Sub("t/")).size(), 14u);
  }
}

// Without -C, an archive of one top-level item puts that item itself beside the archive
// (doc.qef holding doc/ gives doc/, not doc/doc/); any other gives a folder named after
// the archive. A name that is taken is numbered, as the stub numbers its proposal, and
// the run says where the items went; a run that fails leaves nothing beside the archive.
TEST_F(Tool, ExtractsBesideTheArchiveByDefault) {
  std::string pw = At("pw.txt");
  ASSERT_EQ(CreateFolder(dir_.Sub("in/doc/sub/")), 0);
  WriteFileBytes(dir_.Sub("in/doc/sub/notes.txt"), "notes");
  WriteFileBytes(dir_.Sub("in/report.pdf"), "report");
  WriteFileBytes(dir_.Sub("in/big.bin"), Data(3000000));
  ASSERT_EQ(CreateFolder(dir_.Sub("out/")), 0);
  struct Row {
    const char* archive;
    std::vector<const char*> sources;  // below in/
    const char* first;                 // a file the first run makes, below out/
    const char* second;                // the same file from the second run
    const char* summary;               // where the first run's summary says the items went
  } rows[] = {
      {"doc.qef", {"doc"}, "doc/sub/notes.txt", "doc (1)/sub/notes.txt", "into "},
      {"report.qef", {"report.pdf"}, "report.pdf", "report (1).pdf", "as "},
      {"two.qef", {"doc", "report.pdf"}, "two/doc/sub/notes.txt", "two (1)/doc/sub/notes.txt", "into "},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.archive);
    std::vector<std::string> pack = {"pack"};
    for (const char* source : row.sources) pack.push_back(At((std::string("in/") + source).c_str()));
    std::string archive = At((std::string("out/") + row.archive).c_str());
    pack.insert(pack.end(), {"-o", archive, "--password-file", pw});
    ASSERT_EQ(Qef(pack).status, 0);
    RunResult r = Qef({"extract", archive, "--password-file", pw});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(FileExists(dir_.Sub((std::string("out/") + row.first).c_str())))
        << test::Describe(TakeSnapshot(dir_.Sub("out/")));
    std::string top = std::string(row.first).substr(0, std::string(row.first).find('/'));
    EXPECT_TRUE(Contains(r.out, std::string(row.summary) + At("out/") + top)) << r.out;

    r = Qef({"extract", archive, "--password-file", pw});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(FileExists(dir_.Sub((std::string("out/") + row.second).c_str())));
    std::string second = std::string(row.second).substr(0, std::string(row.second).find('/'));
    EXPECT_TRUE(
        Contains(r.err, "qef: warning: " + At("out/") + top + " exists, so the items went to " + At("out/") + second))
        << r.err;
  }

  // A run that fails, here after it has written files, leaves the folder as it was.
  ASSERT_EQ(Qef({"pack", At("in/report.pdf"), At("in/big.bin"), "-o", At("out/big.qef"), "--compression", "store",
                 "--password-file", pw})
                .status,
            0);
  std::string bytes = test::ReadFileBytes(dir_.Sub("out/big.qef"));
  bytes[bytes.size() - 1000] ^= 0x55;
  WriteFileBytes(dir_.Sub("out/big.qef"), bytes);
  test::Snapshot before = TakeSnapshot(dir_.Sub("out/"));
  RunResult r = Qef({"extract", At("out/big.qef"), "--password-file", pw});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(TakeSnapshot(dir_.Sub("out/")), before);
}

// Patterns choose what extract, list and test take (a folder takes what is inside it);
// --exclude and --exclude-from leave out what they match when packing; -v names each
// item on standard output.
TEST_F(Tool, PatternsChooseWhatIsPackedAndExtracted) {
  MakeSource(dir_);
  std::string pw = At("pw.txt");
  WriteFileBytes(dir_.Sub("src/nested/build.o"), "object");
  WriteFileBytes(dir_.Sub("patterns.txt"), "*.o\r\n\nempty\n");
  RunResult r = Qef({"pack", At("src"), "--exclude", "readonly.txt", "--exclude-from", At("patterns.txt"), "-v", "-o",
                     At("p.qef"), "--password-file", pw});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, "src/nested/deeper/notes.txt") && Contains(r.out, "src/nested/deeper/")) << r.out;
  r = Qef({"list", At("p.qef"), "--password-file", pw});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* gone : {"readonly.txt", "build.o", "src/empty/"}) EXPECT_FALSE(Contains(r.out, gone)) << gone;
  EXPECT_TRUE(Contains(r.out, "src/nested/data.bin")) << r.out;

  struct Case {
    std::vector<std::string> patterns;
    std::vector<const char*> present;
    std::vector<const char*> absent;
  } cases[] = {
      {{"src/nested"}, {"src/nested/data.bin", "src/nested/deeper/notes.txt"}, {"src/empty.txt"}},
      {{"src/nested/deeper/"}, {"src/nested/deeper/notes.txt"}, {"src/nested/data.bin"}},
      {{"*.txt"}, {"src/empty.txt", "src/nested/deeper/notes.txt"}, {"src/nested/data.bin"}},
      {{"src/?mpty.txt", "*/data.bin"}, {"src/empty.txt", "src/nested/data.bin"}, {"src/nested/deeper/notes.txt"}},
  };
  int n = 0;
  for (const Case& c : cases) {
    std::string target = "x" + std::to_string(++n);
    std::vector<std::string> args = {"extract", At("p.qef")};
    args.insert(args.end(), c.patterns.begin(), c.patterns.end());
    for (const char* more : {"-C", "", "--password-file", "", "-v"}) args.push_back(more);
    args[args.size() - 4] = At(target.c_str());
    args[args.size() - 2] = pw;
    r = Qef(args);
    ASSERT_EQ(r.status, 0) << c.patterns[0] << ": " << r.err;
    for (const char* p : c.present) {
      EXPECT_TRUE(FileExists(dir_.Sub((target + "/" + p).c_str()))) << c.patterns[0] << ": " << p;
      EXPECT_TRUE(Contains(r.out, p)) << r.out;  // "\r\n" ends the line on Windows
    }
    for (const char* p : c.absent) {
      EXPECT_FALSE(FileExists(dir_.Sub((target + "/" + p).c_str()))) << c.patterns[0] << ": " << p;
      EXPECT_FALSE(Contains(r.out, p)) << r.out;
    }
    args[0] = "list";
    args.erase(args.end() - 5, args.end() - 3);  // list takes no -C
    args.pop_back();
    r = Qef(args);
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char* p : c.present) EXPECT_TRUE(Contains(r.out, p)) << r.out;
    for (const char* p : c.absent) EXPECT_FALSE(Contains(r.out, p)) << r.out;
  }
}

struct Seen {
  std::vector<std::string> names;
};

// Opens a container as the stub does, with the password's bytes as its system types them.
int32_t VerifyAsTheStub(const Text& container, const char* password, Seen& seen) {
  ExtractOptions verify;
  verify.action = ItemAction::kVerify;
  verify.observer = [](const ItemHeader& item, bool, void* user) {
    static_cast<Seen*>(user)->names.push_back(item.name.Str());
  };
  verify.observer_user = &seen;
  ExtractEngine engine;
  return ExtractContainer(engine, container, Text(password), Text(), nullptr, &verify);
}

// Names, texts and the password are typed as UTF-8 and reach the stub in its code
// page, texts with CRLF line ends; --codepage raw passes the bytes unchanged.
TEST_F(Tool, NamesTextsAndPasswordReachTheStubInItsCodePage) {
  ASSERT_EQ(CreateFolder(dir_.Sub("one/")), 0);
  WriteFileBytes(Text::Concat(dir_.Sub("one/"), kLocalName), "x");
  WriteFileBytes(dir_.Sub("info.txt"),
                 "\xEF\xBB\xBFGr\xC3\xBC\xC3\x9F"
                 "e\nzwei\n");
  // The password through QEF_PASSWORD, in the form the environment gives it.
  test::SetVariable(kPasswordVariable, kWindows ? "p\xE4ssw\xF6rt und mehr" : "p\xC3\xA4ssw\xC3\xB6rt und mehr");
  RunResult r = Qef({"pack", At("one"), "-o", At("p.exe"), "--stub", Stub(), "--info", At("info.txt"), "--link",
                     "https://example.org/d\xC3\xA9j\xC3\xA0"});
  ASSERT_EQ(r.status, 0) << r.err;

  std::string program = test::ReadFileBytes(dir_.Sub("p.exe"));
  const unsigned char* block = nullptr;
  uint32_t length = 0;
  Text message;
  ASSERT_EQ(FindSectionInFile(reinterpret_cast<const unsigned char*>(program.data()), program.size(), kPayloadRva,
                              &block, &length, message),
            0);
  PayloadView view;
  ASSERT_EQ(ParsePayloadBlock(block, length, view), 0);
  EXPECT_STREQ(view.info.Str(),
               "Gr\xFC\xDF"
               "e\r\nzwei\r\n");
  if (!kWindows) {  // the command line of a Windows program is already in its code page
    EXPECT_STREQ(view.link.Str(), "https://example.org/d\xE9j\xE0");
  }
  WriteFileBytes(dir_.Sub("c.qef"), std::string(reinterpret_cast<const char*>(view.container), view.container_length));
  Seen seen;
  EXPECT_EQ(VerifyAsTheStub(dir_.Sub("c.qef"), "p\xE4ssw\xF6rt und mehr", seen), 0);
  EXPECT_EQ(seen.names, (std::vector<std::string>{"one", kStoredName}));
  EXPECT_EQ(VerifyAsTheStub(dir_.Sub("c.qef"), "p\xC3\xA4ssw\xC3\xB6rt und mehr", seen), kWrongPassword);

  r = Qef({"pack", At("one"), "-o", At("raw.qef"), "--codepage", "raw"});
  ASSERT_EQ(r.status, 0) << r.err;
  Seen raw;
  // Raw: the password's bytes as typed (UTF-8), the names' as qef has them: UTF-8 on
  // every system, Windows included.
  EXPECT_EQ(VerifyAsTheStub(dir_.Sub("raw.qef"), "p\xC3\xA4ssw\xC3\xB6rt und mehr", raw), 0);
  EXPECT_EQ(raw.names, (std::vector<std::string>{"one",
                                                 "Gr\xC3\xBC\xC3\x9F"
                                                 "e.txt"}));
  test::SetVariable(kPasswordVariable, nullptr);
}

// --stub takes a program of either kind, and info says which kind a program is.
TEST_F(Tool, InfoNamesTheKindOfProgram) {
  WriteFileBytes(dir_.Sub("f.txt"), "f");
  for (bool pe32_plus : {false, true}) {
    test::TestImageShape shape;
    shape.pe32_plus = pe32_plus;
    test::Bytes image = test::MakeTestImage(shape);
    WriteFileBytes(dir_.Sub("kind.exe"), std::string(image.begin(), image.end()));
    RunResult r =
        Qef({"pack", At("f.txt"), "-o", At("made.exe"), "--stub", At("kind.exe"), "--password-file", At("pw.txt")});
    ASSERT_EQ(r.status, 0) << r.err;
    r = Qef({"info", At("made.exe")});
    EXPECT_TRUE(Contains(r.out, pe32_plus ? "64-bit Windows (PE32+)" : "32-bit Windows (PE32)")) << r.out;
  }
}

// Without --stub, --windows picks the built-in stub of its kind (32 by default) beside
// the tool, and nowhere else: a copy of the tool in a folder of its own finds none and
// says where it looked, then finds the stubs this tree's builds made once they are put
// beside it. A kind that was not built is skipped.
TEST_F(Tool, PacksTheDefaultStubWithoutStub) {
  struct Case {
    const char* windows;
    const char* stub;
    const char* name;
    const char* kind;
  } cases[] = {
      {"32", QEF_DEFAULT_STUB32, "qef-stub.exe", "32-bit Windows (PE32)"},
      {"64", QEF_DEFAULT_STUB64, "qef-stub64.exe", "64-bit Windows (PE32+)"},
  };
  WriteFileBytes(dir_.Sub("f.txt"), "f");
  ASSERT_EQ(CreateFolder(dir_.Sub("bin/")), 0);
  std::string tool = At("bin/") + tool_.substr(tool_.find_last_of("\\/") + 1);
  std::error_code ec;
  std::filesystem::copy_file(tool_, tool, ec);
  ASSERT_FALSE(ec) << ec.message();
  RunResult alone = test::RunProgram(tool, {"pack", At("f.txt"), "-o", At("d.exe"), "--password-file", At("pw.txt")});
  EXPECT_TRUE(OneErrorLine(alone, kCannotOpen));
  EXPECT_TRUE(Contains(alone.err, "qef-stub.exe") && Contains(alone.err, "--stub")) << alone.err;

  int built = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.windows);
    std::string bytes = test::ReadFileBytes(Text(test::BuiltPath(c.stub).c_str()));
    if (bytes == "<missing>") continue;
    ++built;
    ASSERT_TRUE(WriteFileBytes(Text::Concat(dir_.Sub("bin/"), c.name), bytes));
    std::vector<std::string> args = {"pack", At("f.txt"), "-o", At("d.exe"), "--password-file", At("pw.txt")};
    if (c.windows[0] == '6') args.insert(args.end(), {"--windows", "64"});
    RunResult r = test::RunProgram(tool, args);
    ASSERT_EQ(r.status, 0) << r.err;
    r = Qef({"info", At("d.exe")});
    EXPECT_TRUE(Contains(r.out, "Stub:           " + std::to_string(bytes.size()) + " bytes")) << r.out;
    EXPECT_TRUE(Contains(r.out, c.kind)) << r.out;
  }
  if (built == 0) GTEST_SKIP() << "no stub built at " << QEF_DEFAULT_STUB32 << " or " << QEF_DEFAULT_STUB64;
}

// The minimal test stub prints what it finds at its payload address when it runs.
TEST_F(Tool, WineLoadsAProgramItMade) {
  if (std::string(QEF_MINI_STUB).empty()) GTEST_SKIP() << "the minimal stub is a Windows program";
  WriteFileBytes(dir_.Sub("f.txt"), "f");
  WriteFileBytes(dir_.Sub("info.txt"), "Hello");
  RunResult r = Qef({"pack", At("f.txt"), "-o", At("run.exe"), "--stub", Stub(), "--info", At("info.txt"), "--link",
                     "https://example.org/", "--password-file", At("pw.txt")});
  ASSERT_EQ(r.status, 0) << r.err;
  r = test::RunProgram(At("run.exe"), {});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(Contains(r.out, "info=Hello link=https://example.org/ disclaimer= picture=0")) << r.out;
}

}  // namespace
}  // namespace qef
