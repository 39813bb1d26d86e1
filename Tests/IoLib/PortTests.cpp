// Port and memory-mapped primitives on the simulated bus.
#include <gtest/gtest.h>

#include "Processor.h"
#include "LatchDevice.h"
#include "Library/IoLib.h"
#include "RecordingDebugLib.h"

namespace {
using Sim::BusEvent;
using Kind = Sim::BusEvent::Kind;

const char* const IoPath = "Library/BaseIoLibIntrinsic/IoLibMsc.cpp";

class PortTest : public ::testing::Test {
protected:
  void SetUp() override {
    Recorded::Clear();
    Processor.MapPorts(0x3F8, 0x3FF, Latch);
    Processor.MapPorts(0xCF8, 0xCFF, Latch);
  }
  Sim::Processor Processor;
  LatchDevice Latch;
};
}  // namespace

TEST_F(PortTest, Outputs_ReturnTheValueWrittenAndReachTheBus) {
  EXPECT_EQ(PortOut8(0x3F8, 0x41), 0x41);
  EXPECT_EQ(PortOut16(0x3FA, 0xBEEF), 0xBEEF);
  EXPECT_EQ(PortOut32(0xCF8, 0x8000C344u), 0x8000C344u);
  const std::vector<BusEvent> Expected{
      {Kind::PortOut, 1, 0x3F8, 0x41}, {Kind::PortOut, 2, 0x3FA, 0xBEEF}, {Kind::PortOut, 4, 0xCF8, 0x8000C344u}};
  EXPECT_EQ(Processor.Trace(), Expected);
  EXPECT_TRUE(Recorded::Assertions().empty());
}

TEST_F(PortTest, Inputs_AreZeroExtendedToTheirWidth) {
  Latch.PortValues[0x3F8] = 0x5A;
  Latch.PortValues[0x3FA] = 0x1234;
  Latch.PortValues[0xCFC] = 0xCAFEF00Du;
  EXPECT_EQ(PortIn8(0x3F8), 0x5A);
  EXPECT_EQ(PortIn16(0x3FA), 0x1234);
  EXPECT_EQ(PortIn32(0xCFC), 0xCAFEF00Du);
  EXPECT_TRUE(Recorded::Assertions().empty());
}

TEST_F(PortTest, UnmappedPorts_ReadAllOnes) {
  EXPECT_EQ(PortIn8(0x80), 0xFF);
  EXPECT_EQ(PortIn16(0x82), 0xFFFF);
  EXPECT_EQ(PortIn32(0x84), 0xFFFFFFFFu);
}

TEST_F(PortTest, MisalignedWidePorts_AreReportedAndStillAccessed) {
  PortOut16(0x3F9, 0x1234);
  PortIn16(0x3FB);
  PortIn32(0xCFE);
  PortOut32(0xCFD, 7);
  const std::vector<Recorded::Assertion> Expected{{IoPath, 163, "(Port & 1) == 0"},
                                                  {IoPath, 133, "(Port & 1) == 0"},
                                                  {IoPath, 193, "(Port & 3) == 0"},
                                                  {IoPath, 223, "(Port & 3) == 0"}};
  EXPECT_EQ(Recorded::Assertions(), Expected);
  const std::vector<BusEvent> Accesses{{Kind::PortOut, 2, 0x3F9, 0x1234},
                                       {Kind::PortIn, 2, 0x3FB, 0},
                                       {Kind::PortIn, 4, 0xCFE, 0},
                                       {Kind::PortOut, 4, 0xCFD, 7}};
  EXPECT_EQ(Processor.Trace(), Accesses);
}

TEST_F(PortTest, AlignedWidePorts_AreNotReported) {
  PortIn32(0xCFC);
  PortIn16(0xCFE);
  PortOut16(0x3FA, 1);
  EXPECT_TRUE(Recorded::Assertions().empty());
}

TEST_F(PortTest, MmioBytes_AreSingleAccessesOfTheDevice) {
  Processor.MapMemory(0xFED00000u, 0xFED00FFFu, Latch);
  EXPECT_EQ(MmioOut8(0xFED00003u, 0x83), 0x83);
  EXPECT_EQ(MmioIn8(0xFED00003u), 0x83);
  const std::vector<BusEvent> Expected{{Kind::MemoryWrite, 1, 0xFED00003u, 0x83},
                                       {Kind::MemoryRead, 1, 0xFED00003u, 0x83}};
  EXPECT_EQ(Processor.Trace(), Expected);
}
