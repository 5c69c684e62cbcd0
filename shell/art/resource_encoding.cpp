#include "shell/art/resource_encoding.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <string>

namespace kiv {
namespace {

constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint8_t kOpaqueAlpha = 128;  // alpha at or above this is drawn
constexpr std::size_t kPngStoredBlockMax = 65535;

void putU8(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    out.push_back(static_cast<std::uint8_t>(value & 0xFFu));
}

void putLe16(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    putU8(out, value);
    putU8(out, value >> 8);
}

void putLe32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    putU8(out, value);
    putU8(out, value >> 8);
    putU8(out, value >> 16);
    putU8(out, value >> 24);
}

void putLeSigned32(std::vector<std::uint8_t>& out, std::int32_t value)
{
    putLe32(out, static_cast<std::uint32_t>(value));  // two's complement
}

void putBe32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    putU8(out, value >> 24);
    putU8(out, value >> 16);
    putU8(out, value >> 8);
    putU8(out, value);
}

std::uint32_t u32(std::size_t value)
{
    return static_cast<std::uint32_t>(value);
}

std::size_t pixelCount(const Image& image)
{
    return static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
}

void requireShape(const Image& image, const char* what)
{
    if (image.width <= 0 || image.height <= 0 || image.pixels.size() != pixelCount(image))
        throw std::invalid_argument(std::string(what) + ": pixel count does not match " +
                                    std::to_string(image.width) + " x " +
                                    std::to_string(image.height));
}

void requireSquare(const Image& image, int size, const char* what)
{
    requireShape(image, what);
    if (image.width != size || image.height != size)
        throw std::invalid_argument(std::string(what) + " must be " + std::to_string(size) +
                                    " x " + std::to_string(size));
}

std::uint32_t rgbOf(std::uint32_t pixel)
{
    return pixel & 0x00FFFFFFu;
}

bool isOpaque(std::uint32_t pixel)
{
    return (pixel >> 24) >= kOpaqueAlpha;
}

// Colour an icon stores for the pixel: black where the mask makes it
// transparent, so the screen behind shows through unchanged.
std::uint32_t iconColour(std::uint32_t pixel)
{
    return isOpaque(pixel) ? rgbOf(pixel) : 0;
}

// DIB rows are padded to whole 32-bit words.
std::size_t dibStride(int width, int bitsPerPixel)
{
    return (static_cast<std::size_t>(width) * static_cast<std::size_t>(bitsPerPixel) + 31) /
           32 * 4;
}

void putBitmapInfoHeader(std::vector<std::uint8_t>& out, int width, int height,
                         int bitsPerPixel, std::size_t imageSize, std::uint32_t coloursUsed)
{
    putLe32(out, u32(kBitmapInfoHeaderSize));   // biSize
    putLeSigned32(out, width);                  // biWidth
    putLeSigned32(out, height);                 // biHeight: positive = bottom-up
    putLe16(out, 1);                            // biPlanes
    putLe16(out, static_cast<std::uint32_t>(bitsPerPixel));  // biBitCount
    putLe32(out, kBiRgb);                       // biCompression
    putLe32(out, u32(imageSize));               // biSizeImage
    putLeSigned32(out, 0);                      // biXPelsPerMeter
    putLeSigned32(out, 0);                      // biYPelsPerMeter
    putLe32(out, coloursUsed);                  // biClrUsed
    putLe32(out, 0);                            // biClrImportant
}

// The icon's AND mask: one bit per pixel, leftmost pixel in the top bit,
// set where the pixel is transparent; bottom row first.
void putAndMask(std::vector<std::uint8_t>& out, const Image& image)
{
    const std::size_t stride = dibStride(image.width, 1);
    for (int y = image.height - 1; y >= 0; --y) {
        std::vector<std::uint8_t> row(stride, 0);
        for (int x = 0; x < image.width; ++x) {
            if (!isOpaque(image.pixel(x, y)))
                row[static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80u >> (x % 8));
        }
        out.insert(out.end(), row.begin(), row.end());
    }
}

std::size_t andMaskSize(const Image& image)
{
    return dibStride(image.width, 1) * static_cast<std::size_t>(image.height);
}

// Every colour the icon stores, ascending, each once.
std::vector<std::uint32_t> distinctIconColours(const Image& image)
{
    std::vector<std::uint32_t> colours;
    colours.reserve(image.pixels.size());
    for (std::uint32_t pixel : image.pixels)
        colours.push_back(iconColour(pixel));
    std::sort(colours.begin(), colours.end());
    colours.erase(std::unique(colours.begin(), colours.end()), colours.end());
    return colours;
}

