#include "cli/error_line.h"

#include <gtest/gtest.h>

#include "core/result.h"

namespace qef {
namespace {

TEST(ErrorLine, Format) {
  EXPECT_STREQ(ErrorLine(kWrongPassword).Str(), (std::string("qef: ") + DescribeResult(kWrongPassword) + " (code 711)").c_str());
  EXPECT_STREQ(ErrorLine(kBadArgument, "setup.exe is not a 32-bit program").Str(),
               "qef: setup.exe is not a 32-bit program (code 30)");
  EXPECT_STREQ(ErrorLine(kShortRead, "").Str(), (std::string("qef: ") + DescribeResult(kShortRead) + " (code 208)").c_str());
}

}  // namespace
}  // namespace qef
