// Builds the bridges and the UART function of the build's UartPciDeviceList.
#include "PciTopology.h"

#include <cstdio>
#include <memory>

#include "BuildSettings.h"
#include "ListedTopology.h"

struct PciWay::Parts {
  std::unique_ptr<Listed::Topology> Way;
};

PciWay::PciWay(Sim::Board& Board) {
  if constexpr (Settings::UartPciDeviceList[0].Device != UartPciDeviceListEnd) {
    // The PCI function's registers are those of the first UART model.
    Built = new Parts{std::make_unique<Listed::Topology>(Board.Pci(), Board.Com1(), Sim::Board::Com1Base)};
  }
}

PciWay::~PciWay() { delete Built; }

std::string PciWay::Describe() {
  if (Built == nullptr) {
    return "";
  }
  Listed::Topology& Way = *Built->Way;
  std::string Line;
  char Text[96];
  for (unsigned Index = 0; Index <= Listed::Bridges; ++Index) {
    const UartPciDevice& Hop = Listed::Hop(Index);
    const Sim::PciFunction& Function = Way.HopFunction(Index);
    std::snprintf(Text, sizeof Text, "%s%02X:%02X.%X %s cmd %04X", Index == 0 ? "" : " -> ", Way.Bus[Index],
                  Hop.Device, Hop.Function, Index < Listed::Bridges ? "bridge" : "UART", Function.Read16(0x04));
    Line += Text;
  }
  std::snprintf(Text, sizeof Text, ", UART %s at 0x%X", Way.Uart->Placed() ? "decoding" : "not reachable",
                Way.Uart->UartAddress());
  return Line + Text;
}

std::optional<uint32_t> PciWay::UartAddress() const {
  if (Built == nullptr) {
    return std::nullopt;
  }
  return Built->Way->Uart->UartAddress();
}

bool PciWay::UartInMemory() const { return Built != nullptr && Built->Way->Uart->UsesMemory(); }

const Sim::PciUartFunction* PciWay::UartFunction() const { return Built == nullptr ? nullptr : Built->Way->Uart; }
