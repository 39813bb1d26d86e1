// Header checks for an execute-in-place PE32 image.
#include "InPlace.h"

#include "PeHeaders.h"

using namespace PeFormat;

const CHAR8* CheckImageInPlace(UINT32 Address, UINT32 Size, LoadedImage& Image) {
  Image = {};
  PeHeaders Headers;
  switch (Headers.Read(reinterpret_cast<const UINT8*>(static_cast<UINTN>(Address)), Size)) {
    case PeHeaders::Missing::MzHeader:
    case PeHeaders::Missing::MzHeaderCut:
      return "no MZ header";
    case PeHeaders::Missing::PeSignature:
    case PeHeaders::Missing::PeHeadersCut:
      return "no PE signature";
    case PeHeaders::Missing::Nothing:
      break;
  }
  if (Headers.Machine() != MachineI386 || (Headers.Characteristics() & ExecutableImage) == 0 ||
      Headers.OptionalSize() < OptDirectories || !Headers.OptionalHeaderFits() || Headers.Magic() != Pe32Magic) {
    return "not an executable PE32 image for i386";
  }
  if (Headers.Subsystem() != SubsystemBootServiceDriver) {
    return "subsystem is not EFI boot service driver";
  }
  if (Headers.DirectoryCount() > ImportDirectory && Headers.HoldsDirectory(ImportDirectory) &&
      Headers.Directory(ImportDirectory).Size != 0) {
    return "the image imports symbols";
  }
  if (Headers.SectionAlignment() != Headers.FileAlignment()) {
    return "section alignment differs from file alignment, so the image cannot run in place";
  }
  // Nothing may fix the image up in flash: the build must have rebased it here.
  if (Headers.ImageBase() != Address) {
    return "its image base is not the address where it lies: not rebased for this flash";
  }
  Image.Address = Address;
  Image.PreferredBase = Address;
  Image.Size = Headers.SizeOfImage();
  const UINT32 EntryRva = Headers.EntryRva();
  if (Image.Size > Size || Headers.SizeOfHeaders() > Image.Size || EntryRva >= Image.Size) {
    return "image size, header size or entry point out of range";
  }
  if (!Headers.SectionTableFits()) {
    return "section table outside the image";
  }
  for (UINT32 Index = 0; Index < Headers.SectionCount(); ++Index) {
    const PeSection Section = Headers.Section(Index);
    if (Section.Rva != Section.RawOffset || !Within(Section.Rva, Section.VirtualSize, Image.Size)) {
      return "a section's address differs from its file offset, so the image cannot run in place";
    }
    // Flash cannot provide zero-filled memory beyond a section's raw data.
    if (Section.VirtualSize > Section.RawSize) {
      return "a section is larger in memory than in the file";
    }
    NoteSection(Image, Section.Header);
  }
  Image.Entry = Address + EntryRva;
  return nullptr;
}
