// The board's PCI model, driven by raw bus cycles: mechanism 1 decoding,
// register masks, routing behind bridges and the placement of a PCI UART.
#include <gtest/gtest.h>

#include "Processor.h"
#include "LatchDevice.h"
#include "PciHostBridge.h"
#include "PciUartFunction.h"

namespace {
using namespace Sim::PciConfig;

class PciModelTest : public ::testing::Test {
protected:
  uint32_t ConfigRead(uint32_t Word, uint16_t Port, unsigned Size) {
    Processor.PortOut(0xCF8, 4, Word);
    return Processor.PortIn(Port, Size);
  }
  void ConfigWrite(uint32_t Word, uint16_t Port, unsigned Size, uint32_t Value) {
    Processor.PortOut(0xCF8, 4, Word);
    Processor.PortOut(Port, Size, Value);
  }
  static uint32_t Word(uint8_t Bus, uint8_t Device, uint8_t Function, uint16_t Register) {
    return 0x80000000u | Bus << 16 | Device << 11 | Function << 8 | (Register & 0xFC);
  }

  Sim::Processor Processor;
  Sim::PciHostBridge Host{Processor};
};
}  // namespace

TEST_F(PciModelTest, AddressRegister_LatchesOnlyDoublewordWrites) {
  Processor.PortOut(0xCF8, 4, 0x80001234);
  EXPECT_EQ(Processor.PortIn(0xCF8, 4), 0x80001234u);
  Processor.PortOut(0xCF8, 1, 0x00);
  Processor.PortOut(0xCFA, 2, 0x0000);
  EXPECT_EQ(Processor.PortIn(0xCF8, 4), 0x80001234u);
  EXPECT_EQ(Processor.PortIn(0xCF8, 1), 0xFFu);
}

TEST_F(PciModelTest, DataWindow_HonoursByteLanesAndTheEnableBit) {
  auto& Function = Host.Root().Add<Sim::PciFunction>(3, 1, 0x8086, 0x1234, 0x070002, 0);
  Function.Set32(0x40, 0x44332211);
  const uint32_t At40 = Word(0, 3, 1, 0x40);
  EXPECT_EQ(ConfigRead(At40, 0xCFC, 4), 0x44332211u);
  EXPECT_EQ(ConfigRead(At40, 0xCFD, 1), 0x22u);
  EXPECT_EQ(ConfigRead(At40, 0xCFE, 2), 0x4433u);
  EXPECT_EQ(ConfigRead(At40, 0xCFF, 1), 0x44u);
  ConfigWrite(At40, 0xCFE, 2, 0xBEEF);
  EXPECT_EQ(Function.Read32(0x40), 0xBEEF2211u);
  // Enable bit clear: nothing is decoded.
  EXPECT_EQ(ConfigRead(At40 & 0x7FFFFFFF, 0xCFC, 4), 0xFFFFFFFFu);
  ConfigWrite(At40 & 0x7FFFFFFF, 0xCFC, 4, 0);
  EXPECT_EQ(Function.Read32(0x40), 0xBEEF2211u);
  // No function there: master abort.
  EXPECT_EQ(ConfigRead(Word(0, 4, 0, 0), 0xCFC, 4), 0xFFFFFFFFu);
}

TEST_F(PciModelTest, ReadOnlyBitsAndBarSizing) {
  auto& Function = Host.Root().Add<Sim::PciFunction>(2, 0, 0x8086, 0x1234, 0x070002, 0);
  Function.DefineBar(0, Sim::PciBarKind::Io, 8);
  Function.DefineBar(1, Sim::PciBarKind::Memory64, 0x1000);
  ConfigWrite(Word(0, 2, 0, VendorId), 0xCFC, 4, 0);
  EXPECT_EQ(Function.Read32(VendorId), 0x12348086u);
  ConfigWrite(Word(0, 2, 0, Bar0), 0xCFC, 4, 0xFFFFFFFF);
  EXPECT_EQ(ConfigRead(Word(0, 2, 0, Bar0), 0xCFC, 4), 0x0000FFF9u);
  ConfigWrite(Word(0, 2, 0, Bar0 + 4), 0xCFC, 4, 0xFFFFFFFF);
  EXPECT_EQ(ConfigRead(Word(0, 2, 0, Bar0 + 4), 0xCFC, 4), 0xFFFFF004u);
  EXPECT_EQ(ConfigRead(Word(0, 2, 0, Bar0 + 8), 0xCFC, 4), 0u);  // upper dword
  ConfigWrite(Word(0, 2, 0, Command), 0xCFC, 2, 0xFFFF);
  EXPECT_EQ(Function.CommandRegister(), 0x0547);
}

