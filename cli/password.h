#pragma once
// Where the tool gets a password from, in this order: the file named by
// --password-file ("-" for standard input), the environment variable QEF_PASSWORD,
// or the terminal without echo (twice when packing, and both must match). Never from
// the command line, where other users of the machine could read it. The password
// comes back as UTF-8 in a Text, which wipes its storage; every buffer on the way is
// wiped too.
#include <cstdint>
#include <cstdio>

#include "core/text.h"

namespace qef {

const char* const kPasswordVariable = "QEF_PASSWORD";

// Reads one line from the terminal with echo off (console.h's ReadHiddenLine); tests
// put their own in its place.
using HiddenLineReader = int32_t (*)(const char* prompt, Text& line, Text& message);

struct PasswordRequest {
  const char* password_file = nullptr;  // --password-file, or null
  bool confirm = false;                 // packing: ask twice on the terminal
  const char* variable = kPasswordVariable;
  HiddenLineReader reader = nullptr;  // null: the terminal
};

// 0 with the password; otherwise the code and a message: kCannotOpen (a password
// file that cannot be opened, or no terminal to ask on), kBadArgument (an empty
// password, the two entries differ, a line of 4096 bytes or more), kShortRead.
int32_t ObtainPassword(const PasswordRequest& request, Text& password, Text& message);

// The first line of a stream without its line end ("\n" or "\r\n"; spaces are kept,
// a UTF-8 byte order mark at the very start is dropped). Reads no further than that
// line. 0; kBadArgument for a line of 4096 bytes or more or a zero byte in it.
int32_t ReadFirstLine(std::FILE* stream, Text& line, Text& message);

}  // namespace qef
