// Firmware volumes (FFS2), firmware files and their sections as they lie in
// flash, and PEI dependency expressions: what the PEI core reads before it
// trusts a byte of a module. Every read stays inside the volume or file that
// its header claims and that was checked to lie inside the flash.
#pragma once

#include "Base.h"

namespace Ffs {
inline constexpr UINT8 FileTypeSecurityCore = 0x03;
inline constexpr UINT8 FileTypePeim = 0x06;
inline constexpr UINT8 FileTypePad = 0xF0;
inline constexpr UINT8 SectionPe32 = 0x10;
inline constexpr UINT8 SectionTe = 0x12;
inline constexpr UINT8 SectionUserInterface = 0x15;
inline constexpr UINT8 SectionPeiDepex = 0x1B;

struct Volume {
  UINT32 Address;
  UINT32 Length;
  UINT32 FirstFile;  // offset of the first file header
  bool ErasePolarity;
};

// True when a volume signature lies at Address (a candidate for CheckVolume).
bool HasVolumeSignature(UINT32 Address);
// Null when the volume at Address, with Room bytes of flash from there, has a
// sound header; otherwise why not.
const CHAR8* CheckVolume(UINT32 Address, UINT32 Room, Volume& Found);

struct File {
  UINT32 Address;  // of its header: the file handle a PEIM receives
  const EFI_GUID* Name;
  UINT8 Type;
  UINT32 Data;  // address of the data after the header
  UINT32 DataSize;
};

enum class Step : UINT8 {
  Found,   // a good file
  Skip,    // a file to pass over (Why says why when it was bad); the walk goes on
  End,     // free space: no more files
  Broken,  // the walk cannot go on in this volume (Why)
};
struct FileStep {
  Step Kind;
  const CHAR8* Why;
  File Found;
  UINT32 Next;  // offset of the next file
};
// Reads the file header at Offset in the volume and checks the file.
FileStep ReadFile(const Volume& In, UINT32 Offset);

struct Span {
  UINT32 Address;  // 0 when absent
  UINT32 Size;
};
struct FileSections {
  Span Depex;
  Span Pe32;
  Span Te;
  Span Name;
  const CHAR8* Problem;  // a section that breaks out of the file
};
// The first dependency, PE32, TE and user-interface sections of the file.
FileSections FindSections(const File& Which);

enum class Verdict : UINT8 { True, False, Malformed };
struct Evaluation {
  Verdict Result;
  const CHAR8* Why;  // when malformed
};
// Evaluates a PEI dependency expression; PUSH asks Installed about its GUID.
Evaluation EvaluateDepex(const UINT8* Expression, UINT32 Size, bool (*Installed)(const EFI_GUID&, void*),
                         void* Context);
}  // namespace Ffs
