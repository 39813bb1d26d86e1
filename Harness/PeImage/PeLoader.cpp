// A PE32 loader for one relocatable i386 image with no imports.
#include "PeLoader.h"

#include "PeHeaders.h"

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

const CHAR8* PlaceImage(const UINT8* File, UINT32 FileSize, UINT32 RunAddress, UINT8* Destination,
                        UINT32 DestinationSize, LoadedImage& Image) {
  Image = {};
  PeHeaders Headers;
  switch (Headers.Read(File, FileSize)) {
    case PeHeaders::Missing::MzHeader:
      return "not a PE32 image (no MZ header)";
    case PeHeaders::Missing::MzHeaderCut:
      return "truncated file: it ends inside the MZ header";
    case PeHeaders::Missing::PeHeadersCut:
      return "truncated file: it ends inside the PE headers";
    case PeHeaders::Missing::PeSignature:
      return "not a PE32 image (no PE signature)";
    case PeHeaders::Missing::Nothing:
      break;
  }
  if (Headers.Machine() != MachineI386) {
    return "the image is for another machine than i386";
  }
  const UINT16 Characteristics = Headers.Characteristics();
  if ((Characteristics & ExecutableImage) == 0 || (Characteristics & RelocationsStripped) != 0) {
    return "not an executable image with relocations";
  }
  if (Headers.Magic() != Pe32Magic) {
    return "optional header is not PE32";
  }
  if (Headers.Subsystem() != SubsystemBootServiceDriver) {
    return "subsystem is not EFI boot service driver";
  }
  if (!Headers.OptionalHeaderFits()) {
    return "truncated file: it ends inside the optional header";
  }
  const UINT32 DirectoryCount = Headers.DirectoryCount();
  if (DirectoryCount <= RelocationDirectory || DirectoryCount > 16 || !Headers.HoldsDirectory(DirectoryCount - 1)) {
    return "optional header too short for the relocation directory";
  }
  if (Headers.Directory(ImportDirectory).Size != 0) {
    return "the image imports symbols";
  }
  Image.Address = RunAddress;
  Image.PreferredBase = Headers.ImageBase();
  Image.Size = Headers.SizeOfImage();
  const UINT32 HeadersSize = Headers.SizeOfHeaders();
  const UINT32 EntryRva = Headers.EntryRva();
  if (Image.Size > LargestImage || HeadersSize > Image.Size || HeadersSize > FileSize || EntryRva >= Image.Size) {
    return "image size, header size or entry point out of range";
  }
  // Flash images run in place, which needs every RVA to equal its file offset.
  if (Headers.SectionAlignment() != Headers.FileAlignment()) {
    return "section alignment differs from file alignment, so the image cannot run in place";
  }
  if (Image.Size > DestinationSize) {
    return "the image is larger than the memory given for it";
  }

  UINT8* Target = Destination;
  for (UINT32 Index = 0; Index < Image.Size; ++Index) {
    Target[Index] = Index < HeadersSize ? File[Index] : 0;
  }
  if (!Headers.SectionTableFits()) {
    return "section table outside the file";
  }
  for (UINT32 Index = 0; Index < Headers.SectionCount(); ++Index) {
    const PeSection Section = Headers.Section(Index);
    const UINT32 CopySize = Section.RawSize < Section.VirtualSize ? Section.RawSize : Section.VirtualSize;
    if (!Within(Section.Rva, Section.VirtualSize, Image.Size)) {
      return "a section lies outside the image";
    }
    if (!Within(Section.RawOffset, CopySize, FileSize)) {
      return "truncated file: a section's data runs past its end";
    }
    // Flash is read-only: a section that expects writes would fault in place.
    if ((Section.Characteristics & SectionWritable) != 0) {
      return "a section is writable, so the image cannot run in place from flash";
    }
    for (UINT32 Byte = 0; Byte < CopySize; ++Byte) {
      Target[Section.Rva + Byte] = File[Section.RawOffset + Byte];
    }
    NoteSection(Image, Section.Header);
  }

  const PeDirectory Relocations = Headers.Directory(RelocationDirectory);
  if (Relocations.Size == 0 || !Within(Relocations.Rva, Relocations.Size, Image.Size)) {
    return "no base relocation directory inside the image";
  }
  if (const CHAR8* Refused = ApplyRelocations(Target + Relocations.Rva, Relocations.Size, Target, Image)) {
    return Refused;
  }
  Image.Entry = RunAddress + EntryRva;
  return nullptr;
}

const CHAR8* LoadImage(const UINT8* File, UINT32 FileSize, UINT32 LoadAddress, LoadedImage& Image) {
  PeHeaders Headers;
  if (Headers.Read(File, FileSize) == PeHeaders::Missing::Nothing && Headers.ImageBase() == LoadAddress) {
    return "the load address equals the image base, so relocations would go untested";
  }
  return PlaceImage(File, FileSize, LoadAddress, reinterpret_cast<UINT8*>(LoadAddress), LargestImage, Image);
}

bool InImage(const LoadedImage& Image, UINT32 Address, UINT32 Size) {
  return Address >= Image.Address + Image.Unbacked && Within(Address - Image.Address, Size, Image.Size);
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
