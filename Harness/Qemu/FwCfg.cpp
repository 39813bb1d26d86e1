// fw_cfg through the selector port (16-bit writes) and the data port (byte
// reads); the directory's numbers are big-endian.
#include "FwCfg.h"

#include "Instructions.h"

namespace {
constexpr UINT16 SelectorPort = 0x510;
constexpr UINT16 DataPort = 0x511;
constexpr UINT16 SignatureSelector = 0x0000;
constexpr UINT16 DirectorySelector = 0x0019;
constexpr UINT32 DirectoryEntryBytes = 64;  // size, selector, reserved, name
constexpr UINT8 Signature[] = {'Q', 'E', 'M', 'U'};

UINT8 Next() { return Cpu::In8(DataPort); }

UINT32 NextBigEndian(UINT32 Bytes) {
  UINT32 Value = 0;
  for (UINT32 Index = 0; Index < Bytes; ++Index) {
    Value = (Value << 8) | Next();
  }
  return Value;
}

void Skip(UINT32 Bytes) {
  for (UINT32 Index = 0; Index < Bytes; ++Index) {
    Next();
  }
}
}  // namespace

namespace FwCfg {
bool Present() {
  Cpu::Out16(SelectorPort, SignatureSelector);
  for (const UINT8 Expected : Signature) {
    if (Next() != Expected) {
      return false;
    }
  }
  return true;
}

UINT32 ItemCount() {
  Cpu::Out16(SelectorPort, DirectorySelector);
  return NextBigEndian(4);
}

Item ItemAt(UINT32 Index) {
  Cpu::Out16(SelectorPort, DirectorySelector);
  Skip(4 + Index * DirectoryEntryBytes);
  Item Result = {};
  Result.Size = NextBigEndian(4);
  Result.Selector = static_cast<UINT16>(NextBigEndian(2));
  Skip(2);
  for (UINT32 Character = 0; Character < NameBytes; ++Character) {
    Result.Name[Character] = static_cast<CHAR8>(Next());
  }
  Result.Name[NameBytes - 1] = 0;
  return Result;
}

UINT32 Read(const Item& Which, UINT8* Into, UINT32 Limit) {
  Cpu::Out16(SelectorPort, Which.Selector);
  const UINT32 Count = Which.Size < Limit ? Which.Size : Limit;
  for (UINT32 Index = 0; Index < Count; ++Index) {
    Into[Index] = Next();
  }
  return Count;
}
}  // namespace FwCfg
