#include "cli/password.h"

#include "cli/console.h"
#include "core/heap.h"
#include "core/result.h"
#include "fs/fs.h"
#include "fs/path.h"

namespace qef {

namespace {

const size_t kMaxLine = 4096;

int32_t ReadPasswordFile(const char* path, Text& password, Text& message) {
  bool standard_input = path[0] == '-' && path[1] == 0;
  // A folder opens like a file on some systems and then reads as nothing.
  if (!standard_input && FolderExists(AddTrailingSeparator(Text(path)))) {
    message.Format("the password file %s is a folder", path);
    return kCannotOpen;
  }
  std::FILE* f = standard_input ? stdin : OpenFileStream(Text(path), false);
  if (f == nullptr) {
    message.Format("cannot open the password file %s: %s", path, SystemErrorText(LastNativeError()).Str());
    return kCannotOpen;
  }
  int32_t r = ReadFirstLine(f, password, message);
  if (!standard_input) std::fclose(f);
  return r;
}

int32_t AskTwice(HiddenLineReader reader, Text& password, Text& message) {
  int32_t r = reader("Password: ", password, message);
  if (r != kOk) return r;
  Text again;
  r = reader("Password again: ", again, message);
  if (r == kOk && Text::Compare(password.Str(), again.Str()) != 0) {
    message = "the two passwords differ";
    r = kBadArgument;
  }
  return r;
}

}  // namespace

int32_t ReadFirstLine(std::FILE* stream, Text& line, Text& message) {
  char buffer[kMaxLine];
  size_t n = 0;
  int32_t r = kOk;
  for (;;) {
    int c = std::fgetc(stream);
    if (c == EOF || c == '\n') break;
    if (n + 1 >= kMaxLine || c == 0) {
      message = c == 0 ? "the password line holds a zero byte" : "the password is too long (4096 bytes or more)";
      r = kBadArgument;
      break;
    }
    buffer[n++] = static_cast<char>(c);
  }
  if (r == kOk) {
    if (n > 0 && buffer[n - 1] == '\r') --n;
    buffer[n] = 0;
    size_t skip = n >= 3 && static_cast<unsigned char>(buffer[0]) == 0xEF &&
                          static_cast<unsigned char>(buffer[1]) == 0xBB && static_cast<unsigned char>(buffer[2]) == 0xBF
                      ? 3
                      : 0;
    if (!line.Assign(buffer + skip)) r = kOutOfMemory;
  }
  SecureWipe(buffer, sizeof buffer);
  return r;
}

int32_t ObtainPassword(const PasswordRequest& request, Text& password, Text& message) {
  password = "";
  int32_t r = kOk;
  bool from_terminal = request.password_file != nullptr && Text::Compare(request.password_file, "-") == 0 &&
                       request.reader == nullptr && StandardInputIsTerminal();
  if (from_terminal) {
    // "-" read from a terminal is typed: it is asked for as the prompt asks, without echo.
    r = request.confirm ? AskTwice(ReadHiddenLine, password, message) : ReadHiddenLine("Password: ", password, message);
  } else if (request.password_file != nullptr) {
    r = ReadPasswordFile(request.password_file, password, message);
  } else if (request.variable == nullptr || !ReadEnvironment(request.variable, password)) {
    HiddenLineReader reader = request.reader != nullptr ? request.reader : ReadHiddenLine;
    if (request.confirm)
      r = AskTwice(reader, password, message);
    else
      r = reader("Password: ", password, message);
    if (r == kCannotOpen) message.Append("; give --password-file or set QEF_PASSWORD");
  }
  if (r == kOk && password.IsEmpty()) {
    message = "the password is empty";
    r = kBadArgument;
  }
  if (r != kOk) password = "";
  return r;
}

}  // namespace qef
