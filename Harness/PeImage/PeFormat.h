// The PE/COFF header layout our loaders read, and little-endian reads of it.
#pragma once

#include "Base.h"

namespace PeFormat {
// Offsets in the headers, as Microsoft documents the PE/COFF format.
inline constexpr UINT32 DosSignature = 0x5A4D;  // "MZ"
inline constexpr UINT32 DosNewHeaderOffset = 0x3C;
inline constexpr UINT32 PeSignature = 0x00004550;  // "PE\0\0"
inline constexpr UINT32 CoffMachine = 4;
inline constexpr UINT32 CoffSectionCount = 6;
inline constexpr UINT32 CoffOptionalHeaderSize = 20;
inline constexpr UINT32 CoffCharacteristics = 22;
inline constexpr UINT32 OptionalHeader = 24;
inline constexpr UINT32 OptMagic = 0;
inline constexpr UINT32 OptEntryPoint = 16;
inline constexpr UINT32 OptImageBase = 28;
inline constexpr UINT32 OptSectionAlignment = 32;
inline constexpr UINT32 OptFileAlignment = 36;
inline constexpr UINT32 OptSizeOfImage = 56;
inline constexpr UINT32 OptSizeOfHeaders = 60;
inline constexpr UINT32 OptSubsystem = 68;
inline constexpr UINT32 OptDirectoryCount = 92;
inline constexpr UINT32 OptDirectories = 96;
inline constexpr UINT32 ImportDirectory = 1;
inline constexpr UINT32 RelocationDirectory = 5;
inline constexpr UINT32 SectionHeaderSize = 40;
inline constexpr UINT32 SectionVirtualSize = 8;
inline constexpr UINT32 SectionRva = 12;
inline constexpr UINT32 SectionRawSize = 16;
inline constexpr UINT32 SectionRawOffset = 20;
inline constexpr UINT32 SectionCharacteristics = 36;

inline constexpr UINT16 MachineI386 = 0x014C;
inline constexpr UINT16 Pe32Magic = 0x010B;
inline constexpr UINT16 SubsystemBootServiceDriver = 0x0B;
inline constexpr UINT16 ExecutableImage = 0x0002;
inline constexpr UINT16 RelocationsStripped = 0x0001;
inline constexpr UINT32 RelocAbsolute = 0;
inline constexpr UINT32 RelocHighLow = 3;
inline constexpr UINT32 SectionWritable = 0x80000000;  // IMAGE_SCN_MEM_WRITE
inline constexpr UINT32 LargestImage = 1u << 20;

inline UINT16 Read16(const UINT8* At) { return static_cast<UINT16>(At[0] | (At[1] << 8)); }
inline UINT32 Read32(const UINT8* At) { return Read16(At) | (static_cast<UINT32>(Read16(At + 2)) << 16); }

// True when [Offset, Offset + Size) lies within Limit, without overflow.
inline bool Within(UINT32 Offset, UINT32 Size, UINT32 Limit) { return Offset <= Limit && Size <= Limit - Offset; }
}  // namespace PeFormat
