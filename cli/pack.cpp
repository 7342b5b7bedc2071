// qef pack: sources into a container file, or into a self-extracting program (the
// stub with a payload block appended). Everything that can be refused is checked
// before anything is written; the output appears only when it is complete.
#include <algorithm>
#include <cstdio>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "cli/archive.h"
#include "cli/bitmap.h"
#include "cli/console.h"
#include "cli/names.h"
#include "cli/pattern.h"
#include "cli/signing.h"
#include "cli/tool.h"
#include "container/writer.h"
#include "core/error.h"
#include "core/result.h"
#include "fs/file_stream.h"
#include "fs/fs.h"
#include "fs/path.h"
#include "fs/temp_file.h"
#include "sfx/payload.h"
#include "sfx/pe_image.h"

namespace qef {

namespace {

using Bytes = std::vector<unsigned char>;

const int32_t kShortPassword = 10;
// The built-in stubs beside the tool, by kind.
const char kStubName32[] = "qef-stub.exe";
const char kStubName64[] = "qef-stub64.exe";

struct Skip {
  Text path;
  Text why;
};

void NoteSkip(const Text& path, const char* why, void* user) {
  static_cast<std::vector<Skip>*>(user)->push_back(Skip{path, Text(why)});
}

void Assign(Bytes& bytes, const Text& text) { bytes.assign(text.Str(), text.Str() + text.GetLength()); }

// A text file for the stub: UTF-8 (a byte order mark is dropped), its line ends made
// CRLF for the stub's edit fields, then in the archive's code page.
int32_t ReadText(const char* what, const Text& file, const CodePage& page, Bytes& out, Text& message) {
  Bytes bytes;
  int32_t r = ReadWholeFile(file, bytes);
  if (r != kOk) {
    message.Format("cannot read the %s file %s: %s", what, file.Str(), WhyNotAFile(file));
    return r;
  }
  size_t skip = bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF ? 3 : 0;
  Text utf8;
  char* d = utf8.GetBuffer(static_cast<int32_t>(bytes.size() - skip));
  if (d == nullptr) return kOutOfMemory;
  for (size_t i = skip; i < bytes.size(); ++i) {
    if (bytes[i] == 0) {
      message.Format("the %s (%s) holds a zero byte", what, file.Str());
      return kBadArgument;
    }
    *d++ = static_cast<char>(bytes[i]);
  }
  *d = 0;
  utf8.ReleaseBuffer();
  Text stored, why;
  r = FromUtf8(ToCrlf(utf8), page, stored, why);
  if (r != kOk) {
    message.Format("the %s (%s): %s", what, file.Str(), why.Str());
    return r;
  }
  Assign(out, stored);
  return kOk;
}

// The stub: --stub (either kind), else the built-in stub of the kind asked for:
// qef-stub.exe (32-bit) or qef-stub64.exe (64-bit), looked for beside this program
// (where a Windows build and the Windows zip place it), then in ../lib/qef/ from it
// (where an install under any prefix places it). The tool knows no build tree: a
// native build gets one with --stub.
int32_t ReadStub(const Text& given, int32_t windows, Bytes& stub, Text& message) {
  std::vector<Text> candidates;
  if (!given.IsEmpty()) {
    candidates.push_back(given);
  } else {
    Text self = ExecutablePath();
    const char* name = windows == 64 ? kStubName64 : kStubName32;
    if (!self.IsEmpty()) {
      candidates.push_back(Text::Concat(FolderOf(self), name));
      candidates.push_back(Text::Concat(FolderOf(self), Text::Concat("../lib/qef/", name)));
    }
  }
  Text tried;
  for (const Text& path : candidates) {
    if (!FileExists(path)) {
      if (!tried.IsEmpty()) tried.Append(", ");
      tried.Append(path);
      continue;
    }
    int32_t r = ReadWholeFile(path, stub);
    if (r != kOk) {
      message.Format("cannot read the stub %s: %s", path.Str(), WhyNotAFile(path));
      return r;
    }
    // A trial append with a one-byte block runs every check the real one will.
    Bytes trial = stub;
    Text why;
    r = AppendPayloadSection(trial, Bytes(1, 0), why);
    if (r != kOk) {
      message.Format("the stub %s cannot carry an archive: %s", path.Str(), why.Str());
      return r;
    }
    PeImageFacts facts;
    if (given.IsEmpty() && InspectPeImage(stub.data(), stub.size(), facts, why) == kOk &&
        facts.pe32_plus != (windows == 64)) {
      message.Format("the stub %s is not a %d-bit program", path.Str(), static_cast<int>(windows));
      return kBadArgument;
    }
    return kOk;
  }
  message.Format(
      "no %d-bit stub found (looked for %s); give --stub FILE, or put the %s preset's stub in one of those places",
      static_cast<int>(windows), tried.Str(), windows == 64 ? "win64" : "win32");
  return kCannotOpen;
}

// A source "." (or "x/.") is the folder itself, packed under its real name rather than
// as ".": "." is no name a reader can restore. ".." stays, for the name check to refuse.
Text WithRealName(const Text& given) {
  Text source = StripTrailingSeparator(given);
  while (source.Equals(".") || (source.GetLength() >= 2 && source.Right(2).Equals("/."))) {
    source = source.Equals(".") ? StripTrailingSeparator(CurrentFolder())
                                : StripTrailingSeparator(source.Left(source.GetLength() - 1));
    if (source.IsEmpty()) return given;
  }
  return source;
}

// Two sources of the same name would be extracted over each other; Windows does not
// tell upper from lower case.
int32_t CheckTopLevelNames(const PropertyList& content, Text& message) {
  std::vector<Text> names;
  for (int32_t i = 0; i < content.GetCount(); ++i) {
    const FsItem* item = content.At(i).GetFsItem();
    if (item == nullptr || !item->GetString(kItemFolder, "").IsEmpty()) continue;
    Text name = item->GetString(kItemName, "");
    for (const Text& seen : names) {
      if (seen.CompareNoCase(name.Str()) == 0) {
        message.Format("two sources are named \"%s\": they would be extracted over each other",
                       Escaped(name, false).Str());
        return kBadArgument;
      }
    }
    names.push_back(name);
  }
  return kOk;
}

struct Totals {
  uint32_t files = 0;
  uint32_t folders = 0;
  uint64_t bytes = 0;
};

// A source file whose size is not the one it had when the sources were collected, for
// the message of a run that ended because a file changed as it was read. Empty when
// none is found (it changed and changed back).
Text ChangedSource(const PropertyList& content, const std::vector<uint64_t>& sizes) {
  Text message;
  size_t file = 0;
  for (int32_t i = 0; i < content.GetCount() && message.IsEmpty(); ++i) {
    const FsItem* item = content.At(i).GetFsItem();
    if (item == nullptr || item->GetByte(kItemKind, 0) != 0 || file >= sizes.size()) continue;
    uint64_t now = 0;
    bool present = RegularFileSize(item->GetSourcePath(), now);
    if (!present)
      message.Format("%s: file changed as we read it (it is gone)", item->GetSourcePath().Str());
    else if (now != sizes[file])
      message.Format("%s: file changed as we read it (%llu bytes when packing began, %llu now)",
                     item->GetSourcePath().Str(), static_cast<unsigned long long>(sizes[file]),
                     static_cast<unsigned long long>(now));
    ++file;
  }
  return message;
}

// Every source file can be opened for reading: 0, or 204 with the first that cannot,
// named with the system's reason. Found out before the password is asked for and
// anything is written, rather than halfway through the archive.
int32_t OpenEverySource(const PropertyList& content, ErrorInfo& error) {
  for (int32_t i = 0; i < content.GetCount(); ++i) {
    const FsItem* item = content.At(i).GetFsItem();
    if (item == nullptr || item->GetByte(kItemKind, 0) != 0) continue;
    StreamParams params;
    FileStream file;
    if (file.Open(kModeReading, item->GetSourcePath(), &params) != kOk)
      return error.Set(kCannotOpen, item->GetSourcePath(), "cannot open the file", SystemErrorText(file.NativeError()));
  }
  return kOk;
}

// The output can be written: it is no folder, its folder exists (a mistyped folder is
// not made on the quiet), and a file can be made beside it, as writing it will. 0, or
// 204 with the reason, found before any source is read.
int32_t ProbeOutput(const Text& output, ErrorInfo& error) {
  if (FolderExists(AddTrailingSeparator(output)))
    return error.Set(kCannotOpen, output, "cannot create the file", "it is a folder");
  Text folder = FolderOf(output);
  if (!folder.IsEmpty() && !FolderExists(folder)) {
    Text why = FileExists(StripTrailingSeparator(folder)) ? Text::Concat(StripTrailingSeparator(folder), " is a file")
                                                          : Text::Concat(folder, " does not exist");
    return error.Set(kCannotOpen, output, "cannot create the file", why);
  }
  TempFile probe;  // discarded when it goes
  if (probe.Create(output) == kOk) return kOk;
  Text why = SystemErrorText(LastNativeError());
  return error.Set(kCannotOpen, output, "cannot create the file", why);
}

// An item's path as collected: local names, '/' between them, no '/' after a folder.
Text CollectedPath(const FsItem& item) {
  return StripTrailingSeparator(Text::Concat(item.GetString(kItemFolder, ""), item.GetString(kItemName, "")));
}

// The patterns of --exclude and of the lines of --exclude-from: 0, or the failure to
// read that file with the message.
int32_t ExcludePatterns(const PackRequest& q, std::vector<Text>& patterns, Text& message) {
  patterns = q.excludes;
  if (q.exclude_from.IsEmpty()) return kOk;
  std::vector<unsigned char> bytes;
  int32_t r = ReadWholeFile(q.exclude_from, bytes);
  if (r != kOk) {
    message.Format("cannot read the pattern file %s: %s", q.exclude_from.Str(), WhyNotAFile(q.exclude_from));
    return r;
  }
  std::string text(bytes.begin(), bytes.end());
  for (const Text& line : PatternLines(Text(text.c_str()))) patterns.push_back(line);
  return kOk;
}

// The content without what the patterns leave out, and without the output itself when
// it lies among the sources (an earlier run's archive), which is told.
int32_t Filter(PropertyList& content, const std::vector<Text>& patterns, const Text& output) {
  Folder output_folder;
  EntryInfo output_entry;
  Text output_name = StripTrailingSeparator(output);
  output_name = output_name.Right(output_name.GetLength() - output_name.ReverseFind('/') - 1);
  Text folder = FolderOf(output);
  if (output_folder.Open(folder.IsEmpty() ? Text("./") : folder) == kOk)
    output_entry = output_folder.Inspect(output_name);
  PropertyList kept;
  for (int32_t i = 0; i < content.GetCount(); ++i) {
    const FsItem* item = content.At(i).GetFsItem();
    if (item != nullptr) {
      Text path = CollectedPath(*item);
      bool excluded = false;
      for (const Text& pattern : patterns) excluded = excluded || ExcludesPath(pattern, path);
      if (excluded) continue;
      if (output_entry.kind == EntryInfo::kFile && item->GetByte(kItemKind, 0) == 0 &&
          item->GetString(kItemName, "").Equals(output_name.Str())) {
        Folder source_folder;
        if (source_folder.Open(FolderOf(item->GetSourcePath())) == kOk &&
            source_folder.Inspect(output_name).id == output_entry.id) {
          Warn(Text::Concat(Escaped(item->GetSourcePath(), false), " skipped: it is the output itself"));
          continue;
        }
      }
    }
    if (!kept.Append(content.At(i))) return kOutOfMemory;
  }
  content = kept;
  return kOk;
}

// Windows does not tell "Readme" from "README": two such names in one folder would
// be extracted over each other there.
void WarnOfCaseCollisions(const PropertyList& content) {
  std::map<std::string, std::string> seen;  // lower-cased path, as collected
  uint32_t told = 0;
  for (int32_t i = 0; i < content.GetCount(); ++i) {
    const FsItem* item = content.At(i).GetFsItem();
    // Sources of one name are refused on their own.
    if (item == nullptr || item->GetString(kItemFolder, "").IsEmpty()) continue;
    Text path = CollectedPath(*item), lower = path;
    lower.MakeLower();
    auto found = seen.find(lower.Str());
    if (found == seen.end()) {
      seen[lower.Str()] = path.Str();
    } else if (told++ < 5) {
      Warn(Text::Concat(
          Text::Concat(Escaped(Text(found->second.c_str()), false), Text::Concat(" and ", Escaped(path, false))),
          " differ only in case: extracted on Windows, one replaces the other"));
    }
  }
  if (told > 5) {
    Text more;
    more.Format("%lu more names differ only in case from another", static_cast<unsigned long>(told - 5));
    Warn(more);
  }
}

// The skipped entries, a few of each reason by name, then how many more; skipped links
// end with the option that packs what they point to.
void WarnOfSkips(const std::vector<Skip>& skips) {
  const size_t kNamed = 5;
  const char kLinkHint[] = "--dereference packs what links inside the sources point to";
  std::map<std::string, size_t> counts;
  for (const Skip& s : skips) {
    if (counts[s.why.Str()]++ < kNamed) Warn(Text::Concat(Escaped(s.path, false), Text::Concat(" skipped: ", s.why)));
  }
  for (const auto& count : counts) {
    bool links = count.first == "symbolic link";
    if (count.second <= kNamed) {
      if (links) Warn(kLinkHint);
      continue;
    }
    Text more;
    more.Format("%lu more skipped: %s", static_cast<unsigned long>(count.second - kNamed), count.first.c_str());
    if (links) more.Append(Text::Concat(" (", Text::Concat(kLinkHint, ")")));
    Warn(more);
  }
}

// The totals of the collected sources, and each file's size in order.
Totals Count(const PropertyList& content, std::vector<uint64_t>& sizes) {
  Totals t;
  for (int32_t i = 0; i < content.GetCount(); ++i) {
    const FsItem* item = content.At(i).GetFsItem();
    if (item == nullptr) continue;
    uint64_t size = 0;
    if (item->GetByte(kItemKind, 0) == 1) {
      ++t.folders;
    } else {
      ++t.files;
      if (RegularFileSize(item->GetSourcePath(), size)) t.bytes += size;
      sizes.push_back(size);
    }
  }
  return t;
}

// Sums or writes the program: the stub's edited image, the block's head, the container
// copied from its file in pieces, the block's tail and the padding after the block.
// With `out` null the pieces only go into the checksum.
int32_t EmitProgram(const Bytes& image, const Bytes& head, const Text& container, const Bytes& tail, uint32_t padding,
                    PeChecksumSum* sum, TempFile* out) {
  const size_t kPiece = 1u << 20;
  Bytes piece;
  try {
    piece.resize(kPiece);
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  }
  auto emit = [&](const unsigned char* data, size_t size) {
    if (sum != nullptr) sum->Add(data, size);
    return out != nullptr ? out->Write(data, size) : kOk;
  };
  int32_t r = emit(image.data(), image.size());
  if (r == kOk) r = emit(head.data(), head.size());
  StreamParams params;
  FileStream file;
  if (r == kOk) r = file.Open(kModeReading, container, &params);
  for (int64_t left = FileSize(container); r == kOk && left > 0;) {
    uint32_t n = static_cast<uint64_t>(left) < kPiece ? static_cast<uint32_t>(left) : static_cast<uint32_t>(kPiece);
    r = file.Read(piece.data(), n);
    if (r == kOk) r = emit(piece.data(), n);
    left -= n;
  }
  file.Close();
  if (r == kOk) r = emit(tail.data(), tail.size());
  std::fill(piece.begin(), piece.end(), 0);
  if (r == kOk) r = emit(piece.data(), padding);
  return r;
}

// The container goes to a file of its own beside the output first (its size goes into
// the block's head and the program's headers, and the checksum covers it), then it is
// copied into the program: memory stays bounded whatever the archive's size.
int32_t WriteProgram(const PackRequest& q, const Text& password, PropertyList& content, const PackOptions& options,
                     const PayloadContent& payload, Bytes& stub, const Text& signer, Text& message) {
  // A name of our own beside the output: the writer replaces the empty file there.
  TempFile container;
  int32_t r = container.Create(q.output);
  if (r == kOk) r = container.Close();
  const Text& temp = container.Name();
  if (r == kOk) r = WriteContainer(temp, password, content, options);
  if (r == kOk && WasInterrupted()) r = kCancelled;
  int64_t size = r == kOk ? FileSize(temp) : 0;
  Bytes head, tail;
  if (r == kOk && (size < 0 || !BuildPayloadParts(payload, static_cast<uint64_t>(size), head, tail))) {
    message = "the archive is too large for a self-extracting program";
    r = kUnsupported;
  }
  uint32_t padding = 0;
  if (r == kOk)
    r = PreparePayloadSection(stub, head.size() + static_cast<uint64_t>(size) + tail.size(), padding, message);
  PeChecksumSum sum;
  if (r == kOk) r = EmitProgram(stub, head, temp, tail, padding, &sum, nullptr);
  if (r == kOk) StorePeChecksum(stub, sum.Value());
  TempFile program;
  if (r == kOk) r = program.Create(q.output);
  if (r == kOk) r = EmitProgram(stub, head, temp, tail, padding, nullptr, &program);
  if (r == kOk && WasInterrupted()) r = kCancelled;
  if (r != kOk || signer.IsEmpty()) return r == kOk ? program.Keep() : r;

  // The signed program is made aside too, under a name nothing can foresee: osslsigncode
  // creates that file itself, as it refuses to write over one, so the name is taken
  // and let go. Only a complete signed program ever takes the output's name.
  r = program.Close();
  Text signed_name;
  if (r == kOk) {
    TempFile reserved;
    r = reserved.Create(q.output);
    if (r == kOk) signed_name = reserved.Name();
  }
  if (r == kOk) r = SignProgram(q.signing, signer, program.Name(), signed_name, message);
  // Ctrl-C reaches osslsigncode too, which then fails: the run was cancelled.
  if (WasInterrupted()) {
    r = kCancelled;
    message = Text();
  }
  if (r == kOk && !MoveIntoPlace(signed_name, q.output)) {
    message.Format("cannot put the signed program in place as %s", q.output.Str());
    r = kCannotOpen;
  }
  if (r != kOk && !signed_name.IsEmpty()) RemoveFile(signed_name);
  return r;
}

}  // namespace

int RunPack(const PackRequest& q) {
  const CodePage& page = q.common.page;
  PayloadContent payload;
  Bytes stub;
  Text message;
  ErrorInfo error;
  if (ProbeOutput(q.output, error) != kOk) return Fail(error);
  std::vector<Text> excludes;
  int32_t r = ExcludePatterns(q, excludes, message);
  if (r != kOk) return Fail(r, message);
  Text signer;  // osslsigncode's file, when the program is signed
  if (!q.signing.pkcs12.IsEmpty() && (r = PrepareSigning(q.signing, signer, message)) != kOk) return Fail(r, message);
  if (q.program) {
    if (!q.info_file.IsEmpty()) r = ReadText("info text", q.info_file, page, payload.info, message);
    if (r == kOk && !q.disclaimer_file.IsEmpty())
      r = ReadText("disclaimer", q.disclaimer_file, page, payload.disclaimer, message);
    if (r == kOk && !q.link.IsEmpty()) {
      Text utf8, stored, why;
      r = LocalToUtf8(q.link, utf8, why);
      if (r == kOk) r = FromUtf8(utf8, page, stored, why);
      if (r == kOk)
        Assign(payload.link, stored);
      else
        message.Format("the link: %s", why.Str());
    }
    if (r == kOk && !q.picture_file.IsEmpty()) {
      r = ReadWholeFile(q.picture_file, payload.picture);
      Text why;
      if (r != kOk)
        message.Format("cannot read the picture %s: %s", q.picture_file.Str(), WhyNotAFile(q.picture_file));
      else if ((r = CheckBitmap(payload.picture.data(), payload.picture.size(), why)) != kOk)
        message.Format("%s: %s", q.picture_file.Str(), why.Str());
    }
    if (r == kOk) r = ReadStub(q.stub, q.windows, stub, message);
    if (r != kOk) return Fail(r, message);
  }

  PropertyList content;
  std::vector<Skip> skips;
  std::vector<Text> sources;
  for (const Text& source : q.sources) sources.push_back(WithRealName(source));
  r = CollectSources(sources, content, &NoteSkip, &skips, &error,
                     q.dereference ? LinkPolicy::kFollowAll : LinkPolicy::kFollowNamed);
  if (r == kOk) r = Filter(content, excludes, q.output);
  if (r != kOk) return error.IsSet() ? Fail(error) : Fail(r);
  WarnOfSkips(skips);
  WarnOfCaseCollisions(content);
  std::vector<uint64_t> sizes;
  Totals totals = Count(content, sizes);
  if (totals.files == 0 && totals.folders == 0)
    return Fail(kBadArgument, Text("nothing to pack: every source was skipped or left out"));
  // Named as collected, before the names go into the code page.
  std::vector<Text> named;
  for (int32_t i = 0; q.verbose && i < content.GetCount(); ++i) {
    const FsItem* item = content.At(i).GetFsItem();
    if (item == nullptr) continue;
    named.push_back(Escaped(CollectedPath(*item), false));
    if (item->GetByte(kItemKind, 0) == 1) named.back().AppendChar('/');
  }
  std::vector<Text> refused;
  r = StoreNames(content, page, message, &refused);
  if (refused.size() > 1) {
    for (const Text& line : refused) Warn(line);
    message.Format("%lu names cannot be stored (named above)", static_cast<unsigned long>(refused.size()));
  }
  if (r == kOk) r = CheckTopLevelNames(content, message);
  if (r != kOk) return Fail(r, message);
  if (OpenEverySource(content, error) != kOk) return Fail(error);
  Text output_folder = FolderOf(q.output);
  WarnOfLeftovers({output_folder.IsEmpty() ? Text("./") : output_folder});

  Text password;
  int32_t characters = 0;
  r = GetPassword(q.common, true, password, characters, message);
  if (r != kOk) return Fail(r, message);
  // Every try at a longer password in the program would be "not correct".
  if (q.program && password.GetLength() > kProgramPasswordMax) {
    message.Format("the password is %i bytes long in the code page; a program takes at most %i",
                   static_cast<int>(password.GetLength()), static_cast<int>(kProgramPasswordMax));
    return Fail(kBadArgument, message);
  }
  if (characters < kShortPassword)
    Warn(
        "the password is shorter than 10 characters; the key is derived with a single unsalted SHA-1, "
        "so only a long password resists guessing");

  ProgressView progress(q.common.quiet || q.verbose);
  progress.Start(totals.bytes);
  PackOptions options;
  options.cipher_id = q.cipher_id;
  options.compression = q.compression;
  options.progress = progress.Callback();
  options.jobs = q.jobs;
  if (q.program)
    r = WriteProgram(q, password, content, options, payload, stub, signer, message);
  else
    r = WriteContainer(q.output, password, content, options);
  progress.Finish(r == kOk);
  // A source made unreadable since it was opened above.
  if (r == kCannotOpen && OpenEverySource(content, error) != kOk) return Fail(error);
  if (r == kShortRead) {
    message = ChangedSource(content, sizes);
    if (message.IsEmpty()) message = "a source file changed as it was read (it grew or shrank)";
  }
  if (r == kShortWrite) return Fail(error.Set(r, q.output, "cannot write the archive", "the disk is full"));
  if (r != kOk) return Fail(r, message);

  for (const Text& path : named) Say(q.common.quiet, path);
  Text summary;
  summary.Format("Packed %s into %s (%s)", DescribeItems(totals.files, totals.folders, totals.bytes).Str(),
                 q.output.Str(), FormatBytes(static_cast<uint64_t>(FileSize(q.output))).Str());
  Say(q.common.quiet, summary);
  return kExitOk;
}

}  // namespace qef
