// Unaligned loads and the 64-by-32 division.
#include <gtest/gtest.h>

#include "Library/BaseLib.h"
#include "RecordingDebugLib.h"

namespace {
class ArithmeticTest : public ::testing::Test {
protected:
  void SetUp() override { Recorded::Clear(); }
};
}  // namespace

TEST_F(ArithmeticTest, UnalignedLoads_ReadLittleEndianAtEveryOffset) {
  const UINT8 Bytes[] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
  EXPECT_EQ(LoadUnaligned16(Bytes + 1), 0x3322u);
  EXPECT_EQ(LoadUnaligned32(Bytes + 1), 0x55443322u);
  EXPECT_EQ(LoadUnaligned32(Bytes + 3), 0x77665544u);
  EXPECT_EQ(LoadUnaligned16(Bytes + 5), 0x7766u);
  EXPECT_TRUE(Recorded::Assertions().empty());
}

TEST_F(ArithmeticTest, UnalignedLoadOfNull_IsReportedAndReadsZero) {
  EXPECT_EQ(LoadUnaligned16(nullptr), 0u);
  EXPECT_EQ(LoadUnaligned32(nullptr), 0u);
  const std::vector<Recorded::Assertion> Expected{
      {"Library/BaseLib/Unaligned.cpp", 38, "Buffer != ((void *) 0)"},
      {"Library/BaseLib/Unaligned.cpp", 141, "Buffer != ((void *) 0)"}};
  EXPECT_EQ(Recorded::Assertions(), Expected);
}

TEST_F(ArithmeticTest, Division_GivesQuotientAndRemainder) {
  struct Case {
    UINT64 Dividend;
    UINT32 Divisor;
    UINT64 Quotient;
    UINT32 Remainder;
  };
  const Case Cases[] = {
      {0x123456789ABCDEF7ull, 10, 0x01D208A5A912E318ull, 7},
      {0x100000000ull, 3, 0x55555555ull, 1},
      {0xFFFFFFFFFFFFFFFFull, 0xFFFFFFFF, 0x100000001ull, 0},
      {0xFFFFFFFFFFFFFFFFull, 16, 0x0FFFFFFFFFFFFFFFull, 15},
      {5, 7, 0, 5},
      {0, 1, 0, 0},
  };
  for (const Case& C : Cases) {
    UINT32 Remainder = 0xDEAD;
    EXPECT_EQ(DivU64x32Remainder(C.Dividend, C.Divisor, &Remainder), C.Quotient) << std::hex << C.Dividend;
    EXPECT_EQ(Remainder, C.Remainder) << std::hex << C.Dividend;
  }
  EXPECT_TRUE(Recorded::Assertions().empty());
}

TEST_F(ArithmeticTest, DivisionWithoutRemainderPointer_ReturnsQuotientOnly) {
  EXPECT_EQ(DivU64x32Remainder(1000000000000ull, 1000, nullptr), 1000000000ull);
}

TEST_F(ArithmeticTest, DivisionByZero_IsReportedAndGivesZeros) {
  UINT32 Remainder = 0xDEAD;
  EXPECT_EQ(DivU64x32Remainder(1234, 0, &Remainder), 0u);
  EXPECT_EQ(Remainder, 0u);
  EXPECT_EQ(DivU64x32Remainder(1234, 0, nullptr), 0u);
  ASSERT_EQ(Recorded::Assertions().size(), 2u);
  EXPECT_EQ(Recorded::Assertions()[0],
            (Recorded::Assertion{"Library/BaseLib/DivU64x32Remainder.cpp", 47, "Divisor != 0"}));
}
