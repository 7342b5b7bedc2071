#pragma once
// The payload block's picture for dialog 105: a complete BMP file, shown at its own
// size when it fits the picture frame, and scaled down to fit otherwise, keeping its
// proportions (the picture control centres it).
#include <windows.h>

#include <cstdint>

namespace qef {

// The size a picture of `natural` size is shown at within `limit`: its own when it
// fits, else the largest size of the same proportions that fits (never below one
// pixel either way); {0, 0} for an empty limit or picture.
SIZE FitPicture(SIZE natural, SIZE limit);

// Loads the BMP file image `bytes` as a bitmap through a temporary file (the system
// loads bitmaps from files), at the size FitPicture gives for `limit`. The temporary
// file is gone afterwards. Null when there is no picture or it cannot be loaded.
HBITMAP LoadPicture(const unsigned char* bytes, uint32_t length, SIZE limit);

}  // namespace qef
