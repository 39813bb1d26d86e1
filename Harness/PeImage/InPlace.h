// Checks a PE32 image that runs where it lies in flash: rebased at build
// time to that address, so nothing is copied or fixed up at boot.
#pragma once

#include "PeLoader.h"

// Returns null when the image at Address (Size bytes of section body) can
// run there, and fills Image; otherwise why it cannot.
const CHAR8* CheckImageInPlace(UINT32 Address, UINT32 Size, LoadedImage& Image);
