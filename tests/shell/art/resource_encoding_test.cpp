// The resource encoders: the icon files (directory, headers, palette, masks),
// the checksums, and the PNG writer.

#include "shell/art/resource_encoding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "shell/art/radar_art.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t le16(const Bytes& bytes, std::size_t at)
{
    return static_cast<std::uint32_t>(bytes.at(at)) |
           static_cast<std::uint32_t>(bytes.at(at + 1)) << 8;
}

std::uint32_t le32(const Bytes& bytes, std::size_t at)
{
    return le16(bytes, at) | le16(bytes, at + 2) << 16;
}

std::int32_t leSigned32(const Bytes& bytes, std::size_t at)
{
    return static_cast<std::int32_t>(le32(bytes, at));
}

std::uint32_t be32(const Bytes& bytes, std::size_t at)
{
    return static_cast<std::uint32_t>(bytes.at(at)) << 24 |
           static_cast<std::uint32_t>(bytes.at(at + 1)) << 16 |
           static_cast<std::uint32_t>(bytes.at(at + 2)) << 8 |
           static_cast<std::uint32_t>(bytes.at(at + 3));
}

kiv::Image solidImage(int width, int height, std::uint32_t colour)
{
    return {width, height,
            std::vector<std::uint32_t>(static_cast<std::size_t>(width * height), colour)};
}

void setPixel(kiv::Image& image, int x, int y, std::uint32_t colour)
{
    image.pixels[static_cast<std::size_t>(y * image.width + x)] = colour;
}

// The fields of a BITMAPINFOHEADER at the given offset.
struct InfoHeader {
    std::uint32_t size;
    std::int32_t width;
    std::int32_t height;
    std::uint32_t planes;
    std::uint32_t bitCount;
    std::uint32_t compression;
    std::uint32_t sizeImage;
    std::uint32_t coloursUsed;
};

InfoHeader readInfoHeader(const Bytes& bytes, std::size_t at)
{
    return {le32(bytes, at),      leSigned32(bytes, at + 4), leSigned32(bytes, at + 8),
            le16(bytes, at + 12), le16(bytes, at + 14),      le32(bytes, at + 16),
            le32(bytes, at + 20), le32(bytes, at + 32)};
}

struct IconEntry {
    std::uint32_t width;
    std::uint32_t height;
    std::uint32_t colourCount;
    std::uint32_t reserved;
    std::uint32_t planes;
    std::uint32_t bitCount;
    std::uint32_t bytes;
    std::uint32_t offset;
};

IconEntry readIconEntry(const Bytes& ico, int index)
{
    const std::size_t at = 6 + 16 * static_cast<std::size_t>(index);
    return {ico.at(at),      ico.at(at + 1),  ico.at(at + 2),  ico.at(at + 3),
            le16(ico, at + 4), le16(ico, at + 6), le32(ico, at + 8), le32(ico, at + 12)};
}

// Whether the AND mask marks pixel (x, y) transparent. Rows are bottom-up,
// padded to 4 bytes, leftmost pixel in the top bit.
bool maskBit(const Bytes& ico, std::size_t maskStart, int size, int x, int y)
{
    const std::size_t stride = (static_cast<std::size_t>(size) + 31) / 32 * 4;
    const std::size_t row = static_cast<std::size_t>(size - 1 - y);
    const std::uint8_t byte = ico.at(maskStart + row * stride + static_cast<std::size_t>(x / 8));
    return (byte & (0x80 >> (x % 8))) != 0;
}

kiv::Image mainIcon(int size)
{
    return kiv::renderIcon(kiv::kIconGroupMain, size);
}

Bytes mainIco()
{
    return kiv::encodeIco(mainIcon(16), mainIcon(32));
}

// Layout of the .ico we write: directory, 8-bit image, 24-bit image.
constexpr std::size_t kSmallOffset = 6 + 2 * 16;
constexpr std::size_t kSmallBytes = 40 + 256 * 4 + 16 * 16 + 4 * 16;
constexpr std::size_t kLargeOffset = kSmallOffset + kSmallBytes;
constexpr std::size_t kLargeBytes = 40 + 32 * 32 * 3 + 4 * 32;

}  // namespace

TEST(Bmp32, RadarFrameIsFortyFiveThousandFourHundredEightBytesAfterTheFileHeader)
{
    const Bytes bmp = kiv::encodeBmp32(kiv::renderRadarFrame(1));
    ASSERT_EQ(bmp.size(), 14u + 45408u);
    EXPECT_EQ(bmp.size() - kiv::kBitmapFileHeaderSize, 40u + 106u * 107u * 4u);
}

