// File formats for the pictures: .bmp and .ico for the Windows resource
// script, .png for looking at them. All output is little- or big-endian as the
// format says, written byte by byte, so it is the same on every host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "shell/art/radar_art.h"

namespace kiv {

constexpr std::size_t kBitmapFileHeaderSize = 14;
constexpr std::size_t kBitmapInfoHeaderSize = 40;
constexpr std::size_t kIconDirectorySize = 6;
constexpr std::size_t kIconDirectoryEntrySize = 16;
constexpr std::size_t kIconPaletteSize = 256;

// A .bmp file: file header, BITMAPINFOHEADER (32 bits per pixel, BI_RGB,
// positive height) and the pixels as B, G, R, A bytes, bottom row first.
// Everything after the file header is what the resource compiler stores as
// the bitmap resource: 40 + width * height * 4 bytes.
// Throws std::invalid_argument if the pixel count does not match the size.
std::vector<std::uint8_t> encodeBmp32(const Image& image);

// A .ico file with two images: the 16 x 16 picture at 8 bits per pixel with
// a 256-entry palette, then the 32 x 32 picture at 24 bits per pixel. Pixels
// with alpha below 128 are transparent (AND mask bit set, colour black); the
// others are drawn opaque. Throws std::invalid_argument on other sizes.
std::vector<std::uint8_t> encodeIco(const Image& small16, const Image& large32);

// The 256-entry palette of the 8-bit icon image, 0x00RRGGBB. A 16 x 16
// picture has at most 256 distinct colours, so the palette holds each of them
// exactly (black included when some pixel is transparent), in ascending
// order; unused entries are black.
std::vector<std::uint32_t> iconPalette(const Image& small16);

// A .png file, 8-bit RGBA, not compressed (stored deflate blocks).
std::vector<std::uint8_t> encodePng(const Image& image);

// Checksums of the PNG container: CRC-32 (ISO 3309) and Adler-32 (zlib).
std::uint32_t crc32(const std::uint8_t* data, std::size_t size);
std::uint32_t adler32(const std::uint8_t* data, std::size_t size);

}  // namespace kiv
