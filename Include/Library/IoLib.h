// Port I/O and byte-wide memory-mapped register access.
#pragma once

#include "Base.h"

UINT8 PortIn8(UINT16 Port);
UINT8 PortOut8(UINT16 Port, UINT8 Value);
UINT16 PortIn16(UINT16 Port);
UINT16 PortOut16(UINT16 Port, UINT16 Value);
UINT32 PortIn32(UINT16 Port);
UINT32 PortOut32(UINT16 Port, UINT32 Value);

void AccessBarrier();
UINT8 MmioIn8(UINTN Address);
UINT8 MmioOut8(UINTN Address, UINT8 Value);
