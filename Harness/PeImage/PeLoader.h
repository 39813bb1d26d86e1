// Loads the module's PE32 image as a PEI Foundation would: checks its
// headers, copies the sections to the load address and applies the base
// relocations.
#pragma once

#include "Base.h"

struct ImageSection {
  CHAR8 Name[9];
  UINT32 Rva;
  UINT32 Size;
};

struct LoadedImage {
  UINT32 Address;        // where it was loaded
  UINT32 Size;           // SizeOfImage
  UINT32 PreferredBase;  // ImageBase from the headers
  UINT32 Entry;          // absolute entry point
  UINT32 Relocations;    // HIGHLOW fix-ups applied
  UINT32 SectionCount;
  ImageSection Sections[8];
};

// Returns null on success, otherwise why the image was refused.
const CHAR8* LoadImage(const UINT8* File, UINT32 FileSize, UINT32 LoadAddress, LoadedImage& Image);

bool InImage(const LoadedImage& Image, UINT32 Address, UINT32 Size);
// The section holding Rva, or "headers" / "outside".
const CHAR8* SectionOf(const LoadedImage& Image, UINT32 Rva);
