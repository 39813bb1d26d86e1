// The interrupt flag bracket and CPUID on the simulated processor.
#include <gtest/gtest.h>

#include "Processor.h"
#include "Library/BaseLib.h"
#include "RecordingDebugLib.h"

namespace {
using Kind = Sim::BusEvent::Kind;
}  // namespace

TEST(InterruptFlag, ReadFlagsRegister_ShowsBit9) {
  Sim::Processor Processor;
  Processor.InterruptFlag = true;
  EXPECT_EQ(ReadFlagsRegister() & 0x200u, 0x200u);
  EXPECT_TRUE(InterruptFlagSet());
  Processor.InterruptFlag = false;
  EXPECT_EQ(ReadFlagsRegister() & 0x200u, 0u);
  EXPECT_FALSE(InterruptFlagSet());
}

TEST(InterruptFlag, BracketEnteredEnabled_EnablesAgain) {
  Sim::Processor Processor;
  Processor.InterruptFlag = true;
  const bool Saved = MaskInterruptsSaving();
  EXPECT_TRUE(Saved);
  EXPECT_FALSE(Processor.InterruptFlag);
  EXPECT_TRUE(RestoreInterruptFlag(Saved));
  EXPECT_TRUE(Processor.InterruptFlag);
}

TEST(InterruptFlag, BracketEnteredMasked_LeavesThemMasked) {
  Sim::Processor Processor;
  Processor.InterruptFlag = false;
  const bool Saved = MaskInterruptsSaving();
  EXPECT_FALSE(Saved);
  EXPECT_FALSE(RestoreInterruptFlag(Saved));
  EXPECT_FALSE(Processor.InterruptFlag);
  for (const auto& Event : Processor.Trace()) {
    EXPECT_NE(Event.What, Kind::InterruptsOn) << "a masked bracket must never enable interrupts";
  }
}

TEST(InterruptFlag, ScopedMask_RestoresOnEveryExit) {
  Sim::Processor Processor;
  Processor.InterruptFlag = true;
  {
    InterruptMask Mask;
    EXPECT_FALSE(Processor.InterruptFlag);
  }
  EXPECT_TRUE(Processor.InterruptFlag);
}

TEST(CpuIdQuery, WritesOnlyTheRequestedOutputs) {
  Sim::Processor Processor;
  Processor.CpuIdLeaf1Ebx = 0x70000800u;
  UINT32 Eax = 0xA, Ebx = 0xB, Ecx = 0xC, Edx = 0xD;
  EXPECT_EQ(CpuIdQuery(1, nullptr, &Ebx, nullptr, nullptr), 1u);
  EXPECT_EQ(Ebx, 0x70000800u);
  EXPECT_EQ(Eax, 0xAu);
  EXPECT_EQ(Ecx, 0xCu);
  EXPECT_EQ(Edx, 0xDu);
  EXPECT_EQ(Processor.CpuIdQueries(), 1u);
  CpuIdQuery(1, &Eax, &Ebx, &Ecx, &Edx);
  EXPECT_NE(Eax, 0xAu);
  EXPECT_EQ(Processor.CpuIdQueries(), 2u);
  // Every output but EBX: EBX keeps what it held.
  const UINT32 FullEax = Eax, FullEcx = Ecx, FullEdx = Edx;
  Eax = 0xA, Ebx = 0xB, Ecx = 0xC, Edx = 0xD;
  EXPECT_EQ(CpuIdQuery(1, &Eax, nullptr, &Ecx, &Edx), 1u);
  EXPECT_EQ(Ebx, 0xBu);
  EXPECT_EQ(Eax, FullEax);
  EXPECT_EQ(Ecx, FullEcx);
  EXPECT_EQ(Edx, FullEdx);
  EXPECT_EQ(Processor.CpuIdQueries(), 3u);
}
