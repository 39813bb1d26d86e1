// With checks off the engine reports nothing and stays safe on null input.
#include "PrintTestSupport.h"

using namespace PrintTest;

namespace {
TEST(PrintChecksOff, NullBufferAndFormat_ReturnZeroSilently) {
  Recorded::Clear();
  EXPECT_EQ(AsciiFormat(nullptr, 10, "abc"), 0u);
  GuardedBuffer Out(8);
  EXPECT_EQ(AsciiFormat(Out.Chars(), 8, nullptr), 0u);
  EXPECT_EQ(Out.Data()[0], 0);
  EXPECT_TRUE(Out.UnwrittenFrom(1));
  EXPECT_EQ(Print("%5d|%a", 42, "ok"), "   42|ok");
  EXPECT_TRUE(Recorded::Assertions().empty());
}
}  // namespace