TEST_F(PciModelTest, ExtendedWord_ReachesTheStandardRegisterUntilTheNodeEnables) {
  Host.AddProcessorNodes(1);
  Sim::PciFunction& Node = *Host.Route(0, 0x18, 0);
  Node.Set32(0x04, 0x00100000);
  const uint32_t Extended = Word(0, 0x18, 0, 0x04) | 0x01000000;  // register 0x104
  EXPECT_EQ(ConfigRead(Extended, 0xCFC, 4), 0x00100000u);
  ConfigWrite(Word(0, 0x18, 4, 0x44), 0xCFC, 4, 1);
  EXPECT_EQ(ConfigRead(Extended, 0xCFC, 4), 0xE0000104u);
  // Another node's enable does not count for processor 0.
  ConfigWrite(Word(0, 0x18, 4, 0x44), 0xCFC, 4, 0);
  Processor.CpuIdLeaf1Ebx = 0x10000000;  // APIC ID 0x10: node 1, which has no device
  EXPECT_EQ(ConfigRead(Extended, 0xCFC, 4), 0x00100000u);
}

TEST_F(PciModelTest, ConfigurationCycles_FollowBusNumbersThroughBridges) {
  auto& Upstream = Host.Root().Add<Sim::PciBridge>(1, 0);
  auto& Downstream = Upstream.Secondary().Add<Sim::PciBridge>(4, 0);
  auto& Leaf = Downstream.Secondary().Add<Sim::PciFunction>(0, 0, 0x8086, 0xAAAA, 0x070002, 0);
  // Buses not yet assigned: nothing behind the bridges answers.
  EXPECT_EQ(ConfigRead(Word(2, 0, 0, 0), 0xCFC, 4), 0xFFFFFFFFu);
  ConfigWrite(Word(0, 1, 0, PrimaryBus), 0xCFC, 4, 0x00030100);
  ConfigWrite(Word(1, 4, 0, PrimaryBus), 0xCFC, 4, 0x00030301);
  EXPECT_EQ(Upstream.SubordinateBusNumber(), 3);
  EXPECT_EQ(ConfigRead(Word(3, 0, 0, 0), 0xCFC, 4), 0xAAAA8086u);
  EXPECT_EQ(ConfigRead(Word(2, 0, 0, 0), 0xCFC, 4), 0xFFFFFFFFu);
  EXPECT_EQ(ConfigRead(Word(4, 0, 0, 0), 0xCFC, 4), 0xFFFFFFFFu);
  EXPECT_EQ(Host.Route(3, 0, 0), &Leaf);
  const Sim::PciHostBridge::Cycle Last{false, 4, 0, 0, 0, 4, 0xFFFFFFFF, false};
  EXPECT_EQ(Host.Cycles().back(), Last);
}

