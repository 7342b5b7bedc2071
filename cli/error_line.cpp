#include "cli/error_line.h"

#include "core/result.h"

namespace qef {

Text ErrorLine(int32_t code, const char* detail) {
  // Appended, not formatted: a detail that names a deep path may pass the formatter's
  // bound, and is never cut.
  Text line("qef: ");
  line.Append(detail != nullptr && *detail != 0 ? detail : DescribeResult(code));
  Text end;
  end.Format(" (code %ld)", static_cast<long>(code));
  line.Append(end);
  return line;
}

Text ErrorLine(const ErrorInfo& error) { return ErrorLine(error.code, DescribeError(error).Str()); }

}  // namespace qef
