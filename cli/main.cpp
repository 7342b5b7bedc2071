// The qef command line: reads the options with CLI11 and runs one command. CLI11
// reports a bad command line by throwing; that ends here, as exit status 2 with a
// hint, and nothing else in the tool throws.
#include <CLI/CLI.hpp>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "cli/codepage.h"
#include "cli/console.h"
#include "cli/tool.h"
#include "core/format.h"
#include "core/result.h"
#include "core/thread.h"
#include "fs/path.h"

namespace {

using namespace qef;

// Option values as CLI11 fills them.
struct Common {
  std::string password_file;
  std::string codepage = "1252";
  bool quiet = false;
};

const char kPasswordHelp[] =
    "The password comes from --password-file FILE (its first line; FILE '-' reads standard input), else from the "
    "environment variable QEF_PASSWORD, else from the terminal without echo. It is never taken on the command line.";

const char kExitHelp[] =
    "Exit status: 0 done; 1 the run failed, and one line on standard error says what failed, why, and the "
    "result code (for example 711: wrong password, 600: damaged, 208: cut short, 240: an unsafe name); 2 the "
    "command line is wrong. The README lists every code.";

void AddCommon(CLI::App* command, Common& common, bool with_password) {
  if (with_password) command->footer(std::string(kPasswordHelp) + "\n\n" + kExitHelp);
  if (with_password)
    command
        ->add_option("--password-file", common.password_file,
                     "read the password from the first line of FILE ('-': standard input)")
        ->type_name("FILE");
  command
      ->add_option("--codepage", common.codepage,
                   "Windows code page of names, texts and password in the archive, or raw")
      ->type_name("CP")
      ->capture_default_str();
  command->add_flag("-q,--quiet", common.quiet, "no progress bar and no summary");
}

int Usage(const std::string& given, const std::string& command) {
  // The parser's messages begin with a capital; the tool's own do not.
  std::string problem = given;
  if (problem.size() >= 2 && std::isupper(static_cast<unsigned char>(problem[0])) &&
      !std::isupper(static_cast<unsigned char>(problem[1])))
    problem[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(problem[0])));
  std::string hint = command.empty() ? "qef --help" : "qef " + command + " --help";
  std::fprintf(stderr, "qef: %s\nRun '%s' for usage.\n", problem.c_str(), hint.c_str());
  return kExitUsage;
}

// 0, or the usage status after saying what is wrong with the code page.
int ToCommon(const Common& given, const std::string& command, CommonOptions& common) {
  Text message;
  if (ParseCodePage(given.codepage.c_str(), common.page, message) != 0) return Usage(message.Str(), command);
  common.password_file = given.password_file.c_str();
  common.quiet = given.quiet;
  return kExitOk;
}

bool HasExtension(const std::string& path, const char* extension) {
  return ExtensionOf(Text(path.c_str())).CompareNoCase(extension) == 0;
}

// CLI11 takes a first word that names no command for a stray argument and asks for a
// command; the user should hear which word was not understood.
const char* UnknownCommand(int argc, char** argv) {
  if (argc < 2 || argv[1][0] == '-') return nullptr;
  for (const char* known : {"pack", "extract", "list", "test", "info"})
    if (std::strcmp(argv[1], known) == 0) return nullptr;
  return argv[1];
}

bool TriedPasswordArgument(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--password") == 0 || std::strncmp(argv[i], "--password=", 11) == 0) return true;
  return false;
}

