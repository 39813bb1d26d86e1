// PCI configuration access: the address words and data ports used, the
// interrupt bracket, 0xCF8 put back, the address checks and the extended path.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "Processor.h"
#include "Library/PciCf8Lib.h"
#include "PciHostBridge.h"
#include "RecordingDebugLib.h"

namespace {
using Sim::BusEvent;
using Kind = Sim::BusEvent::Kind;

const char* const PciPath = "Override/Library/BasePciCf8Lib/PciCf8Lib.cpp";
// What an interrupted user of the pair had latched in 0xCF8.
constexpr uint32_t ForeignWord = 0x80002810;

BusEvent In(unsigned Size, uint16_t Port, uint32_t Value) { return {Kind::PortIn, static_cast<uint8_t>(Size), Port, Value}; }
BusEvent Out(unsigned Size, uint16_t Port, uint32_t Value) {
  return {Kind::PortOut, static_cast<uint8_t>(Size), Port, Value};
}
const BusEvent Cli{Kind::InterruptsOff, 0, 0, 0};
const BusEvent Sti{Kind::InterruptsOn, 0, 0, 0};
const BusEvent CpuIdLeaf1{Kind::CpuId, 0, 1, 0};

// The bracket every standard access makes around its data-port cycles.
std::vector<BusEvent> Bracketed(bool WasEnabled, uint32_t Saved, uint32_t Word, const std::vector<BusEvent>& Data) {
  std::vector<BusEvent> Events{Cli, In(4, 0xCF8, Saved), Out(4, 0xCF8, Word)};
  Events.insert(Events.end(), Data.begin(), Data.end());
  Events.push_back(Out(4, 0xCF8, Saved));
  Events.push_back(WasEnabled ? Sti : Cli);
  return Events;
}

class PciCf8Test : public ::testing::Test {
protected:
  void SetUp() override {
    Recorded::Clear();
    Host.AddProcessorNodes(8);
    Function.Set32(0x3C, 0x44332211);
    Function.Set16(Sim::PciConfig::Command, 0x0107);
    Host.SetAddressRegister(ForeignWord);
  }
  Sim::PciFunction& NodeLink(unsigned Node) { return *Host.Route(0, static_cast<uint8_t>(0x18 + Node), 4); }

  Sim::Processor Processor;
  Sim::PciHostBridge Host{Processor};
  // Bus 0, device 3, function 1: packed addresses 0x00019xxx.
  Sim::PciFunction& Function = Host.Root().Add<Sim::PciFunction>(3, 1, 0x8086, 0x1234, 0x070002, 0);
};

struct StandardCase {
  std::string Name;
  std::function<uint32_t()> Run;
  uint32_t Word;
  std::vector<BusEvent> Data;
  uint32_t Result;
};

std::vector<StandardCase> StandardCases() {
  return {
      // Register 0x3D of 0:3.1: the example address word and byte lane.
      {"Read8", [] { return PciCfgRead8(0x0001903D); }, 0x8000193C, {In(1, 0xCFD, 0x22)}, 0x22},
      {"Read8Lane3", [] { return PciCfgRead8(0x0001903F); }, 0x8000193C, {In(1, 0xCFF, 0x44)}, 0x44},
      {"Read16", [] { return PciCfgRead16(0x0001903E); }, 0x8000193C, {In(2, 0xCFE, 0x4433)}, 0x4433},
      {"Or16", [] { return PciCfgOr16(0x00019004, 0x0002); }, 0x80001904,
       {In(2, 0xCFC, 0x0107), Out(2, 0xCFC, 0x0107)}, 0x0107},
      {"And16", [] { return PciCfgAnd16(0x00019004, 0xFFFC); }, 0x80001904,
       {In(2, 0xCFC, 0x0107), Out(2, 0xCFC, 0x0104)}, 0x0104},
      {"Read32", [] { return PciCfgRead32(0x0001903C); }, 0x8000193C, {In(4, 0xCFC, 0x44332211)}, 0x44332211},
      // Address bits 0..1 are ignored by the 32-bit operations.
      {"Read32Unaligned", [] { return PciCfgRead32(0x0001903E); }, 0x8000193C, {In(4, 0xCFC, 0x44332211)},
       0x44332211},
      {"Write32", [] { return PciCfgWrite32(0x00019040, 0xCAFEF00D); }, 0x80001940, {Out(4, 0xCFC, 0xCAFEF00D)},
       0xCAFEF00D},
  };
}
}  // namespace

