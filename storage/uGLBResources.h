#pragma once
// The resources both programs carry (identifiers shared by the resource scripts and the code;
// windres reads this file too, so only defines stand outside the C++ part). The bitmaps are drawn
// by res/draw-images.pl at build time.
#define IDI_SX_PRODUCT 1       // the product icon (16, 24, 32 and 48 pixels)
#define IDB_SX_BANNER 110      // 482 x 41: the band at the top of the property and version windows
#define IDB_SX_MENUIMAGES 111  // the online folder's menu images, 12 x 12 each, magenta transparent

#if defined(_WIN32) && !defined(RC_INVOKED)
#include <windows.h>

#include <string>

constexpr int kBannerHeight = 41;

// The binary (program or library) whose code calls this: the one whose resources are meant.
HMODULE ResourceModule();
// The banner cut to `width` pixels from its left edge, where the mark and the name are; nullptr
// when the binary carries none. The caller owns the bitmap.
HBITMAP LoadBanner(int width);
// The product icon of `size` pixels (owned by the caller), nullptr when there is none.
HICON LoadProductIcon(int size);
// Shows `hint` over `control` in a tooltip of `owner`, made in `tip` on first use (the tooltip is
// an owned window: it goes with its owner).
void AddHint(HWND& tip, HWND owner, HWND control, const std::string& hint);
#endif