TEST(Bmp32, HeaderFields)
{
    const Bytes bmp = kiv::encodeBmp32(kiv::renderRadarFrame(3));
    EXPECT_EQ(bmp.at(0), 'B');
    EXPECT_EQ(bmp.at(1), 'M');
    EXPECT_EQ(le32(bmp, 2), bmp.size());  // bfSize
    EXPECT_EQ(le16(bmp, 6), 0u);
    EXPECT_EQ(le16(bmp, 8), 0u);
    EXPECT_EQ(le32(bmp, 10), 54u);  // bfOffBits

    const InfoHeader info = readInfoHeader(bmp, 14);
    EXPECT_EQ(info.size, 40u);
    EXPECT_EQ(info.width, 106);
    EXPECT_EQ(info.height, 107);  // positive: bottom-up
    EXPECT_EQ(info.planes, 1u);
    EXPECT_EQ(info.bitCount, 32u);
    EXPECT_EQ(info.compression, 0u);  // BI_RGB
    EXPECT_EQ(info.sizeImage, 106u * 107u * 4u);
    EXPECT_EQ(info.coloursUsed, 0u);
    EXPECT_EQ(le32(bmp, 14 + 36), 0u);  // biClrImportant
}

TEST(Bmp32, RowsAreStoredBottomUpAsBlueGreenRedAlpha)
{
    kiv::Image image = solidImage(3, 2, 0xFF000000);
    setPixel(image, 0, 0, 0xFF112233);  // top left
    setPixel(image, 2, 0, 0x80445566);  // top right
    setPixel(image, 0, 1, 0xFFAABBCC);  // bottom left
    const Bytes bmp = kiv::encodeBmp32(image);
    ASSERT_EQ(bmp.size(), 54u + 3u * 2u * 4u);
    const Bytes bottomLeft(bmp.begin() + 54, bmp.begin() + 58);
    EXPECT_EQ(bottomLeft, (Bytes{0xCC, 0xBB, 0xAA, 0xFF}));
    const Bytes topLeft(bmp.begin() + 54 + 12, bmp.begin() + 54 + 16);
    EXPECT_EQ(topLeft, (Bytes{0x33, 0x22, 0x11, 0xFF}));
    const Bytes topRight(bmp.begin() + 54 + 20, bmp.begin() + 54 + 24);
    EXPECT_EQ(topRight, (Bytes{0x66, 0x55, 0x44, 0x80}));
}

TEST(Bmp32, RadarPixelsLandInTheirMirroredRows)
{
    const kiv::Image frame = kiv::renderRadarFrame(1);
    const Bytes bmp = kiv::encodeBmp32(frame);
    // A pixel in frame 1's sweep, above and right of the centre.
    const int x = 60;
    const int y = 15;
    ASSERT_EQ(frame.pixel(x, y), kiv::kRadarSweepDark);
    const std::size_t at = 54 + (static_cast<std::size_t>(107 - 1 - y) * 106 + x) * 4;
    EXPECT_EQ(bmp.at(at), kiv::kRadarSweepDark & 0xFF);
    EXPECT_EQ(bmp.at(at + 1), (kiv::kRadarSweepDark >> 8) & 0xFF);
    EXPECT_EQ(bmp.at(at + 2), (kiv::kRadarSweepDark >> 16) & 0xFF);
    EXPECT_EQ(bmp.at(at + 3), 0xFF);
    // The same place counted top-down is screen green, not the sweep.
    const std::size_t topDown = 54 + (static_cast<std::size_t>(y) * 106 + x) * 4;
    EXPECT_EQ(frame.pixel(x, 107 - 1 - y), kiv::kRadarScreenGreen);
    EXPECT_EQ(bmp.at(topDown + 1), (kiv::kRadarScreenGreen >> 8) & 0xFF);
}

TEST(Bmp32, MismatchedPixelCountIsRejected)
{
    kiv::Image image = solidImage(4, 4, 0xFF000000);
    image.pixels.pop_back();
    EXPECT_THROW(kiv::encodeBmp32(image), std::invalid_argument);
    EXPECT_THROW(kiv::encodeBmp32(kiv::Image{}), std::invalid_argument);
}

TEST(Bmp32, EncodingIsDeterministic)
{
    for (int frame = 1; frame <= kiv::kRadarFrameCount; ++frame)
        EXPECT_EQ(kiv::encodeBmp32(kiv::renderRadarFrame(frame)),
                  kiv::encodeBmp32(kiv::renderRadarFrame(frame)));
}

