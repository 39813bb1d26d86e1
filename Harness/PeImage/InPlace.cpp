// Header checks for an execute-in-place PE32 image.
#include "InPlace.h"

#include "PeFormat.h"

using namespace PeFormat;

const CHAR8* CheckImageInPlace(UINT32 Address, UINT32 Size, LoadedImage& Image) {
  Image = {};
  const UINT8* File = reinterpret_cast<const UINT8*>(static_cast<UINTN>(Address));
  if (Size < 0x40 || Read16(File) != DosSignature) {
    return "no MZ header";
  }
  const UINT32 Pe = Read32(File + DosNewHeaderOffset);
  if (!Within(Pe, OptionalHeader + OptDirectories, Size) || Read32(File + Pe) != PeSignature) {
    return "no PE signature";
  }
  const UINT8* Coff = File + Pe;
  const UINT8* Optional = Coff + OptionalHeader;
  const UINT32 OptionalSize = Read16(Coff + CoffOptionalHeaderSize);
  if (Read16(Coff + CoffMachine) != MachineI386 || (Read16(Coff + CoffCharacteristics) & ExecutableImage) == 0 ||
      OptionalSize < OptDirectories || !Within(Pe + OptionalHeader, OptionalSize, Size) ||
      Read16(Optional + OptMagic) != Pe32Magic) {
    return "not an executable PE32 image for i386";
  }
  if (Read16(Optional + OptSubsystem) != SubsystemBootServiceDriver) {
    return "subsystem is not EFI boot service driver";
  }
  const UINT32 DirectoryCount = Read32(Optional + OptDirectoryCount);
  if (DirectoryCount > ImportDirectory && OptDirectories + (ImportDirectory + 1) * 8 <= OptionalSize &&
      Read32(Optional + OptDirectories + ImportDirectory * 8 + 4) != 0) {
    return "the image imports symbols";
  }
  if (Read32(Optional + OptSectionAlignment) != Read32(Optional + OptFileAlignment)) {
    return "section alignment differs from file alignment, so the image cannot run in place";
  }
  // Nothing may fix the image up in flash: the build must have rebased it here.
  if (Read32(Optional + OptImageBase) != Address) {
    return "its image base is not the address where it lies: not rebased for this flash";
  }
  Image.Address = Address;
  Image.PreferredBase = Address;
  Image.Size = Read32(Optional + OptSizeOfImage);
  const UINT32 EntryRva = Read32(Optional + OptEntryPoint);
  if (Image.Size > Size || Read32(Optional + OptSizeOfHeaders) > Image.Size || EntryRva >= Image.Size) {
    return "image size, header size or entry point out of range";
  }
  const UINT32 SectionCount = Read16(Coff + CoffSectionCount);
  const UINT32 SectionTable = Pe + OptionalHeader + OptionalSize;
  if (!Within(SectionTable, SectionCount * SectionHeaderSize, Size)) {
    return "section table outside the image";
  }
  for (UINT32 Index = 0; Index < SectionCount; ++Index) {
    const UINT8* Header = File + SectionTable + Index * SectionHeaderSize;
    const UINT32 Rva = Read32(Header + SectionRva);
    const UINT32 VirtualSize = Read32(Header + SectionVirtualSize);
    if (Rva != Read32(Header + SectionRawOffset) || !Within(Rva, VirtualSize, Image.Size)) {
      return "a section's address differs from its file offset, so the image cannot run in place";
    }
    // Flash cannot provide zero-filled memory beyond a section's raw data.
    if (VirtualSize > Read32(Header + SectionRawSize)) {
      return "a section is larger in memory than in the file";
    }
    NoteSection(Image, Header);
  }
  Image.Entry = Address + EntryRva;
  return nullptr;
}
