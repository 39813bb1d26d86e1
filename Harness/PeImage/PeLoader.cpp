// A PE32 loader for one relocatable i386 image with no imports.
#include "PeLoader.h"

#include "PeFormat.h"

namespace {
using namespace PeFormat;

const CHAR8* ApplyRelocations(const UINT8* Directory, UINT32 DirectorySize, UINT8* Base, LoadedImage& Image) {
  const UINT32 Delta = Image.Address - Image.PreferredBase;
  UINT32 Offset = 0;
  while (Offset + 8 <= DirectorySize) {
    const UINT32 PageRva = Read32(Directory + Offset);
    const UINT32 BlockSize = Read32(Directory + Offset + 4);
    if (BlockSize < 8 || !Within(Offset, BlockSize, DirectorySize)) {
      return "a base relocation block overruns its directory";
    }
    for (UINT32 Entry = Offset + 8; Entry + 2 <= Offset + BlockSize; Entry += 2) {
      const UINT16 Fixup = Read16(Directory + Entry);
      const UINT32 Type = Fixup >> 12;
      const UINT32 Target = PageRva + (Fixup & 0xFFF);
      if (Type == RelocAbsolute) {
        continue;
      }
      if (Type != RelocHighLow) {
        return "a base relocation has a type other than HIGHLOW";
      }
      if (!Within(Target, 4, Image.Size)) {
        return "a base relocation points outside the image";
      }
      const UINT32 Value = Read32(Base + Target) + Delta;
      Base[Target] = static_cast<UINT8>(Value);
      Base[Target + 1] = static_cast<UINT8>(Value >> 8);
      Base[Target + 2] = static_cast<UINT8>(Value >> 16);
      Base[Target + 3] = static_cast<UINT8>(Value >> 24);
      ++Image.Relocations;
    }
    Offset += BlockSize;
  }
  return nullptr;
}
}  // namespace

const CHAR8* PlaceImage(const UINT8* File, UINT32 FileSize, UINT32 RunAddress, UINT8* Destination,
                        UINT32 DestinationSize, LoadedImage& Image) {
  Image = {};
  if (FileSize < 2 || Read16(File) != DosSignature) {
    return "not a PE32 image (no MZ header)";
  }
  if (FileSize < 0x40) {
    return "truncated file: it ends inside the MZ header";
  }
  const UINT32 Pe = Read32(File + DosNewHeaderOffset);
  if (Within(Pe, 4, FileSize) && Read32(File + Pe) == PeSignature && !Within(Pe, OptionalHeader + OptDirectories, FileSize)) {
    return "truncated file: it ends inside the PE headers";
  }
  if (!Within(Pe, OptionalHeader + OptDirectories, FileSize) || Read32(File + Pe) != PeSignature) {
    return "not a PE32 image (no PE signature)";
  }
  const UINT8* Coff = File + Pe;
  const UINT8* Optional = Coff + OptionalHeader;
  if (Read16(Coff + CoffMachine) != MachineI386) {
    return "the image is for another machine than i386";
  }
  const UINT16 Characteristics = Read16(Coff + CoffCharacteristics);
  if ((Characteristics & ExecutableImage) == 0 || (Characteristics & RelocationsStripped) != 0) {
    return "not an executable image with relocations";
  }
  if (Read16(Optional + OptMagic) != Pe32Magic) {
    return "optional header is not PE32";
  }
  if (Read16(Optional + OptSubsystem) != SubsystemBootServiceDriver) {
    return "subsystem is not EFI boot service driver";
  }
  const UINT32 OptionalSize = Read16(Coff + CoffOptionalHeaderSize);
  const UINT32 DirectoryCount = Read32(Optional + OptDirectoryCount);
  if (!Within(Pe + OptionalHeader, OptionalSize, FileSize)) {
    return "truncated file: it ends inside the optional header";
  }
  if (DirectoryCount <= RelocationDirectory || DirectoryCount > 16 || OptDirectories + DirectoryCount * 8 > OptionalSize) {
    return "optional header too short for the relocation directory";
  }
  if (Read32(Optional + OptDirectories + ImportDirectory * 8 + 4) != 0) {
    return "the image imports symbols";
  }
  Image.Address = RunAddress;
  Image.PreferredBase = Read32(Optional + OptImageBase);
  Image.Size = Read32(Optional + OptSizeOfImage);
  const UINT32 HeadersSize = Read32(Optional + OptSizeOfHeaders);
  const UINT32 EntryRva = Read32(Optional + OptEntryPoint);
  if (Image.Size > LargestImage || HeadersSize > Image.Size || HeadersSize > FileSize || EntryRva >= Image.Size) {
    return "image size, header size or entry point out of range";
  }
  // Flash images run in place, which needs every RVA to equal its file offset.
  if (Read32(Optional + OptSectionAlignment) != Read32(Optional + OptFileAlignment)) {
    return "section alignment differs from file alignment, so the image cannot run in place";
  }
  if (Image.Size > DestinationSize) {
    return "the image is larger than the memory given for it";
  }

  UINT8* Target = Destination;
  for (UINT32 Index = 0; Index < Image.Size; ++Index) {
    Target[Index] = Index < HeadersSize ? File[Index] : 0;
  }
  const UINT32 SectionCount = Read16(Coff + CoffSectionCount);
  const UINT32 SectionTable = Pe + OptionalHeader + OptionalSize;
  if (!Within(SectionTable, SectionCount * SectionHeaderSize, FileSize)) {
    return "section table outside the file";
  }
  for (UINT32 Index = 0; Index < SectionCount; ++Index) {
    const UINT8* Header = File + SectionTable + Index * SectionHeaderSize;
    const UINT32 Rva = Read32(Header + SectionRva);
    const UINT32 VirtualSize = Read32(Header + SectionVirtualSize);
    const UINT32 RawSize = Read32(Header + SectionRawSize);
    const UINT32 RawOffset = Read32(Header + SectionRawOffset);
    const UINT32 CopySize = RawSize < VirtualSize ? RawSize : VirtualSize;
    if (!Within(Rva, VirtualSize, Image.Size)) {
      return "a section lies outside the image";
    }
    if (!Within(RawOffset, CopySize, FileSize)) {
      return "truncated file: a section's data runs past its end";
    }
    // Flash is read-only: a section that expects writes would fault in place.
    if ((Read32(Header + SectionCharacteristics) & SectionWritable) != 0) {
      return "a section is writable, so the image cannot run in place from flash";
    }
    for (UINT32 Byte = 0; Byte < CopySize; ++Byte) {
      Target[Rva + Byte] = File[RawOffset + Byte];
    }
    NoteSection(Image, Header);
  }

  const UINT32 RelocationRva = Read32(Optional + OptDirectories + RelocationDirectory * 8);
  const UINT32 RelocationSize = Read32(Optional + OptDirectories + RelocationDirectory * 8 + 4);
  if (RelocationSize == 0 || !Within(RelocationRva, RelocationSize, Image.Size)) {
    return "no base relocation directory inside the image";
  }
  if (const CHAR8* Refused = ApplyRelocations(Target + RelocationRva, RelocationSize, Target, Image)) {
    return Refused;
  }
  Image.Entry = RunAddress + EntryRva;
  return nullptr;
}

