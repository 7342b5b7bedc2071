#include "core/error.h"

#include "core/result.h"

namespace qef {

int32_t ErrorInfo::Set(int32_t failure, const Text& where, const char* what, const Text& why) {
  if (code != 0 || failure == 0) return failure;
  code = failure;
  path = where;
  action = what != nullptr ? what : "";
  reason = why;
  return failure;
}

void ErrorInfo::Clear() {
  code = 0;
  path = "";
  action = "";
  reason = "";
}

Text DescribeError(const ErrorInfo& error) {
  Text line;
  if (!error.path.IsEmpty()) line = Text::Concat(error.path, ": ");
  line = Text::Concat(line, error.action.IsEmpty() ? Text(DescribeResult(error.code)) : error.action);
  if (!error.reason.IsEmpty()) line = Text::Concat(Text::Concat(line, ": "), error.reason);
  return line;
}

}  // namespace qef
