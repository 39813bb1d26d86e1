// PCI configuration registers through the 0xCF8/0xCFC pair, with the extended
// registers reached through the processor's node enable register.
#include "Library/BaseLib.h"
#include "Library/DebugLib.h"
#include "Library/IoLib.h"
#include "Library/PciCf8Lib.h"

namespace {
// Check sites: the line numbers are fixed report coordinates, not lines of this file.
constexpr const CHAR8* Path = "Override/Library/BasePciCf8Lib/PciCf8Lib.cpp";
constexpr CheckSite Read8Address = {Path, 128, "((Address) & (~0xffff0ff | (0))) == 0"};
constexpr CheckSite Read16Address = {Path, 620, "((Address) & (~0xffff0ff | (1))) == 0"};
constexpr CheckSite Or16Address = {Path, 705, "((Address) & (~0xffff0ff | (1))) == 0"};
constexpr CheckSite And16Address = {Path, 751, "((Address) & (~0xffff0ff | (1))) == 0"};

// Bits that an 8-bit access must leave clear: bits 28..31 and register 8..11.
constexpr UINT32 ByteAddressReserved = ~0x0FFFF0FFu;
// A 16-bit access must also be 2-byte aligned.
constexpr UINT32 WordAddressReserved = ~0x0FFFF0FFu | 1;

constexpr UINT16 ByteDataPort(UINT32 Address) { return static_cast<UINT16>(PciCf8::DataPort + (Address & 3)); }
constexpr UINT16 WordDataPort(UINT32 Address) { return static_cast<UINT16>(PciCf8::DataPort + (Address & 2)); }

// Whatever an interrupted owner of the pair had latched in 0xCF8 is put back.
class AddressPortSave {
public:
  AddressPortSave() : Saved(PortIn32(PciCf8::AddressPort)) {}
  ~AddressPortSave() { PortOut32(PciCf8::AddressPort, Saved); }
  AddressPortSave(const AddressPortSave&) = delete;
  AddressPortSave& operator=(const AddressPortSave&) = delete;

private:
  UINT32 Saved;
};

// One use of the pair: interrupts masked, 0xCF8 saved, the address latched.
// The members are undone in reverse, so 0xCF8 is put back before interrupts
// come back.
class ConfigCycle {
public:
  explicit ConfigCycle(UINT32 AddressWord) { PortOut32(PciCf8::AddressPort, AddressWord); }
  ConfigCycle(const ConfigCycle&) = delete;
  ConfigCycle& operator=(const ConfigCycle&) = delete;

private:
  InterruptMask Masked;
  AddressPortSave Latch;
};

// Extended registers answer only while the node enable register holds 1; the
// register gets its previous value back afterwards. Both steps lie outside
// the interrupt bracket, and 0xCF8 is left holding the enable register's word.
class ExtendedRegisterEnable {
public:
  ExtendedRegisterEnable() : EnableWord(NodeEnableWord()) {
    PortOut32(PciCf8::AddressPort, EnableWord);
    Saved = PortIn32(PciCf8::DataPort);
    PortOut32(PciCf8::DataPort, PciCf8::NodeExtendedEnableOn);
  }
  ~ExtendedRegisterEnable() {
    PortOut32(PciCf8::AddressPort, EnableWord);
    PortOut32(PciCf8::DataPort, Saved);
  }
  ExtendedRegisterEnable(const ExtendedRegisterEnable&) = delete;
  ExtendedRegisterEnable& operator=(const ExtendedRegisterEnable&) = delete;

private:
  static UINT32 NodeEnableWord() {
    UINT32 Ebx = 0;
    CpuIdQuery(1, nullptr, &Ebx, nullptr, nullptr);
    return PciCf8NodeEnableAddressWord(Ebx);
  }

  UINT32 EnableWord;
  UINT32 Saved = 0;
};

constexpr bool IsExtendedRegister(UINT32 Address) { return (Address & PciCf8::ExtendedRegisterBits) != 0; }

UINT32 Read32AtWord(UINT32 AddressWord) {
  const ConfigCycle Cycle(AddressWord);
  return PortIn32(PciCf8::DataPort);
}

void Write32AtWord(UINT32 AddressWord, UINT32 Value) {
  const ConfigCycle Cycle(AddressWord);
  PortOut32(PciCf8::DataPort, Value);
}
}  // namespace

UINT16 PortOr16(UINT16 Port, UINT16 OrData) {
  return PortOut16(Port, static_cast<UINT16>(PortIn16(Port) | OrData));
}

UINT16 PortAnd16(UINT16 Port, UINT16 AndData) {
  return PortOut16(Port, static_cast<UINT16>(PortIn16(Port) & AndData));
}

// A bad address is reported and then used all the same; the address word
// keeps only what mechanism 1 can carry.
UINT8 PciCfgRead8(UINT32 Address) {
  Check((Address & ByteAddressReserved) == 0, Read8Address);
  const ConfigCycle Cycle(PciCf8AddressWord(Address));
  return PortIn8(ByteDataPort(Address));
}

UINT16 PciCfgRead16(UINT32 Address) {
  Check((Address & WordAddressReserved) == 0, Read16Address);
  const ConfigCycle Cycle(PciCf8AddressWord(Address));
  return PortIn16(WordDataPort(Address));
}

UINT16 PciCfgOr16(UINT32 Address, UINT16 OrData) {
  Check((Address & WordAddressReserved) == 0, Or16Address);
  const ConfigCycle Cycle(PciCf8AddressWord(Address));
  return PortOr16(WordDataPort(Address), OrData);
}

UINT16 PciCfgAnd16(UINT32 Address, UINT16 AndData) {
  Check((Address & WordAddressReserved) == 0, And16Address);
  const ConfigCycle Cycle(PciCf8AddressWord(Address));
  return PortAnd16(WordDataPort(Address), AndData);
}

UINT32 PciCfgRead32(UINT32 Address) {
  if (!IsExtendedRegister(Address)) {
    return Read32AtWord(PciCf8AddressWord(Address));
  }
  const UINT32 AddressWord = PciCf8ExtendedAddressWord(Address);
  const ExtendedRegisterEnable Enabled;
  return Read32AtWord(AddressWord);
}

UINT32 PciCfgWrite32(UINT32 Address, UINT32 Value) {
  if (!IsExtendedRegister(Address)) {
    Write32AtWord(PciCf8AddressWord(Address), Value);
    return Value;
  }
  const UINT32 AddressWord = PciCf8ExtendedAddressWord(Address);
  const ExtendedRegisterEnable Enabled;
  Write32AtWord(AddressWord, Value);
  return Value;
}