TEST(Ico, DirectoryDescribesASixteenAndAThirtyTwoPixelImage)
{
    const Bytes ico = mainIco();
    ASSERT_EQ(ico.size(), kLargeOffset + kLargeBytes);
    EXPECT_EQ(le16(ico, 0), 0u);  // reserved
    EXPECT_EQ(le16(ico, 2), 1u);  // icon
    EXPECT_EQ(le16(ico, 4), 2u);  // image count

    const IconEntry small = readIconEntry(ico, 0);
    EXPECT_EQ(small.width, 16u);
    EXPECT_EQ(small.height, 16u);
    EXPECT_EQ(small.colourCount, 0u);  // 256 colours
    EXPECT_EQ(small.reserved, 0u);
    EXPECT_EQ(small.planes, 1u);
    EXPECT_EQ(small.bitCount, 8u);
    EXPECT_EQ(small.bytes, kSmallBytes);
    EXPECT_EQ(small.offset, kSmallOffset);

    const IconEntry large = readIconEntry(ico, 1);
    EXPECT_EQ(large.width, 32u);
    EXPECT_EQ(large.height, 32u);
    EXPECT_EQ(large.colourCount, 0u);
    EXPECT_EQ(large.reserved, 0u);
    EXPECT_EQ(large.planes, 1u);
    EXPECT_EQ(large.bitCount, 24u);
    EXPECT_EQ(large.bytes, kLargeBytes);
    EXPECT_EQ(large.offset, kLargeOffset);
    EXPECT_EQ(large.offset + large.bytes, ico.size());
}

TEST(Ico, ImageHeadersHaveDoubleHeightAndPaletteCount)
{
    const Bytes ico = mainIco();
    const InfoHeader small = readInfoHeader(ico, kSmallOffset);
    EXPECT_EQ(small.size, 40u);
    EXPECT_EQ(small.width, 16);
    EXPECT_EQ(small.height, 32);  // colour rows plus mask rows
    EXPECT_EQ(small.planes, 1u);
    EXPECT_EQ(small.bitCount, 8u);
    EXPECT_EQ(small.compression, 0u);
    EXPECT_EQ(small.sizeImage, 16u * 16u + 64u);  // pixels and AND mask
    EXPECT_EQ(small.coloursUsed, 256u);

    const InfoHeader large = readInfoHeader(ico, kLargeOffset);
    EXPECT_EQ(large.size, 40u);
    EXPECT_EQ(large.width, 32);
    EXPECT_EQ(large.height, 64);
    EXPECT_EQ(large.planes, 1u);
    EXPECT_EQ(large.bitCount, 24u);
    EXPECT_EQ(large.compression, 0u);
    EXPECT_EQ(large.sizeImage, 32u * 32u * 3u + 128u);
    EXPECT_EQ(large.coloursUsed, 0u);
}

// Decodes the 8-bit image through its palette and compares with the picture.
TEST(Ico, SmallImageDecodesToTheIconThroughItsPalette)
{
    const kiv::Image icon = mainIcon(16);
    const Bytes ico = mainIco();
    const std::size_t palette = kSmallOffset + 40;
    const std::size_t pixels = palette + 256 * 4;
    const std::size_t mask = pixels + 16 * 16;
    int transparent = 0;
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            const std::uint32_t source = icon.pixel(x, y);
            const bool opaque = (source >> 24) >= 128;
            const std::size_t index = ico.at(pixels + static_cast<std::size_t>((15 - y) * 16 + x));
            const std::size_t entry = palette + index * 4;
            const std::uint32_t colour = static_cast<std::uint32_t>(ico.at(entry + 2)) << 16 |
                                         static_cast<std::uint32_t>(ico.at(entry + 1)) << 8 |
                                         ico.at(entry);
            EXPECT_EQ(colour, opaque ? (source & 0xFFFFFF) : 0u) << x << "," << y;
            EXPECT_EQ(ico.at(entry + 3), 0u);
            EXPECT_EQ(maskBit(ico, mask, 16, x, y), !opaque) << x << "," << y;
            transparent += opaque ? 0 : 1;
        }
    }
    EXPECT_GT(transparent, 0);  // the corners
    EXPECT_LT(transparent, 16 * 16 / 2);
}

