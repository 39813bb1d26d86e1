// One reading of a PE32 image's headers for both loaders: where the COFF,
// optional and section headers are and what their fields say, each offset
// checked against the bytes there are. What a loader then requires of the
// image is its own business.
#pragma once

#include "PeFormat.h"

struct PeSection {
  const UINT8* Header;  // for NoteSection
  UINT32 Rva;
  UINT32 VirtualSize;
  UINT32 RawSize;
  UINT32 RawOffset;
  UINT32 Characteristics;
};

struct PeDirectory {
  UINT32 Rva;
  UINT32 Size;
};

class PeHeaders {
public:
  // Why Read found no headers to read.
  enum class Missing : UINT8 { Nothing, MzHeader, MzHeaderCut, PeSignature, PeHeadersCut };

  // Reads the headers of the Size bytes at File; the fields are read only
  // when it returns Missing::Nothing.
  Missing Read(const UINT8* File, UINT32 Size);

  UINT32 PeOffset() const { return Pe; }
  UINT16 Machine() const { return PeFormat::Read16(Coff + PeFormat::CoffMachine); }
  UINT16 Characteristics() const { return PeFormat::Read16(Coff + PeFormat::CoffCharacteristics); }
  UINT32 OptionalSize() const { return PeFormat::Read16(Coff + PeFormat::CoffOptionalHeaderSize); }
  // Whether the optional header, as long as it says it is, lies in the bytes.
  bool OptionalHeaderFits() const { return PeFormat::Within(Pe + PeFormat::OptionalHeader, OptionalSize(), Bytes); }
  UINT16 Magic() const { return Optional16(PeFormat::OptMagic); }
  UINT16 Subsystem() const { return Optional16(PeFormat::OptSubsystem); }
  UINT32 EntryRva() const { return Optional32(PeFormat::OptEntryPoint); }
  UINT32 ImageBase() const { return Optional32(PeFormat::OptImageBase); }
  UINT32 SectionAlignment() const { return Optional32(PeFormat::OptSectionAlignment); }
  UINT32 FileAlignment() const { return Optional32(PeFormat::OptFileAlignment); }
  UINT32 SizeOfImage() const { return Optional32(PeFormat::OptSizeOfImage); }
  UINT32 SizeOfHeaders() const { return Optional32(PeFormat::OptSizeOfHeaders); }
  UINT32 DirectoryCount() const { return Optional32(PeFormat::OptDirectoryCount); }
  // Whether the optional header is long enough to hold directory Index.
  bool HoldsDirectory(UINT32 Index) const {
    return PeFormat::OptDirectories + (Index + 1) * 8 <= OptionalSize();
  }
  PeDirectory Directory(UINT32 Index) const {
    return {Optional32(PeFormat::OptDirectories + Index * 8), Optional32(PeFormat::OptDirectories + Index * 8 + 4)};
  }

  UINT32 SectionCount() const { return PeFormat::Read16(Coff + PeFormat::CoffSectionCount); }
  UINT32 SectionTable() const { return Pe + PeFormat::OptionalHeader + OptionalSize(); }
  bool SectionTableFits() const {
    return PeFormat::Within(SectionTable(), SectionCount() * PeFormat::SectionHeaderSize, Bytes);
  }
  // Section Index of the table; only once SectionTableFits.
  PeSection Section(UINT32 Index) const;

private:
  UINT16 Optional16(UINT32 Offset) const { return PeFormat::Read16(Coff + PeFormat::OptionalHeader + Offset); }
  UINT32 Optional32(UINT32 Offset) const { return PeFormat::Read32(Coff + PeFormat::OptionalHeader + Offset); }

  const UINT8* File = nullptr;
  UINT32 Bytes = 0;
  UINT32 Pe = 0;
  const UINT8* Coff = nullptr;
};