TEST_F(PciCf8Test, StandardAccesses_UseTheirWordAndPortInsideTheBracket) {
  for (const bool WasEnabled : {true, false}) {
    for (const StandardCase& Case : StandardCases()) {
      SCOPED_TRACE(Case.Name + (WasEnabled ? ", interrupts on" : ", interrupts off"));
      Function.Set16(Sim::PciConfig::Command, 0x0107);
      Processor.InterruptFlag = WasEnabled;
      Processor.ClearTrace();
      EXPECT_EQ(Case.Run(), Case.Result);
      EXPECT_EQ(Processor.Trace(), Bracketed(WasEnabled, ForeignWord, Case.Word, Case.Data));
      EXPECT_EQ(Host.AddressRegister(), ForeignWord);
      EXPECT_EQ(Processor.InterruptFlag, WasEnabled);
    }
  }
  // Standard registers never ask for the node or touch its enable register.
  EXPECT_EQ(Processor.CpuIdQueries(), 0u);
  for (unsigned Node = 0; Node < 8; ++Node) {
    EXPECT_TRUE(NodeLink(Node).Writes().empty());
  }
  EXPECT_TRUE(Recorded::Assertions().empty());
}

TEST_F(PciCf8Test, Writes_ReachTheFunction) {
  EXPECT_EQ(PciCfgOr16(PciAddress(0, 3, 1, 0x04), 0x0002), 0x0107);
  EXPECT_EQ(PciCfgAnd16(PciAddress(0, 3, 1, 0x04), 0xFFFE), 0x0106);
  EXPECT_EQ(Function.CommandRegister(), 0x0106);
  PciCfgWrite32(PciAddress(0, 3, 1, 0x48), 0x01020304);
  EXPECT_EQ(Function.Read32(0x48), 0x01020304u);
  EXPECT_EQ(PciCfgRead32(PciAddress(0, 3, 1, 0x48)), 0x01020304u);
}

TEST_F(PciCf8Test, AbsentFunction_ReadsAllOnes) {
  EXPECT_EQ(PciCfgRead32(PciAddress(0, 9, 0, 0)), 0xFFFFFFFFu);
  EXPECT_EQ(PciCfgRead16(PciAddress(5, 0, 0, 0)), 0xFFFF);
  EXPECT_EQ(PciCfgRead8(PciAddress(0, 3, 2, 0x19)), 0xFF);
}

TEST_F(PciCf8Test, BadAddresses_AreReportedAndStillUsed) {
  struct Case {
    const char* Name;
    std::function<uint32_t()> Run;
    uint32_t Line;
    const char* Text;
    uint32_t Word;
    BusEvent Data;
  };
  const char* const ByteText = "((Address) & (~0xffff0ff | (0))) == 0";
  const char* const WordText = "((Address) & (~0xffff0ff | (1))) == 0";
  const std::vector<Case> Cases{
      {"Read8 above 0xFF", [] { return PciCfgRead8(0x0001913D); }, 128, ByteText, 0x8000193C, In(1, 0xCFD, 0x22)},
      {"Read8 bit 28", [] { return PciCfgRead8(0x1001903D); }, 128, ByteText, 0x8000193C, In(1, 0xCFD, 0x22)},
      // An odd 16-bit register still reads the word lane at 0xCFC + (Address & 2).
      {"Read16 odd", [] { return PciCfgRead16(0x0001903D); }, 620, WordText, 0x8000193C, In(2, 0xCFC, 0x2211)},
      {"Read16 above 0xFF", [] { return PciCfgRead16(0x0001913E); }, 620, WordText, 0x8000193C,
       In(2, 0xCFE, 0x4433)},
      {"Read16 bit 31", [] { return PciCfgRead16(0x8001903E); }, 620, WordText, 0x8000193C, In(2, 0xCFE, 0x4433)},
      {"Or16 odd", [] { return PciCfgOr16(0x00019041, 0); }, 705, WordText, 0x80001940, In(2, 0xCFC, 0)},
      {"And16 odd", [] { return PciCfgAnd16(0x00019043, 0xFFFF); }, 751, WordText, 0x80001940, In(2, 0xCFE, 0)},
  };
  for (const Case& Each : Cases) {
    SCOPED_TRACE(Each.Name);
    Recorded::Clear();
    Processor.ClearTrace();
    Each.Run();
    const std::vector<Recorded::Assertion> Expected{{PciPath, Each.Line, Each.Text}};
    EXPECT_EQ(Recorded::Assertions(), Expected);
    ASSERT_GE(Processor.Trace().size(), 4u);
    EXPECT_EQ(Processor.Trace()[2], Out(4, 0xCF8, Each.Word));
    EXPECT_EQ(Processor.Trace()[3], Each.Data);
  }
}

TEST_F(PciCf8Test, GoodAddresses_AreNotReported) {
  PciCfgRead8(PciAddress(255, 31, 7, 0xFF));
  PciCfgRead16(PciAddress(255, 31, 7, 0xFE));
  PciCfgOr16(PciAddress(0, 3, 1, 0x42), 0);
  PciCfgAnd16(PciAddress(0, 3, 1, 0x40), 0xFFFF);
  // The 32-bit operations make no check at all.
  PciCfgRead32(0xF0019FFF);
  EXPECT_TRUE(Recorded::Assertions().empty());
}

