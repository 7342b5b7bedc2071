#include "cli/error_line.h"

#include "core/result.h"

namespace qef {

Text ErrorLine(int32_t code, const char* detail) {
  Text line;
  line.Format("qef: %s (code %ld)", detail != nullptr && *detail != 0 ? detail : DescribeResult(code),
              static_cast<long>(code));
  return line;
}

Text ErrorLine(const ErrorInfo& error) { return ErrorLine(error.code, DescribeError(error).Str()); }

}  // namespace qef
