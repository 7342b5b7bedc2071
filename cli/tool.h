#pragma once
// What the tool's commands share: exit statuses, the one error line, warnings, the
// password, and following a run's progress.
#include <cstdint>
#include <vector>

#include "cli/codepage.h"
#include "cli/progress_bar.h"
#include "cli/signing.h"
#include "core/error.h"
#include "core/format.h"
#include "core/progress.h"
#include "core/stream.h"
#include "core/text.h"

namespace qef {

enum ExitStatus : int {
  kExitOk = 0,
  kExitFailed = 1,  // the run failed; one error line says why
  kExitUsage = 2,   // the command line is wrong; a hint says where to look
};

// Prints "qef: <detail or the code's meaning> (code N)" on standard error; answers
// kExitFailed.
int Fail(int32_t code, const Text& detail = Text());
// The same for a failure with its context: "qef: <path>: <action>: <reason> (code N)",
// the path's control characters escaped.
int Fail(const ErrorInfo& error);
// Prints "qef: warning: <text>" on standard error.
void Warn(const Text& text);
// Warns of the files that runs which were stopped outright left in these folders
// (internal form, ending in '/'), naming each and saying how to clear them. They are
// not removed: the run that made them may still be going on. Paths in `told` (files
// this run has already named) are left out.
void WarnOfLeftovers(const std::vector<Text>& folders, const std::vector<Text>& told = {});
// Prints a line on standard output unless quiet.
void Say(bool quiet, const Text& line);
// "1 file and 2 folders (3.0 KiB)": what a run packed, extracted or checked.
Text DescribeItems(uint32_t files, uint32_t folders, uint64_t bytes);

// Options of every command that reads or writes an archive's content.
struct CommonOptions {
  Text password_file;  // empty: QEF_PASSWORD, then the terminal
  CodePage page;
  bool quiet = false;
};

// The password in the archive's code page: asked twice on the terminal when
// `confirm`; `characters` receives its length in characters as typed. 0, or a code
// with a message (a character the code page cannot hold is refused with kBadArgument).
int32_t GetPassword(const CommonOptions& common, bool confirm, Text& password, int32_t& characters, Text& message);

// Follows the progress messages of one run: folds them into one value, draws the bar
// (on a terminal, unless quiet) and answers kCancelled once the user pressed Ctrl-C,
// which ends the run through its own clean-up.
class ProgressView {
 public:
  explicit ProgressView(bool quiet);
  ProgressView(const ProgressView&) = delete;
  ProgressView& operator=(const ProgressView&) = delete;

  void Start(uint64_t total_bytes);
  void Finish(bool completed) { bar_.Finish(completed); }
  const ProgressCallback* Callback() const { return &callback_; }

 private:
  static int32_t OnMessage(int32_t message, int32_t value, uintptr_t self, uintptr_t);

  ProgressTracker tracker_;
  ProgressBar bar_;
  ProgressCallback callback_;
};

// Options of the commands, as the command line gave them.
struct PackRequest {
  std::vector<Text> sources;
  Text output;
  bool program = false;  // output ends in .exe
  Text stub;             // empty: the built-in stub of the kind `windows` names
  int32_t windows = 32;  // the built-in stub: 32-bit or 64-bit Windows
  Text info_file, disclaimer_file, picture_file;
  Text link;
  uint8_t cipher_id = kAesCipher;
  uint8_t compression = kCompressionBest;
  int32_t jobs = 1;
  bool verbose = false;        // each item named on standard output
  bool dereference = false;    // links inside the sources packed as what they point to
  std::vector<Text> excludes;  // shell-style patterns of what to leave out
  Text exclude_from;           // a file of more such patterns, one a line; empty: none
  SigningOptions signing;      // a program signed as it is made
  CommonOptions common;
};

struct ReadRequest {
  Text archive;
  CommonOptions common;
  int32_t threads = 2;   // decoding threads: 2 reads ahead, 1 does not
  bool verbose = false;  // extract: each item named on standard output
  // Only the items these match (cli/pattern.h), each of which must match one; none:
  // every item.
  std::vector<Text> patterns;
  bool salvage = false;              // extract: keep every item that checks out, name the others
  bool overwrite_read_only = false;  // extract: replace existing read-only files too
};

int RunPack(const PackRequest& request);
// `directory` empty: beside the archive, its one top-level item itself, else a new
// folder named after it.
// What extraction does with a file that exists: replace it (as the stub does), refuse
// it and fail (--keep-existing), or leave it and go on (--skip-existing).
enum class Existing { kReplace, kKeep, kSkip };
int RunExtract(const ReadRequest& request, const Text& directory, Existing existing);
int RunList(const ReadRequest& request, bool json);
int RunTest(const ReadRequest& request);
int RunInfo(const Text& archive, const CodePage& page);

}  // namespace qef
