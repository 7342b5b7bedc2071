#pragma once
// A failure with what it was about. The result code is the one the layer that found the
// fault chose (core/result.h) and it never changes on the way up; beside it travel the
// path of the item or file concerned, what was being done, and the operating system's
// own words when the system refused. A message can so say
//   docs/report.pdf: cannot create the file: Permission denied (code 204)
// while every caller that only tests the code goes on testing the code.
#include <cstdint>

#include "core/text.h"

namespace qef {

struct ErrorInfo {
  int32_t code = 0;
  Text path;    // the item as stored, or the file as the user named it; may be empty
  Text action;  // what was being done ("cannot create the file"); empty: the code's meaning
  Text reason;  // the system's words ("Permission denied"); empty when it gave none

  // Records a failure unless one is recorded already: the first failure is the one
  // that caused the others. Answers `code` either way, so that a caller can write
  // `return error.Set(kCannotOpen, path, "cannot create the file", reason);`.
  int32_t Set(int32_t failure, const Text& where, const char* what = nullptr, const Text& why = Text());
  void Clear();
  bool IsSet() const { return code != 0; }
};

// "<path>: <action>: <reason>", leaving out the parts that are empty; the action falls
// back to the code's meaning (DescribeResult). Without the code itself.
Text DescribeError(const ErrorInfo& error);

}  // namespace qef