// BITMAPINFOHEADER, palette, XOR pixels and AND mask of the 8-bit image.
std::vector<std::uint8_t> iconImage8(const Image& image)
{
    const std::vector<std::uint32_t> used = distinctIconColours(image);
    std::vector<std::uint32_t> palette = used;
    palette.resize(kIconPaletteSize, 0);
    const std::size_t stride = dibStride(image.width, 8);
    const std::size_t pixelBytes = stride * static_cast<std::size_t>(image.height);

    std::vector<std::uint8_t> out;
    putBitmapInfoHeader(out, image.width, image.height * 2, 8,
                        pixelBytes + andMaskSize(image), u32(kIconPaletteSize));
    for (std::uint32_t colour : palette) {
        putU8(out, colour);        // blue
        putU8(out, colour >> 8);   // green
        putU8(out, colour >> 16);  // red
        putU8(out, 0);             // reserved
    }
    for (int y = image.height - 1; y >= 0; --y) {
        std::size_t written = 0;
        for (int x = 0; x < image.width; ++x) {
            const std::uint32_t colour = iconColour(image.pixel(x, y));
            // The used entries are sorted and hold every colour of the picture.
            const auto found = std::lower_bound(used.begin(), used.end(), colour);
            putU8(out, static_cast<std::uint32_t>(found - used.begin()));
            ++written;
        }
        for (; written < stride; ++written)
            putU8(out, 0);
    }
    putAndMask(out, image);
    return out;
}

// BITMAPINFOHEADER, XOR pixels (B, G, R) and AND mask of the 24-bit image.
std::vector<std::uint8_t> iconImage24(const Image& image)
{
    const std::size_t stride = dibStride(image.width, 24);
    const std::size_t pixelBytes = stride * static_cast<std::size_t>(image.height);

    std::vector<std::uint8_t> out;
    putBitmapInfoHeader(out, image.width, image.height * 2, 24,
                        pixelBytes + andMaskSize(image), 0);
    for (int y = image.height - 1; y >= 0; --y) {
        std::size_t written = 0;
        for (int x = 0; x < image.width; ++x) {
            const std::uint32_t colour = iconColour(image.pixel(x, y));
            putU8(out, colour);
            putU8(out, colour >> 8);
            putU8(out, colour >> 16);
            written += 3;
        }
        for (; written < stride; ++written)
            putU8(out, 0);
    }
    putAndMask(out, image);
    return out;
}

void putIconDirectoryEntry(std::vector<std::uint8_t>& out, int size, int bitsPerPixel,
                           std::size_t bytes, std::size_t offset)
{
    putU8(out, static_cast<std::uint32_t>(size));  // width (0 would mean 256)
    putU8(out, static_cast<std::uint32_t>(size));  // height
    putU8(out, 0);   // colour count: 0 for 256 colours and more
    putU8(out, 0);   // reserved
    putLe16(out, 1);  // planes
    putLe16(out, static_cast<std::uint32_t>(bitsPerPixel));
    putLe32(out, u32(bytes));
    putLe32(out, u32(offset));
}

const std::array<std::uint32_t, 256>& crcTable()
{
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> entries{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int bit = 0; bit < 8; ++bit)
                c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            entries[n] = c;
        }
        return entries;
    }();
    return table;
}

void putPngChunk(std::vector<std::uint8_t>& out, const char* type,
                 const std::vector<std::uint8_t>& data)
{
    putBe32(out, u32(data.size()));
    const std::size_t typeStart = out.size();
    for (int i = 0; i < 4; ++i)
        putU8(out, static_cast<std::uint8_t>(type[i]));
    out.insert(out.end(), data.begin(), data.end());
    putBe32(out, crc32(out.data() + typeStart, out.size() - typeStart));
}

}  // namespace

std::vector<std::uint8_t> encodeBmp32(const Image& image)
{
    requireShape(image, "bitmap");
    const std::size_t pixelBytes = pixelCount(image) * 4;
    const std::size_t offset = kBitmapFileHeaderSize + kBitmapInfoHeaderSize;

    std::vector<std::uint8_t> out;
    out.reserve(offset + pixelBytes);
    putU8(out, 'B');
    putU8(out, 'M');
    putLe32(out, u32(offset + pixelBytes));  // bfSize
    putLe16(out, 0);                         // bfReserved1
    putLe16(out, 0);                         // bfReserved2
    putLe32(out, u32(offset));               // bfOffBits
    putBitmapInfoHeader(out, image.width, image.height, 32, pixelBytes, 0);
    for (int y = image.height - 1; y >= 0; --y) {
        for (int x = 0; x < image.width; ++x) {
            const std::uint32_t pixel = image.pixel(x, y);
            putU8(out, pixel);        // blue
            putU8(out, pixel >> 8);   // green
            putU8(out, pixel >> 16);  // red
            putU8(out, pixel >> 24);  // alpha
        }
    }
    return out;
}

