// Checks a TE image: a PE32 whose headers up to its section table were
// stripped to the 40-byte TE header, as PEI modules that execute in place are
// often stored. Every RVA lies StrippedSize - 40 bytes before the place the
// PE32 had it, so the image base is the header's address less that.
#pragma once

#include "PeFormat.h"
#include "PeLoader.h"

namespace TeImage {
inline constexpr UINT32 HeaderBytes = 40;

struct Layout {
  UINT32 Stripped;      // StrippedSize
  UINT32 ImageBase;     // as the header says
  UINT32 EntryRva;
  UINT32 SectionCount;
  UINT32 RelocationRva;
  UINT32 RelocationSize;
};

// Null when the Size bytes at Header hold a TE image this core can run
// (i386, EFI boot service driver, sections within the image and laid out as
// they run, nothing writable); otherwise what is damaged.
const CHAR8* Check(const UINT8* Header, UINT32 Size, Layout& Found);

// The image base at which the TE image runs with its header at Address.
inline UINT32 BaseFor(UINT32 Address, const Layout& Image) { return Address + HeaderBytes - Image.Stripped; }

// Describes the checked TE image with its header at Address as loaded there
// (Address, sizes, entry point and sections).
void Describe(UINT32 Address, UINT32 Size, const Layout& Image, LoadedImage& Loaded);

// Copies the checked TE image (Size bytes at Header) so that its image base
// is Destination (DestinationSize bytes: the stripped bytes stay zero) and
// applies its relocations for there. Null on success, else why not.
const CHAR8* Relocate(const UINT8* Header, UINT32 Size, const Layout& Image, UINT8* Destination,
                      UINT32 DestinationSize, LoadedImage& Loaded);
}  // namespace TeImage