TEST_F(PciModelTest, IoUart_AnswersOnlyWhenEveryHopDecodes) {
  LatchDevice Uart;
  Uart.PortValues[0x3FD] = 0x60;
  auto& Bridge = Host.Root().Add<Sim::PciBridge>(1, 0, Sim::PciBridge::Options{.PowerManagementAt = 0x40});
  Bridge.SetBusNumbers(0, 1, 1);
  Bridge.SetIoWindow(0x2000, 0x2FFF);
  auto& Function = Bridge.Secondary().Add<Sim::PciUartFunction>(
      0, 0, Uart, 0x3F8, Sim::PciUartFunction::Options{.UartBar = 1, .PowerState = 3});
  Function.Set32(Bar0 + 4, 0x2009);
  Host.Refresh();

  // Opened step by step through configuration cycles.
  const auto Answers = [&](uint16_t Port) { return Processor.PortIn(Port, 1) == 0x60; };
  EXPECT_FALSE(Answers(0x200D));
  ConfigWrite(Word(1, 0, 0, Command), 0xCFC, 2, CommandIoSpace);
  EXPECT_FALSE(Answers(0x200D));  // the UART is in D3
  ConfigWrite(Word(1, 0, 0, 0x44), 0xCFC, 2, 0);
  EXPECT_FALSE(Answers(0x200D));  // the bridge does not forward I/O yet
  ConfigWrite(Word(0, 1, 0, Command), 0xCFC, 2, CommandIoSpace);
  EXPECT_TRUE(Answers(0x200D));
  Processor.PortOut(0x2008, 1, 0x41);
  EXPECT_EQ(Uart.PortValues[0x3F8], 0x41u);

  // A BAR outside the bridge's window, or a bridge in D3, hides it again.
  ConfigWrite(Word(1, 0, 0, Bar0 + 4), 0xCFC, 4, 0x3008);
  EXPECT_FALSE(Answers(0x300D));
  EXPECT_FALSE(Answers(0x200D));
  ConfigWrite(Word(1, 0, 0, Bar0 + 4), 0xCFC, 4, 0x2008);
  EXPECT_TRUE(Answers(0x200D));
  ConfigWrite(Word(0, 1, 0, 0x44), 0xCFC, 2, 3);
  EXPECT_FALSE(Function.Placed());
}

// A UART placed over the configuration ports (a BAR of 0xCF8 that a
// firmware filled or a board left) must not take them from the host bridge.
TEST_F(PciModelTest, IoUart_OverTheConfigurationPorts_LeavesThemToTheHostBridge) {
  LatchDevice Uart;
  auto& Function = Host.Root().Add<Sim::PciUartFunction>(2, 0, Uart, 0x3F8, Sim::PciUartFunction::Options{});
  Function.Set32(Bar0, 0x0CF9);
  Function.Set16(Command, CommandIoSpace);
  Host.Refresh();
  ASSERT_TRUE(Function.Placed());
  Processor.PortOut(0xCF8, 4, 0xF9F9F9F9);
  EXPECT_EQ(Processor.PortIn(0xCF8, 4), 0xF9F9F9F9u);
  EXPECT_EQ(ConfigRead(Word(0, 2, 0, Bar0), 0xCFC, 4) & ~7u, 0x0CF8u);
}

TEST_F(PciModelTest, MemoryUart_ReachesItsRegistersAsBytes) {
  LatchDevice Uart;
  Uart.PortValues[0x2FD] = 0x60;
  auto& Bridge = Host.Root().Add<Sim::PciBridge>(2, 0);
  Bridge.SetBusNumbers(0, 1, 1);
  Bridge.SetMemoryWindow(0xFE800000, 0xFE8FFFFF);
  auto& Function = Bridge.Secondary().Add<Sim::PciUartFunction>(
      0, 0, Uart, 0x2F8, Sim::PciUartFunction::Options{.Kind = Sim::PciBarKind::Memory32, .PowerManagementAt = 0});
  Function.Set32(Bar0, 0xFE801000);
  Function.Set16(Command, CommandMemorySpace);
  Host.Refresh();
  EXPECT_FALSE(Function.Placed());  // the bridge forwards no memory yet
  ConfigWrite(Word(0, 2, 0, Command), 0xCFC, 2, CommandMemorySpace);
  ASSERT_TRUE(Function.Placed());
  EXPECT_EQ(Processor.MemoryIn(reinterpret_cast<const volatile uint8_t*>(uintptr_t{0xFE801005})), 0x60);
  // A memory window that no longer covers the BAR takes it off the bus.
  ConfigWrite(Word(0, 2, 0, MemoryBase), 0xCFC, 4, 0xFE90FE90);
  EXPECT_FALSE(Function.Placed());
}
