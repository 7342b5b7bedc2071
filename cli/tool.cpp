#include "cli/tool.h"

#include <cstdio>

#include "cli/console.h"
#include "cli/error_line.h"
#include "cli/names.h"
#include "cli/password.h"
#include "core/result.h"
#include "fs/fs.h"
#include "fs/temp_file.h"

namespace qef {

int Fail(int32_t code, const Text& detail) {
  std::fprintf(stderr, "%s\n", ErrorLine(code, detail.Str()).Str());
  return kExitFailed;
}

int Fail(const ErrorInfo& error) {
  // The path may be a name from an archive or from a folder being packed: it is shown
  // with its control characters escaped, as every name the tool prints.
  ErrorInfo shown = error;
  shown.path = Escaped(error.path, false);
  std::fprintf(stderr, "%s\n", ErrorLine(shown).Str());
  return kExitFailed;
}

void Warn(const Text& text) { std::fprintf(stderr, "qef: warning: %s\n", text.Str()); }

// A new file a stopped run left is never anybody's only copy: it can go. A file set
// aside while it was being replaced may be: the warning says which file it was and how
// to put it back, and never tells to delete it. Files already told of (`told`) are
// not named again.
void WarnOfLeftovers(const std::vector<Text>& folders, const std::vector<Text>& told) {
  const size_t kNamed = 10;
  size_t new_files = 0, originals = 0;
  auto told_of = [&told](const Text& full) {
    for (const Text& t : told)
      if (t.Equals(full.Str())) return true;
    return false;
  };
  // An extraction without a target writes into a folder of a temporary name; stopped,
  // it leaves that folder with what it had extracted, all of it new.
  std::vector<Text> left_folders;
  for (const Text& folder : folders) {
    std::vector<Text> subfolders;
    for (const Text& name : FindTemporaryFiles(folder, &subfolders)) {
      Text full = Text::Concat(folder, name);
      if (told_of(full)) continue;
      Text original;
      Text path = Escaped(full, false);
      if (KindOfTemporaryName(name, &original) == TemporaryKind::kNewFile) {
        if (new_files++ < kNamed)
          Warn(Text::Concat(path,
                            " was left by a qef run that was stopped or is still going on: a new file it was writing"));
        continue;
      }
      ++originals;
      Text line;
      if (original.IsEmpty()) {
        line.Format(
            "%s was left by a qef run that was stopped: it is the original of a file in its folder that the run was "
            "replacing (its name was too long to keep), and may be the only copy; rename it back to the name it had",
            path.Str());
      } else {
        Text where = Escaped(Text::Concat(folder, original), false);
        line.Format(
            "%s was left by a qef run that was stopped: it is the original of %s, set aside while the run replaced "
            "it, and may be the only copy; %s",
            path.Str(), where.Str(),
            FileExists(Text::Concat(folder, original))
                ? "to keep it, rename it back over that file; delete it only if the file now there is the one you want"
                : "that file is missing now: rename this one back to its name");
      }
      Warn(line);
    }
    for (const Text& name : subfolders) {
      Text full = AddTrailingSeparator(Text::Concat(folder, name));
      if (!told_of(full)) left_folders.push_back(full);
    }
  }
  if (new_files > kNamed) {
    Text more;
    more.Format("and %lu more new files left so", static_cast<unsigned long>(new_files - kNamed));
    Warn(more);
  }
  if (new_files != 0)
    Warn(
        "files ending in .tmp are not removed, as the run that made them may still be going on; they are no one's "
        "only copy: once no qef run is using the folder, delete them");
  if (originals != 0)
    Warn("files with .orig in their name are originals: put them back as said above, never delete them unread");
  for (const Text& full : left_folders)
    Warn(
        Text::Concat(Escaped(full, false),
                     " was left by a qef extraction that was stopped or is still going on: a new folder it was "
                     "extracting into, holding nothing but what it extracted; once no qef run is using it, delete it"));
}

void Say(bool quiet, const Text& line) {
  if (!quiet) std::printf("%s\n", line.Str());
}

Text DescribeItems(uint32_t files, uint32_t folders, uint64_t bytes) {
  Text t;
  t.Format("%lu %s and %lu %s (%s)", static_cast<unsigned long>(files), files == 1 ? "file" : "files",
           static_cast<unsigned long>(folders), folders == 1 ? "folder" : "folders", FormatBytes(bytes).Str());
  return t;
}

int32_t GetPassword(const CommonOptions& common, bool confirm, Text& password, int32_t& characters, Text& message) {
  PasswordRequest request;
  request.password_file = common.password_file.IsEmpty() ? nullptr : common.password_file.Str();
  request.confirm = confirm;
  Text typed;
  int32_t r = ObtainPassword(request, typed, message);
  if (r != kOk) return r;
  characters = 0;
  for (int32_t i = 0; i < typed.GetLength(); ++i)
    if ((static_cast<unsigned char>(typed.GetAt(i)) & 0xC0) != 0x80) ++characters;  // not a UTF-8 continuation byte
  Text why;
  r = FromUtf8(typed, common.page, password, why, true);
  if (r != kOk) message.Format("the password: %s", why.Str());
  return r;
}

ProgressView::ProgressView(bool quiet) : bar_(!quiet && StandardErrorIsTerminal(), stderr, nullptr, TerminalColumns) {
  callback_.function = &ProgressView::OnMessage;
  callback_.user1 = reinterpret_cast<uintptr_t>(this);
}

void ProgressView::Start(uint64_t total_bytes) {
  tracker_.Reset();
  bar_.Start(total_bytes);
}

int32_t ProgressView::OnMessage(int32_t message, int32_t value, uintptr_t self, uintptr_t) {
  ProgressView& view = *reinterpret_cast<ProgressView*>(self);
  view.tracker_.Feed(message, value);
  view.bar_.Update(view.tracker_.GetOverall());
  return WasInterrupted() ? kCancelled : kOk;
}

}  // namespace qef
