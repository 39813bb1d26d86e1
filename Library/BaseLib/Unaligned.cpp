// Little-endian loads from addresses of any alignment.
#include "Library/BaseLib.h"
#include "Library/DebugLib.h"

namespace {
// Check sites: the line numbers are fixed report coordinates, not lines of this file.
constexpr const CHAR8* Path = "Library/BaseLib/Unaligned.cpp";
constexpr CheckSite Buffer16Present = {Path, 38, "Buffer != ((void *) 0)"};
constexpr CheckSite Buffer32Present = {Path, 141, "Buffer != ((void *) 0)"};
}  // namespace

// Byte loads keep the compiler from assuming alignment it cannot know.
UINT16 LoadUnaligned16(const VOID* Buffer) {
  Check(Buffer != nullptr, Buffer16Present);
  if (Buffer == nullptr) {
    return 0;
  }
  const auto* Bytes = static_cast<const UINT8*>(Buffer);
  return static_cast<UINT16>(Bytes[0] | (Bytes[1] << 8));
}

UINT32 LoadUnaligned32(const VOID* Buffer) {
  Check(Buffer != nullptr, Buffer32Present);
  if (Buffer == nullptr) {
    return 0;
  }
  const auto* Bytes = static_cast<const UINT8*>(Buffer);
  return Bytes[0] | (Bytes[1] << 8) | (Bytes[2] << 16) | (static_cast<UINT32>(Bytes[3]) << 24);
}