int RunTool(int argc, char** argv) {
  CLI::App app{"Packs files into encrypted archives and self-extracting Windows programs, and opens them."};
  app.name("qef");
  app.require_subcommand(1);
  app.fallthrough(false);
  app.set_version_flag("--version", "qef " QEF_VERSION);
  app.footer(std::string(kPasswordHelp) + "\n\n" + kExitHelp);
  Common common;

  std::vector<std::string> sources, excludes;
  std::string exclude_from;
  bool verbose = false, dereference = false;
  std::string output, stub, info, link, disclaimer, picture, sign_pkcs12, sign_password_file, timestamp;
  std::string cipher = "aes", compression = "best", windows;
  int jobs = ProcessorCount();
  CLI::App* pack = app.add_subcommand("pack", "pack files and folders into a container (.qef) or a program (.exe)");
  pack->add_option("SOURCE", sources, "files and folders to pack (a link named here is followed)")->required();
  pack->add_option("-o,--output", output, "the archive to write: NAME.qef or NAME.exe")->type_name("FILE")->required();
  pack->add_option("--exclude", excludes,
                   "leave out what matches PATTERN (* ? [...]; a name without '/' matches at any depth)")
      ->type_name("PATTERN")
      ->allow_extra_args(false);
  pack->add_option("--exclude-from", exclude_from, "leave out what the patterns in FILE match, one a line")
      ->type_name("FILE");
  pack->add_flag("--dereference", dereference,
                 "pack what links inside the sources point to, files and folders, instead of skipping them (a link "
                 "to a folder it is inside is skipped)");
  pack->add_option("--cipher", cipher, "aes or blowfish")
      ->check(CLI::IsMember({"aes", "blowfish"}))
      ->capture_default_str();
  pack->add_option("--compression", compression, "best, fast or store")
      ->check(CLI::IsMember({"best", "fast", "store"}))
      ->capture_default_str();
  pack->add_option("--jobs", jobs, "chunks compressed at once (the output is the same for any number)")
      ->type_name("N")
      ->check(CLI::Range(1, 256))
      ->capture_default_str();
  pack->add_option("--stub", stub, "program: the stub to append the archive to (32-bit or 64-bit)")->type_name("FILE");
  pack->add_option("--windows", windows, "program: the built-in stub to use, 32-bit (default) or 64-bit")
      ->check(CLI::IsMember({"32", "64"}));
  pack->add_option("--info", info, "program: UTF-8 text file shown in the intro dialog")->type_name("FILE");
  pack->add_option("--link", link, "program: address shown as a link in the intro dialog")->type_name("URL");
  pack->add_option("--disclaimer", disclaimer, "program: UTF-8 text file that must be accepted first")
      ->type_name("FILE");
  pack->add_option("--picture", picture, "program: BMP file shown in the intro dialog")->type_name("FILE");
  pack->add_option("--sign-pkcs12", sign_pkcs12, "program: sign it with this PKCS#12 certificate (osslsigncode)")
      ->type_name("FILE");
  pack->add_option("--sign-password-file", sign_password_file, "program: the certificate's password, on one line")
      ->type_name("FILE");
  pack->add_option("--timestamp", timestamp, "program: time-stamp server address passed to osslsigncode")
      ->type_name("URL");
  pack->add_flag("-v,--verbose", verbose, "name each item on standard output as it is packed");
  AddCommon(pack, common, true);

  std::string archive, directory;
  std::vector<std::string> patterns;
  bool keep_existing = false, skip_existing = false, overwrite_read_only = false, salvage = false, json = false;
  int threads = 2;
  CLI::App* extract = app.add_subcommand("extract", "extract a container or a program");
  extract->add_option("ARCHIVE", archive, "a .qef container or a self-extracting program")->required();
  extract
      ->add_option("-C,--directory", directory,
                   "target folder (default: beside the archive, its one top-level item itself, else a new "
                   "folder named after it)")
      ->type_name("DIR");
  CLI::Option* keep = extract->add_flag("--keep-existing", keep_existing, "refuse to replace files that exist");
  CLI::Option* skip =
      extract->add_flag("--skip-existing", skip_existing, "leave files that exist as they are and go on")
          ->excludes(keep);
  extract
      ->add_flag("--overwrite-read-only", overwrite_read_only,
                 "replace files that exist and are read-only too (a failed run puts them back as they were)")
      ->excludes(keep)
      ->excludes(skip);
  extract->add_flag("-v,--verbose", verbose, "name each item on standard output as it is extracted");
  extract->add_flag("--salvage", salvage,
                    "from a damaged archive, keep every item that checks out and name the others (exit status 1)");
  CLI::App* list = app.add_subcommand("list", "list the names, sizes, times and attributes of the items");
  list->add_option("ARCHIVE", archive, "a .qef container or a self-extracting program")->required();
  list->add_flag("--json", json, "one JSON array of items");
  CLI::App* test = app.add_subcommand("test", "decrypt and decode everything, write nothing");
  test->add_option("ARCHIVE", archive, "a .qef container or a self-extracting program")->required();
  for (CLI::App* command : {extract, list, test}) {
    command
        ->add_option("PATTERN", patterns,
                     "only the items that match (* ? [...]); a folder takes what is inside it; each must match")
        ->type_name("PATTERN");
    // Reading and decoding ahead is one thread beside the writing; more would wait on
    // the archive's one sequence of chunks.
    command
        ->add_option("--threads", threads,
                     "decoding threads: 1 decodes as it writes, 2 or more read and decode ahead on one more thread")
        ->type_name("N")
        ->check(CLI::Range(1, 64))
        ->capture_default_str();
    AddCommon(command, common, true);
  }
  CLI::App* info_command = app.add_subcommand("info", "show the header, texts, picture and stub; no password needed");
  info_command->add_option("ARCHIVE", archive, "a .qef container or a self-extracting program")->required();
  info_command->add_option("--codepage", common.codepage, "code page of the texts, or raw")
      ->type_name("CP")
      ->capture_default_str();
  info_command->footer(kExitHelp);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help
    std::vector<CLI::App*> chosen = app.get_subcommands();
    std::string command = chosen.empty() ? "" : chosen.front()->get_name();
    if (const char* unknown = UnknownCommand(argc, argv))
      return Usage(
          std::string("unknown command '") + unknown + "': the commands are pack, extract, list, test and info", "");
    if (TriedPasswordArgument(argc, argv))
      return Usage("a password is never taken on the command line: use --password-file FILE or QEF_PASSWORD", command);
    return Usage(e.what(), command);
  }

  // The standard containers report a failed allocation by throwing: whatever runs out
  // of memory, the run ends with the code that says so rather than an abort.
  auto run = [&]() -> int {
    CatchInterrupt();
    std::string command = app.get_subcommands().front()->get_name();
    CommonOptions options;
    if (ToCommon(common, command, options) != kExitOk) return kExitUsage;

    if (command == "pack") {
      bool program = HasExtension(output, "exe");
      if (!program && !HasExtension(output, "qef")) return Usage("the output must end in .qef or .exe", command);
      if (!program &&
          !(stub.empty() && windows.empty() && info.empty() && link.empty() && disclaimer.empty() && picture.empty()))
        return Usage("--stub, --windows, --info, --link, --disclaimer and --picture are for programs (-o NAME.exe)",
                     command);
      if (!program && !(sign_pkcs12.empty() && sign_password_file.empty() && timestamp.empty()))
        return Usage("--sign-pkcs12, --sign-password-file and --timestamp are for programs (-o NAME.exe)", command);
      if (sign_pkcs12.empty() != sign_password_file.empty() || (!timestamp.empty() && sign_pkcs12.empty()))
        return Usage(
            "--sign-pkcs12 needs --sign-password-file (the password is never taken on the command line), "
            "and --timestamp needs both",
            command);
      if (!stub.empty() && !windows.empty())
        return Usage("--windows picks a built-in stub; it does not go with --stub", command);
      PackRequest q;
      for (const std::string& s : sources) q.sources.push_back(ToInternalForm(Text(s.c_str())));
      q.output = ToInternalForm(Text(output.c_str()));
      q.program = program;
      q.stub = ToInternalForm(Text(stub.c_str()));
      q.windows = windows == "64" ? 64 : 32;
      q.info_file = ToInternalForm(Text(info.c_str()));
      q.disclaimer_file = ToInternalForm(Text(disclaimer.c_str()));
      q.picture_file = ToInternalForm(Text(picture.c_str()));
      q.link = link.c_str();
      q.cipher_id = cipher == "aes" ? kAesCipher : kBlowfishCipher;
      q.compression = compression == "best"   ? kCompressionBest
                      : compression == "fast" ? kCompressionFast
                                              : kCompressionStored;
      q.jobs = jobs;
      q.verbose = verbose;
      q.dereference = dereference;
      for (const std::string& e : excludes) q.excludes.push_back(Text(e.c_str()));
      q.exclude_from = ToInternalForm(Text(exclude_from.c_str()));
      q.signing.pkcs12 = ToInternalForm(Text(sign_pkcs12.c_str()));
      q.signing.password_file = ToInternalForm(Text(sign_password_file.c_str()));
      q.signing.timestamp = timestamp.c_str();
      q.common = options;
      return RunPack(q);
    }
    if (command == "info") return RunInfo(ToInternalForm(Text(archive.c_str())), options.page);

    ReadRequest q;
    q.archive = ToInternalForm(Text(archive.c_str()));
    q.common = options;
    q.threads = threads;
    q.verbose = verbose;
    for (const std::string& p : patterns) q.patterns.push_back(Text(p.c_str()));
    q.salvage = salvage;
    q.overwrite_read_only = overwrite_read_only;
    if (command == "extract")
      return RunExtract(q, ToInternalForm(Text(directory.c_str())),
                        keep_existing   ? Existing::kKeep
                        : skip_existing ? Existing::kSkip
                                        : Existing::kReplace);
    if (command == "list") return RunList(q, json);
    return RunTest(q);
  };
  int status = run();
  // A run a signal ended has undone its work; it ends with the status a shell gives a
  // process the signal killed.
  return WasInterrupted() && status != kExitOk ? InterruptedStatus() : status;
}

// Output that did not arrive (a full disk, a closed pipe) is a failure, also when the
// work itself was done.
int CheckedOutput(int status) {
  if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) return status;
  Text why;
  why.Format("cannot write to standard output: %s", std::strerror(errno));
  return Fail(kShortWrite, why);
}

}  // namespace

// The command-line library reports through exceptions, also while the commands are
// being set up: none may leave main, where it would end the program without a word.
int main(int argc, char** argv) {
  try {
    std::vector<std::string> arguments;
    PrepareLocalText(argc, argv, arguments);
    std::vector<char*> pointers;
    for (std::string& a : arguments) pointers.push_back(&a[0]);
    pointers.push_back(nullptr);
    return CheckedOutput(RunTool(static_cast<int>(arguments.size()), pointers.data()));
  } catch (const std::bad_alloc&) {
    return Fail(kOutOfMemory, "not enough memory");
  } catch (const std::exception& e) {
    return Fail(kFailed, e.what());
  }
}
