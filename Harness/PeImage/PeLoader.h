// Loads the module's PE32 image as a PEI Foundation would: checks its
// headers, copies the sections into place and applies the base relocations
// for the address the image will run at.
#pragma once

#include "Base.h"

struct ImageSection {
  CHAR8 Name[9];
  UINT32 Rva;
  UINT32 Size;
};

struct LoadedImage {
  UINT32 Address;        // where it runs
  UINT32 Size;           // SizeOfImage
  UINT32 PreferredBase;  // ImageBase from the headers
  UINT32 Entry;          // absolute entry point
  UINT32 Relocations;    // HIGHLOW fix-ups applied
  UINT32 Unbacked;       // leading bytes that RVAs count but the image lacks (a TE's stripped headers)
  UINT32 SectionCount;
  ImageSection Sections[8];
};

// Returns null on success, otherwise why the image was refused.
// PlaceImage writes the image into Destination (DestinationSize bytes, at
// least SizeOfImage) with its fix-ups made for RunAddress, so a harness can
// prepare memory that the module will see elsewhere. RunAddress may equal the
// image's preferred base: the image then runs where it was rebased to.
const CHAR8* PlaceImage(const UINT8* File, UINT32 FileSize, UINT32 RunAddress, UINT8* Destination,
                        UINT32 DestinationSize, LoadedImage& Image);
// Places the image at LoadAddress in this address space; LoadAddress must
// differ from the preferred base so that every fix-up is exercised.
const CHAR8* LoadImage(const UINT8* File, UINT32 FileSize, UINT32 LoadAddress, LoadedImage& Image);

// Adds Image.Address - Image.PreferredBase to every HIGHLOW target of the
// relocation directory (DirectorySize bytes at Directory) of the image whose
// RVA 0 is at Base and counts them in Image.Relocations.
const CHAR8* ApplyRelocations(const UINT8* Directory, UINT32 DirectorySize, UINT8* Base, LoadedImage& Image);

bool InImage(const LoadedImage& Image, UINT32 Address, UINT32 Size);
// Keeps a section header's name and place in Image's table (the first eight).
void NoteSection(LoadedImage& Image, const UINT8* Header);
// The section holding Rva, or "headers" / "outside".
const CHAR8* SectionOf(const LoadedImage& Image, UINT32 Rva);
