// SerialWrite on the standard board: both lines, chunking, flush, faults.
#include <gtest/gtest.h>

#include <string>

#include "BusTrace.h"
#include "Library/SerialPortLib.h"
#include "Machine.h"

using namespace SerialTrace;

namespace {
const std::string Text40 = "The quick brown fox jumps over the dog.\n";

UINTN Write(const std::string& Text) {
  return SerialWrite(reinterpret_cast<const UINT8*>(Text.data()), static_cast<UINTN>(Text.size()));
}
}  // namespace

// The models must capture output, or every "prints nothing" test would pass.
TEST(SerialWrite, FortyBytes_ReachBothUartsUnchanged) {
  Sim::Machine Machine;
  ASSERT_EQ(SerialInit(), EFI_SUCCESS);
  ASSERT_EQ(Text40.size(), 40u);
  EXPECT_EQ(Write(Text40), 40u);
  EXPECT_EQ(Machine.Com1().Transmitted(), Text40);
  EXPECT_EQ(Machine.Com2().Transmitted(), Text40);
}