std::vector<std::uint32_t> iconPalette(const Image& small16)
{
    requireSquare(small16, kIconSmallSize, "small icon");
    // 256 pixels cannot have more than 256 colours; unused entries stay black.
    std::vector<std::uint32_t> palette = distinctIconColours(small16);
    palette.resize(kIconPaletteSize, 0);
    return palette;
}

std::vector<std::uint8_t> encodeIco(const Image& small16, const Image& large32)
{
    requireSquare(small16, kIconSmallSize, "small icon");
    requireSquare(large32, kIconLargeSize, "large icon");
    const std::vector<std::uint8_t> smallImage = iconImage8(small16);
    const std::vector<std::uint8_t> largeImage = iconImage24(large32);

    const std::size_t smallOffset = kIconDirectorySize + 2 * kIconDirectoryEntrySize;
    const std::size_t largeOffset = smallOffset + smallImage.size();

    std::vector<std::uint8_t> out;
    putLe16(out, 0);  // reserved
    putLe16(out, 1);  // type: icon
    putLe16(out, 2);  // image count
    putIconDirectoryEntry(out, kIconSmallSize, 8, smallImage.size(), smallOffset);
    putIconDirectoryEntry(out, kIconLargeSize, 24, largeImage.size(), largeOffset);
    out.insert(out.end(), smallImage.begin(), smallImage.end());
    out.insert(out.end(), largeImage.begin(), largeImage.end());
    return out;
}

std::vector<std::uint8_t> encodePng(const Image& image)
{
    requireShape(image, "png");

    // Scan lines: filter type 0, then R, G, B, A.
    std::vector<std::uint8_t> raw;
    raw.reserve(pixelCount(image) * 4 + static_cast<std::size_t>(image.height));
    for (int y = 0; y < image.height; ++y) {
        putU8(raw, 0);
        for (int x = 0; x < image.width; ++x) {
            const std::uint32_t pixel = image.pixel(x, y);
            putU8(raw, pixel >> 16);
            putU8(raw, pixel >> 8);
            putU8(raw, pixel);
            putU8(raw, pixel >> 24);
        }
    }

    // zlib stream of stored deflate blocks.
    std::vector<std::uint8_t> zlib;
    putU8(zlib, 0x78);  // deflate, 32 KiB window
    putU8(zlib, 0x01);  // no dictionary, check bits make 0x7801 divisible by 31
    std::size_t position = 0;
    do {
        const std::size_t length = std::min(kPngStoredBlockMax, raw.size() - position);
        const bool last = position + length == raw.size();
        putU8(zlib, last ? 1 : 0);  // BFINAL, BTYPE 00
        putLe16(zlib, u32(length));
        putLe16(zlib, ~u32(length) & 0xFFFFu);
        zlib.insert(zlib.end(), raw.begin() + static_cast<std::ptrdiff_t>(position),
                    raw.begin() + static_cast<std::ptrdiff_t>(position + length));
        position += length;
    } while (position < raw.size());
    putBe32(zlib, adler32(raw.data(), raw.size()));

    std::vector<std::uint8_t> header;
    putBe32(header, static_cast<std::uint32_t>(image.width));
    putBe32(header, static_cast<std::uint32_t>(image.height));
    putU8(header, 8);  // bit depth
    putU8(header, 6);  // colour type: RGBA
    putU8(header, 0);  // compression
    putU8(header, 0);  // filter method
    putU8(header, 0);  // no interlace

    std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    putPngChunk(out, "IHDR", header);
    putPngChunk(out, "IDAT", zlib);
    putPngChunk(out, "IEND", {});
    return out;
}

std::uint32_t crc32(const std::uint8_t* data, std::size_t size)
{
    const std::array<std::uint32_t, 256>& table = crcTable();
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i)
        c = table[(c ^ data[i]) & 0xFFu] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

std::uint32_t adler32(const std::uint8_t* data, std::size_t size)
{
    constexpr std::uint32_t kModulus = 65521;
    std::uint32_t a = 1;
    std::uint32_t b = 0;
    for (std::size_t i = 0; i < size; ++i) {
        a = (a + data[i]) % kModulus;
        b = (b + a) % kModulus;
    }
    return b << 16 | a;
}

}  // namespace kiv