TEST(Ico, LargeImageHoldsTheIconsColoursAndMask)
{
    const kiv::Image icon = mainIcon(32);
    const Bytes ico = mainIco();
    const std::size_t pixels = kLargeOffset + 40;
    const std::size_t mask = pixels + 32 * 32 * 3;
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            const std::uint32_t source = icon.pixel(x, y);
            const bool opaque = (source >> 24) >= 128;
            const std::size_t at = pixels + static_cast<std::size_t>(((31 - y) * 32 + x) * 3);
            const std::uint32_t colour = static_cast<std::uint32_t>(ico.at(at + 2)) << 16 |
                                         static_cast<std::uint32_t>(ico.at(at + 1)) << 8 |
                                         ico.at(at);
            EXPECT_EQ(colour, opaque ? (source & 0xFFFFFF) : 0u) << x << "," << y;
            EXPECT_EQ(maskBit(ico, mask, 32, x, y), !opaque) << x << "," << y;
        }
    }
}

TEST(Ico, AndMaskBitsAndRowPadding)
{
    // Transparent everywhere except the top-left and bottom-right pixels.
    kiv::Image small = solidImage(16, 16, kiv::kTransparent);
    setPixel(small, 0, 0, 0xFF00FF00);
    setPixel(small, 15, 15, 0xFFFF0000);
    kiv::Image large = solidImage(32, 32, 0xFF0000FF);
    setPixel(large, 31, 0, 0x7F0000FF);  // alpha below half: transparent

    const Bytes ico = kiv::encodeIco(small, large);
    const std::size_t smallMask = kSmallOffset + 40 + 256 * 4 + 16 * 16;
    // Stored bottom row first: bottom-right opaque, then the top row last.
    EXPECT_EQ(Bytes(ico.begin() + static_cast<std::ptrdiff_t>(smallMask),
                    ico.begin() + static_cast<std::ptrdiff_t>(smallMask + 4)),
              (Bytes{0xFF, 0xFE, 0x00, 0x00}));
    EXPECT_EQ(Bytes(ico.begin() + static_cast<std::ptrdiff_t>(smallMask + 15 * 4),
                    ico.begin() + static_cast<std::ptrdiff_t>(smallMask + 16 * 4)),
              (Bytes{0x7F, 0xFF, 0x00, 0x00}));

    const std::size_t largeMask = kLargeOffset + 40 + 32 * 32 * 3;
    EXPECT_EQ(Bytes(ico.begin() + static_cast<std::ptrdiff_t>(largeMask + 31 * 4),
                    ico.end()),
              (Bytes{0x00, 0x00, 0x00, 0x01}));
    EXPECT_EQ(std::count(ico.begin() + static_cast<std::ptrdiff_t>(largeMask),
                         ico.begin() + static_cast<std::ptrdiff_t>(largeMask + 31 * 4), 0),
              31 * 4);
    // The transparent pixel's colour is black.
    const std::size_t topRight = kLargeOffset + 40 + (31 * 32 + 31) * 3;
    EXPECT_EQ(ico.at(topRight), 0u);
}

TEST(Ico, PaletteHoldsEachColourOnceInOrder)
{
    const kiv::Image icon = mainIcon(16);
    const std::vector<std::uint32_t> palette = kiv::iconPalette(icon);
    ASSERT_EQ(palette.size(), 256u);

    std::vector<std::uint32_t> expected;
    for (std::uint32_t pixel : icon.pixels)
        expected.push_back((pixel >> 24) >= 128 ? (pixel & 0xFFFFFF) : 0u);
    std::sort(expected.begin(), expected.end());
    expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
    ASSERT_GE(expected.size(), 4u);  // black, screen, rim, grid at least
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), palette.begin()));
    EXPECT_TRUE(std::all_of(palette.begin() + static_cast<std::ptrdiff_t>(expected.size()),
                            palette.end(), [](std::uint32_t c) { return c == 0; }));
}

TEST(Ico, PaletteTakesTwoHundredFiftySixDistinctColours)
{
    kiv::Image image = solidImage(16, 16, 0);
    for (std::uint32_t i = 0; i < 256; ++i)
        image.pixels[i] = 0xFF000000u | (i * 0x010203u + 0x100000u);
    const std::vector<std::uint32_t> palette = kiv::iconPalette(image);
    ASSERT_EQ(palette.size(), 256u);
    EXPECT_TRUE(std::is_sorted(palette.begin(), palette.end()));
    for (std::uint32_t pixel : image.pixels)
        EXPECT_TRUE(std::binary_search(palette.begin(), palette.end(), pixel & 0xFFFFFF));

    // And the 8-bit image indexes them correctly.
    const Bytes ico = kiv::encodeIco(image, solidImage(32, 32, 0xFF000000));
    const std::size_t pixels = kSmallOffset + 40 + 256 * 4;
    const std::size_t topLeftIndex = ico.at(pixels + 15 * 16);
    EXPECT_EQ(palette[topLeftIndex], image.pixels[0] & 0xFFFFFF);
}