TEST_F(PciCf8Test, ExtendedRead_EnablesTheNodeRegisterAroundTheBracket) {
  NodeLink(0).Set32(0x44, 0x00000010);
  Processor.InterruptFlag = true;
  Processor.ClearTrace();
  // Register 0x104 of 0:18.0 with APIC ID 0: the example words.
  EXPECT_EQ(PciCfgRead32(PciAddress(0, 0x18, 0, 0x104)), 0xE0000104u);
  const std::vector<BusEvent> Expected{
      CpuIdLeaf1,
      Out(4, 0xCF8, 0x8000C444), In(4, 0xCFC, 0x10), Out(4, 0xCFC, 1),
      Cli, In(4, 0xCF8, 0x8000C444), Out(4, 0xCF8, 0x8100C004), In(4, 0xCFC, 0xE0000104),
      Out(4, 0xCF8, 0x8000C444), Sti,
      Out(4, 0xCF8, 0x8000C444), Out(4, 0xCFC, 0x10)};
  EXPECT_EQ(Processor.Trace(), Expected);
  EXPECT_EQ(Processor.CpuIdQueries(), 1u);
  // 0xCF8 is left on the enable register; the register has its value back.
  EXPECT_EQ(Host.AddressRegister(), 0x8000C444u);
  EXPECT_EQ(NodeLink(0).Read32(0x44), 0x10u);
  EXPECT_TRUE(Processor.InterruptFlag);
}

TEST_F(PciCf8Test, ExtendedWrite_ReachesTheExtendedRegisterOnly) {
  EXPECT_EQ(PciCfgWrite32(PciAddress(0, 0x18, 1, 0x240), 0x5A5AA5A5), 0x5A5AA5A5u);
  Sim::PciFunction& Map = *Host.Route(0, 0x18, 1);
  EXPECT_EQ(Map.Read32(0x240), 0x5A5AA5A5u);
  EXPECT_EQ(Map.Read32(0x40), 0u);
  EXPECT_EQ(PciCfgRead32(PciAddress(0, 0x18, 1, 0x240)), 0x5A5AA5A5u);
  EXPECT_EQ(NodeLink(0).Read32(0x44), 0u);
}

TEST_F(PciCf8Test, NodeComesFromApicIdBits6And5To4) {
  struct Case {
    uint32_t Ebx;
    unsigned Node;
  };
  // EBX bits 31..24 are the APIC ID; bit 7 and bits 3..0 of it do not count.
  for (const Case Each : {Case{0x70000800, 7}, Case{0x40000000, 4}, Case{0x20000000, 2}, Case{0x8F000000, 0},
                          Case{0x13000000, 1}}) {
    SCOPED_TRACE(Each.Node);
    Processor.CpuIdLeaf1Ebx = Each.Ebx;
    NodeLink(Each.Node).Set32(0x44, 0xABCD0000);
    Processor.ClearTrace();
    // Only the right node's enable opens the extended register in the model,
    // so the value read shows that the right one was used.
    EXPECT_EQ(PciCfgRead32(PciAddress(0, 0x18, 2, 0x1F0)), 0xE00201F0u);
    const uint32_t EnableWord = 0x8000C444 | Each.Node << 11;
    EXPECT_EQ(Processor.Trace()[1], Out(4, 0xCF8, EnableWord));
    EXPECT_EQ(Host.AddressRegister(), EnableWord);
    EXPECT_EQ(NodeLink(Each.Node).Read32(0x44), 0xABCD0000u);
  }
}

// The word keeps all eight bus bits: an extended access to bus 0x12 must not
// land on bus 0x02.
TEST_F(PciCf8Test, ExtendedAccessAboveBus15_ReachesThatBus) {
  auto& Upstream = Host.Root().Add<Sim::PciBridge>(1, 0);
  Upstream.SetBusNumbers(0, 1, 0x12);
  auto& ToBus2 = Upstream.Secondary().Add<Sim::PciBridge>(0, 0);
  ToBus2.SetBusNumbers(1, 2, 2);
  auto& ToBus12 = Upstream.Secondary().Add<Sim::PciBridge>(1, 0);
  ToBus12.SetBusNumbers(1, 0x12, 0x12);
  auto& OnBus2 = ToBus2.Secondary().Add<Sim::PciFunction>(0, 0, 0x8086, 2, 0x070002, 0);
  auto& OnBus12 = ToBus12.Secondary().Add<Sim::PciFunction>(0, 0, 0x8086, 0x12, 0x070002, 0);

  Processor.ClearTrace();
  PciCfgWrite32(PciAddress(0x12, 0, 0, 0x140), 0x600DF00D);
  EXPECT_EQ(Processor.Trace()[6], Out(4, 0xCF8, 0x81120040));
  EXPECT_EQ(OnBus12.Read32(0x140), 0x600DF00Du);
  EXPECT_TRUE(OnBus2.Writes().empty());
  EXPECT_EQ(PciCfgRead32(PciAddress(0x12, 0, 0, 0x140)), 0x600DF00Du);
  EXPECT_EQ(PciCfgRead32(PciAddress(0xFF, 0, 0, 0x140)), 0xFFFFFFFFu);
}
