// TE header checks and the relocating copy; see TeImage.h.
#include "TeImage.h"

using namespace PeFormat;

namespace {
constexpr UINT16 TeSignature = 0x5A56;  // "VZ"
constexpr UINT32 TeMachine = 2;
constexpr UINT32 TeSectionCount = 4;
constexpr UINT32 TeSubsystem = 5;
constexpr UINT32 TeStrippedSize = 6;
constexpr UINT32 TeEntryPoint = 8;
constexpr UINT32 TeImageBase = 16;
constexpr UINT32 TeRelocations = 24;
constexpr UINT32 TeDebug = 32;

// Where an RVA's byte lies in the TE file, for RVAs past the stripped part.
UINT32 FileOffset(UINT32 Rva, const TeImage::Layout& Image) { return Rva - Image.Stripped + TeImage::HeaderBytes; }

// Whether [Rva, Rva + Size) lies in the TE file's bytes past its headers.
bool InFile(UINT32 Rva, UINT32 Size, UINT32 FirstByte, UINT32 FileSize, const TeImage::Layout& Image) {
  return Rva >= Image.Stripped && FileOffset(Rva, Image) >= FirstByte &&
         Within(FileOffset(Rva, Image), Size, FileSize);
}
}  // namespace

namespace TeImage {
const CHAR8* Check(const UINT8* Header, UINT32 Size, Layout& Found) {
  Found = {};
  if (Size < HeaderBytes) {
    return "its TE header is cut short";
  }
  if (Read16(Header) != TeSignature) {
    return "its TE header has no VZ signature";
  }
  if (Read16(Header + TeMachine) != MachineI386) {
    return "its TE header names another machine than i386";
  }
  if (Header[TeSubsystem] != SubsystemBootServiceDriver) {
    return "its TE header's subsystem is not EFI boot service driver";
  }
  Found.Stripped = Read16(Header + TeStrippedSize);
  Found.SectionCount = Header[TeSectionCount];
  Found.EntryRva = Read32(Header + TeEntryPoint);
  Found.ImageBase = Read32(Header + TeImageBase);
  Found.RelocationRva = Read32(Header + TeRelocations);
  Found.RelocationSize = Read32(Header + TeRelocations + 4);
  if (Found.Stripped < HeaderBytes) {
    return "its TE header's stripped size is smaller than the header";
  }
  if (Read32(Header + TeImageBase + 4) != 0) {
    return "its TE header's image base lies above 4 GiB";
  }
  const UINT32 FirstByte = HeaderBytes + Found.SectionCount * SectionHeaderSize;
  if (FirstByte > Size) {
    return "its TE section table runs past the image";
  }
  for (UINT32 Index = 0; Index < Found.SectionCount; ++Index) {
    const UINT8* Section = Header + HeaderBytes + Index * SectionHeaderSize;
    const UINT32 Rva = Read32(Section + SectionRva);
    const UINT32 VirtualSize = Read32(Section + SectionVirtualSize);
    const UINT32 RawSize = Read32(Section + SectionRawSize);
    // Executing in place needs every section's memory to be its file bytes.
    if (Read32(Section + SectionRawOffset) != Rva || VirtualSize > RawSize) {
      return "a TE section is laid out otherwise in memory than in the file";
    }
    if (!InFile(Rva, RawSize, FirstByte, Size, Found)) {
      return "a TE section's data lies outside the image";
    }
    if ((Read32(Section + SectionCharacteristics) & SectionWritable) != 0) {
      return "a TE section is writable, so the image cannot run from flash";
    }
  }
  if (!InFile(Found.EntryRva, 1, FirstByte, Size, Found)) {
    return "its TE entry point lies outside the image";
  }
  if (Found.RelocationSize != 0 && !InFile(Found.RelocationRva, Found.RelocationSize, FirstByte, Size, Found)) {
    return "its TE relocation directory lies outside the image";
  }
  const UINT32 DebugSize = Read32(Header + TeDebug + 4);
  if (DebugSize != 0 && !InFile(Read32(Header + TeDebug), DebugSize, FirstByte, Size, Found)) {
    return "its TE debug directory lies outside the image";
  }
  return nullptr;
}

void Describe(UINT32 Address, UINT32 Size, const Layout& Image, LoadedImage& Loaded) {
  Loaded = {};
  Loaded.Address = BaseFor(Address, Image);
  Loaded.PreferredBase = Image.ImageBase;
  Loaded.Size = Size + Image.Stripped - HeaderBytes;
  Loaded.Unbacked = Image.Stripped - HeaderBytes;
  Loaded.Entry = Loaded.Address + Image.EntryRva;
  const UINT8* Table = reinterpret_cast<const UINT8*>(static_cast<UINTN>(Address)) + HeaderBytes;
  for (UINT32 Index = 0; Index < Image.SectionCount; ++Index) {
    NoteSection(Loaded, Table + Index * SectionHeaderSize);
  }
}

const CHAR8* Relocate(const UINT8* Header, UINT32 Size, const Layout& Image, UINT8* Destination,
                      UINT32 DestinationSize, LoadedImage& Loaded) {
  const UINT32 Skipped = Image.Stripped - HeaderBytes;
  if (!Within(Skipped, Size, DestinationSize)) {
    return "the TE image is larger than the memory given for it";
  }
  if (Image.RelocationSize == 0) {
    return "it is not rebased for this address and has no relocations";
  }
  for (UINT32 Index = 0; Index < Skipped + Size; ++Index) {
    Destination[Index] = Index < Skipped ? 0 : Header[Index - Skipped];
  }
  // With its header Skipped bytes in, the copy's image base is Destination.
  Describe(static_cast<UINT32>(reinterpret_cast<UINTN>(Destination)) + Skipped, Size, Image, Loaded);
  return ApplyRelocations(Destination + Image.RelocationRva, Image.RelocationSize, Destination, Loaded);
}
}  // namespace TeImage