const CHAR8* LoadImage(const UINT8* File, UINT32 FileSize, UINT32 LoadAddress, LoadedImage& Image) {
  if (FileSize >= OptionalHeader + OptDirectories && Read16(File) == DosSignature) {
    const UINT32 Pe = Read32(File + DosNewHeaderOffset);
    if (Within(Pe, OptionalHeader + OptDirectories, FileSize) && Read32(File + Pe + OptionalHeader + OptImageBase) == LoadAddress) {
      return "the load address equals the image base, so relocations would go untested";
    }
  }
  return PlaceImage(File, FileSize, LoadAddress, reinterpret_cast<UINT8*>(LoadAddress), LargestImage, Image);
}

bool InImage(const LoadedImage& Image, UINT32 Address, UINT32 Size) {
  return Address >= Image.Address && Within(Address - Image.Address, Size, Image.Size);
}

void NoteSection(LoadedImage& Image, const UINT8* Header) {
  if (Image.SectionCount == sizeof(Image.Sections) / sizeof(Image.Sections[0])) {
    return;
  }
  ImageSection& Section = Image.Sections[Image.SectionCount++];
  for (UINT32 Character = 0; Character < 8; ++Character) {
    Section.Name[Character] = static_cast<CHAR8>(Header[Character]);
  }
  Section.Name[8] = 0;
  Section.Rva = PeFormat::Read32(Header + PeFormat::SectionRva);
  Section.Size = PeFormat::Read32(Header + PeFormat::SectionVirtualSize);
}

const CHAR8* SectionOf(const LoadedImage& Image, UINT32 Rva) {
  for (UINT32 Index = 0; Index < Image.SectionCount; ++Index) {
    const ImageSection& Section = Image.Sections[Index];
    if (Rva >= Section.Rva && Rva - Section.Rva < Section.Size) {
      return Section.Name;
    }
  }
  return Rva < Image.Size ? "headers" : "outside";
}
