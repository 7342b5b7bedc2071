#include "cli/error_line.h"

#include <gtest/gtest.h>

#include "core/result.h"

namespace qef {
namespace {

TEST(ErrorLine, Format) {
  EXPECT_STREQ(ErrorLine(kWrongPassword).Str(),
               (std::string("qef: ") + DescribeResult(kWrongPassword) + " (code 711)").c_str());
  EXPECT_STREQ(ErrorLine(kBadArgument, "setup.exe is not a 32-bit program").Str(),
               "qef: setup.exe is not a 32-bit program (code 30)");
  EXPECT_STREQ(ErrorLine(kShortRead, "").Str(),
               (std::string("qef: ") + DescribeResult(kShortRead) + " (code 208)").c_str());
}

TEST(ErrorLine, NamesWhatFailedAndWhy) {
  struct Case {
    const char* path;
    const char* action;
    const char* reason;
    const char* expected;
  } cases[] = {
      {"docs/report.pdf", "cannot create the file", "Permission denied",
       "qef: docs/report.pdf: cannot create the file: Permission denied (code 204)"},
      {"docs/report.pdf", "", "", "qef: docs/report.pdf: a file could not be opened or created (code 204)"},
      {"", "cannot create the file", "", "qef: cannot create the file (code 204)"},
  };
  for (const Case& c : cases) {
    ErrorInfo error;
    error.Set(204, c.path, c.action, c.reason);
    error.Set(205, "other", "later failures do not replace the first");
    EXPECT_STREQ(ErrorLine(error).Str(), c.expected);
  }
}

}  // namespace
}  // namespace qef
