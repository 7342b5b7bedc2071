#pragma once
// The one form in which the tool reports a failure on standard error:
//   qef: <plain-English message> (code N)
#include <cstdint>

#include "core/error.h"
#include "core/text.h"

namespace qef {

// The message is `detail` when given and not empty, else the code's meaning
// (DescribeResult). No line end.
Text ErrorLine(int32_t code, const char* detail = nullptr);
// The same for a failure with its context: "qef: <path>: <action>: <reason> (code N)".
Text ErrorLine(const ErrorInfo& error);

}  // namespace qef