TEST(Ico, WrongSizesAreRejected)
{
    EXPECT_THROW(kiv::encodeIco(mainIcon(32), mainIcon(32)), std::invalid_argument);
    EXPECT_THROW(kiv::encodeIco(mainIcon(16), mainIcon(16)), std::invalid_argument);
    EXPECT_THROW(kiv::iconPalette(mainIcon(32)), std::invalid_argument);
}

TEST(Ico, EncodingIsDeterministicAndTheGroupsDiffer)
{
    EXPECT_EQ(mainIco(), mainIco());
    const Bytes idle = kiv::encodeIco(kiv::renderIcon(kiv::kIconGroupIdle, 16),
                                      kiv::renderIcon(kiv::kIconGroupIdle, 32));
    EXPECT_EQ(idle.size(), mainIco().size());
    EXPECT_NE(idle, mainIco());
}

TEST(Checksums, KnownValues)
{
    const std::string digits = "123456789";
    EXPECT_EQ(kiv::crc32(reinterpret_cast<const std::uint8_t*>(digits.data()), digits.size()),
              0xCBF43926u);
    const std::string word = "Wikipedia";
    EXPECT_EQ(kiv::adler32(reinterpret_cast<const std::uint8_t*>(word.data()), word.size()),
              0x11E60398u);
    EXPECT_EQ(kiv::crc32(nullptr, 0), 0u);
    EXPECT_EQ(kiv::adler32(nullptr, 0), 1u);
}

// Unpacks the stored deflate blocks of the IDAT chunk and checks the pixels.
TEST(Png, StoredBlocksCarryTheScanLines)
{
    // Wide enough that the scan lines need more than one stored block.
    kiv::Image image = solidImage(200, 100, 0xFF336699);
    setPixel(image, 0, 0, 0x80102030);
    setPixel(image, 199, 99, 0xFFA0B0C0);
    const Bytes png = kiv::encodePng(image);

    const Bytes signature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    ASSERT_TRUE(std::equal(signature.begin(), signature.end(), png.begin()));
    ASSERT_EQ(be32(png, 8), 13u);
    EXPECT_EQ(std::string(png.begin() + 12, png.begin() + 16), "IHDR");
    EXPECT_EQ(be32(png, 16), 200u);
    EXPECT_EQ(be32(png, 20), 100u);
    EXPECT_EQ(png.at(24), 8u);  // bit depth
    EXPECT_EQ(png.at(25), 6u);  // RGBA
    EXPECT_EQ(be32(png, 29), kiv::crc32(png.data() + 12, 17));

    const std::size_t idat = 33;
    const std::size_t length = be32(png, idat);
    ASSERT_EQ(std::string(png.begin() + idat + 4, png.begin() + idat + 8), "IDAT");
    EXPECT_EQ(be32(png, idat + 8 + length), kiv::crc32(png.data() + idat + 4, length + 4));

    const std::size_t zlib = idat + 8;
    EXPECT_EQ((png.at(zlib) * 256u + png.at(zlib + 1)) % 31u, 0u);
    Bytes raw;
    std::size_t at = zlib + 2;
    int blocks = 0;
    for (bool last = false; !last;) {
        last = (png.at(at) & 1) != 0;
        EXPECT_EQ(png.at(at) & 6, 0) << "stored block";
        const std::uint32_t size = le16(png, at + 1);
        EXPECT_EQ(le16(png, at + 3), ~size & 0xFFFFu);
        raw.insert(raw.end(), png.begin() + static_cast<std::ptrdiff_t>(at + 5),
                   png.begin() + static_cast<std::ptrdiff_t>(at + 5 + size));
        at += 5 + size;
        ++blocks;
    }
    EXPECT_EQ(blocks, 2);
    ASSERT_EQ(raw.size(), 100u * (1u + 200u * 4u));
    EXPECT_EQ(be32(png, at), kiv::adler32(raw.data(), raw.size()));
    EXPECT_EQ(at + 4, zlib + length);

    EXPECT_EQ(Bytes(raw.begin(), raw.begin() + 9),
              (Bytes{0, 0x10, 0x20, 0x30, 0x80, 0x33, 0x66, 0x99, 0xFF}));
    EXPECT_EQ(Bytes(raw.end() - 4, raw.end()), (Bytes{0xA0, 0xB0, 0xC0, 0xFF}));

    const Bytes iend = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
    EXPECT_EQ(Bytes(png.end() - 12, png.end()), iend);
}
