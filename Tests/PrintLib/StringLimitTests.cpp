// With a narrow string limit the engine's byte walks report too: the format's
// and the result's, each once a text passes the limit.
#include "BuildSettings.h"
#include "PrintTestSupport.h"

using namespace PrintTest;

namespace {
class StringLimitTest : public PrintTestBase {};

const Recorded::Assertion NarrowTooLong{"Library/BaseLib/String.cpp", 1243,
                                        "Length < _gPcd_FixedAtBuild_PcdMaximumAsciiStringLength"};
constexpr UINTN Limit = Settings::PcdMaximumAsciiStringLength;
static_assert(Limit != 0, "this build must limit narrow strings");

TEST_F(StringLimitTest, ByteFormatAndResult_ReportOncePastTheLimit) {
  const std::string AtLimit(Limit, 'f');
  const std::string PastLimit(Limit + 1, 'f');
  std::vector<CHAR8> Out(Limit + 8);
  EXPECT_EQ(AsciiFormat(Out.data(), 1, AtLimit.c_str()), 0u);
  EXPECT_TRUE(TakeReports().empty());
  EXPECT_EQ(AsciiFormat(Out.data(), 1, PastLimit.c_str()), 0u);
  EXPECT_EQ(TakeReports(), std::vector<Recorded::Assertion>{NarrowTooLong});
  Recorded::Clear();
  // The result walk: a short format whose output is one past the limit.
  EXPECT_EQ(AsciiFormat(Out.data(), Out.size(), "%*c", static_cast<int>(Limit + 1), 'x'), Limit + 1);
  EXPECT_EQ(TakeReports(), std::vector<Recorded::Assertion>{NarrowTooLong});
}
}  // namespace
