#pragma once
// Pictures of the storage: thumbnails the server makes as JPEG, kept as Windows bitmaps.
#include <string>

// A JPEG file decoded by WIC into the bytes of a 24-bit bottom-up Windows bitmap file. Raises for a
// file that is no JPEG picture, or one beyond 16384 pixels a side.
std::string JpegToBmp(const std::string& jpegFile);
