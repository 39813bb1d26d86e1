// Finds a PE32 image's headers; see PeHeaders.h.
#include "PeHeaders.h"

using namespace PeFormat;

PeHeaders::Missing PeHeaders::Read(const UINT8* Image, UINT32 Size) {
  File = Image;
  Bytes = Size;
  if (Size < 2 || Read16(File) != DosSignature) {
    return Missing::MzHeader;
  }
  if (Size < 0x40) {
    return Missing::MzHeaderCut;
  }
  Pe = Read32(File + DosNewHeaderOffset);
  // The fixed part of the optional header, up to its directories, must be
  // there: every field but the directories and sections is read from it.
  const bool Signed = Within(Pe, 4, Size) && Read32(File + Pe) == PeSignature;
  if (Signed && !Within(Pe, OptionalHeader + OptDirectories, Size)) {
    return Missing::PeHeadersCut;
  }
  if (!Signed) {
    return Missing::PeSignature;
  }
  Coff = File + Pe;
  return Missing::Nothing;
}

PeSection PeHeaders::Section(UINT32 Index) const {
  const UINT8* Header = File + SectionTable() + Index * SectionHeaderSize;
  return {Header,
          Read32(Header + SectionRva),
          Read32(Header + SectionVirtualSize),
          Read32(Header + SectionRawSize),
          Read32(Header + SectionRawOffset),
          Read32(Header + SectionCharacteristics)};
}
