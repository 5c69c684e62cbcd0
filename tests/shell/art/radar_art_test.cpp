// The radar frames and icons: sizes, the frame and bitmap tables, where the
// sweep sits and how it steps, the screen's colours.

#include "shell/art/radar_art.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <stdexcept>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kStepDegrees = 360.0 / kiv::kRadarFrameCount;

// The pixel of a radar frame that holds the point at the given angle
// (clockwise from twelve o'clock) and distance from the screen's centre.
std::uint32_t pixelAtPolar(const kiv::Image& frame, double degrees, double distance)
{
    const kiv::RadarGeometry geometry = kiv::radarFrameGeometry();
    const double radians = degrees * kPi / 180.0;
    const int x = static_cast<int>(std::floor(geometry.centreX + distance * std::sin(radians)));
    const int y = static_cast<int>(std::floor(geometry.centreY - distance * std::cos(radians)));
    return frame.pixel(x, y);
}

double innerRadius()
{
    const kiv::RadarGeometry geometry = kiv::radarFrameGeometry();
    return geometry.radius - geometry.rimWidth;
}

// Centre angle of display frame k's sweep sector.
double sectorCentre(int frame)
{
    return (frame - 0.5) * kStepDegrees;
}

struct FrameIdRow {
    int frame;
    int bitmapId;
};

const FrameIdRow kFrameIds[] = {
    {1, 116},  {2, 115},  {3, 117},  {4, 118},  {5, 119},  {6, 120},
    {7, 121},  {8, 122},  {9, 123},  {10, 124}, {11, 125}, {12, 126},
    {13, 127}, {14, 128}, {15, 129}, {16, 130},
};

}  // namespace

TEST(RadarArt, EveryFrameHasTheBitmapSize)
{
    for (int frame = 1; frame <= kiv::kRadarFrameCount; ++frame) {
        const kiv::Image image = kiv::renderRadarFrame(frame);
        EXPECT_EQ(image.width, 106) << "frame " << frame;
        EXPECT_EQ(image.height, 107) << "frame " << frame;
        EXPECT_EQ(image.pixels.size(), 106u * 107u) << "frame " << frame;
    }
}

TEST(RadarArt, FrameNumbersOutsideOneToSixteenAreRejected)
{
    EXPECT_THROW(kiv::renderRadarFrame(0), std::out_of_range);
    EXPECT_THROW(kiv::renderRadarFrame(17), std::out_of_range);
    EXPECT_THROW(kiv::renderRadarFrame(-1), std::out_of_range);
}

TEST(RadarArt, FrameToBitmapIdTable)
{
    for (const FrameIdRow& row : kFrameIds)
        EXPECT_EQ(kiv::radarBitmapId(row.frame), row.bitmapId) << "frame " << row.frame;
}

TEST(RadarArt, BitmapIdToFrameTable)
{
    for (const FrameIdRow& row : kFrameIds)
        EXPECT_EQ(kiv::radarFrameForBitmapId(row.bitmapId), row.frame) << "bitmap " << row.bitmapId;
}

TEST(RadarArt, MappingCoversEveryBitmapOnce)
{
    bool seen[kiv::kRadarFrameCount] = {};
    for (int frame = 1; frame <= kiv::kRadarFrameCount; ++frame) {
        const int id = kiv::radarBitmapId(frame);
        ASSERT_GE(id, kiv::kRadarFirstBitmapId);
        ASSERT_LE(id, kiv::kRadarLastBitmapId);
        EXPECT_FALSE(seen[id - kiv::kRadarFirstBitmapId]) << "bitmap " << id << " used twice";
        seen[id - kiv::kRadarFirstBitmapId] = true;
        EXPECT_EQ(kiv::radarFrameForBitmapId(id), frame);
    }
}

TEST(RadarArt, MappingRejectsOutOfRangeValues)
{
    EXPECT_THROW(kiv::radarBitmapId(0), std::out_of_range);
    EXPECT_THROW(kiv::radarBitmapId(17), std::out_of_range);
    EXPECT_THROW(kiv::radarFrameForBitmapId(114), std::out_of_range);
    EXPECT_THROW(kiv::radarFrameForBitmapId(131), std::out_of_range);
}

// In frame k only sector k is dark; every other sector shows the green screen.
TEST(RadarArt, SweepSectorSitsWhereTheFrameNumberSays)
{
    for (int frame = 1; frame <= kiv::kRadarFrameCount; ++frame) {
        const kiv::Image image = kiv::renderRadarFrame(frame);
        for (int sector = 1; sector <= kiv::kRadarFrameCount; ++sector) {
            for (double share : {0.5, 0.85}) {
                const std::uint32_t pixel =
                    pixelAtPolar(image, sectorCentre(sector), share * innerRadius());
                const std::uint32_t expected =
                    sector == frame ? kiv::kRadarSweepDark : kiv::kRadarScreenGreen;
                EXPECT_EQ(pixel, expected)
                    << "frame " << frame << ", sector " << sector << ", radius share " << share;
            }
        }
    }
}

TEST(RadarArt, SweepStepsClockwiseFromFrameToFrame)
{
    const double distance = 0.5 * innerRadius();
    for (int frame = 1; frame <= kiv::kRadarFrameCount; ++frame) {
        const int next = frame % kiv::kRadarFrameCount + 1;
        const int previous = (frame + kiv::kRadarFrameCount - 2) % kiv::kRadarFrameCount + 1;
        const kiv::Image image = kiv::renderRadarFrame(frame);
        const double here = sectorCentre(frame);
        EXPECT_EQ(pixelAtPolar(image, here, distance), kiv::kRadarSweepDark) << "frame " << frame;
        // A sixteenth further on is where the next frame's sector is ...
        EXPECT_EQ(pixelAtPolar(image, here + kStepDegrees, distance), kiv::kRadarScreenGreen);
        EXPECT_EQ(pixelAtPolar(kiv::renderRadarFrame(next), here + kStepDegrees, distance),
                  kiv::kRadarSweepDark)
            << "frame " << next;
        // ... and a sixteenth back is where the previous one was.
        EXPECT_EQ(pixelAtPolar(image, here - kStepDegrees, distance), kiv::kRadarScreenGreen);
        EXPECT_EQ(pixelAtPolar(kiv::renderRadarFrame(previous), here - kStepDegrees, distance),
                  kiv::kRadarSweepDark)
            << "frame " << previous;
    }
}

TEST(RadarArt, FirstFrameStartsJustRightOfTwelveAndLastEndsAtTwelve)
{
    const double distance = 0.8 * innerRadius();
    const kiv::Image first = kiv::renderRadarFrame(1);
    const kiv::Image last = kiv::renderRadarFrame(16);
    EXPECT_EQ(pixelAtPolar(first, 5.0, distance), kiv::kRadarSweepDark);
    EXPECT_EQ(pixelAtPolar(first, -5.0, distance), kiv::kRadarScreenGreen);
    EXPECT_EQ(pixelAtPolar(first, 17.5, distance), kiv::kRadarSweepDark);
    EXPECT_EQ(pixelAtPolar(first, 27.5, distance), kiv::kRadarScreenGreen);
    EXPECT_EQ(pixelAtPolar(last, -5.0, distance), kiv::kRadarSweepDark);
    EXPECT_EQ(pixelAtPolar(last, 5.0, distance), kiv::kRadarScreenGreen);
    EXPECT_EQ(pixelAtPolar(last, -27.5, distance), kiv::kRadarScreenGreen);
}

// Four frames on, the whole picture is the earlier one turned a quarter
// clockwise about the centre pixel (the screen is centred on a pixel).
TEST(RadarArt, FourFramesLaterIsAQuarterTurnClockwise)
{
    const kiv::RadarGeometry geometry = kiv::radarFrameGeometry();
    const int cx = static_cast<int>(geometry.centreX);
    const int cy = static_cast<int>(geometry.centreY);
    for (int frame = 1; frame + 4 <= kiv::kRadarFrameCount; ++frame) {
        const kiv::Image before = kiv::renderRadarFrame(frame);
        const kiv::Image after = kiv::renderRadarFrame(frame + 4);
        int compared = 0;
        for (int y = 0; y < kiv::kRadarHeight; ++y) {
            for (int x = 0; x < kiv::kRadarWidth; ++x) {
                // Screen offset (dx, dy) turns clockwise into (-dy, dx).
                const int turnedX = cx - (y - cy);
                const int turnedY = cy + (x - cx);
                if (turnedX < 0 || turnedX >= kiv::kRadarWidth || turnedY < 0 ||
                    turnedY >= kiv::kRadarHeight)
                    continue;
                ASSERT_EQ(after.pixel(turnedX, turnedY), before.pixel(x, y))
                    << "frame " << frame << " pixel " << x << "," << y;
                ++compared;
            }
        }
        EXPECT_GT(compared, 100 * 100);
    }
}

TEST(RadarArt, OutsideTheScreenIsOpaqueDialogGrey)
{
    const kiv::RadarGeometry geometry = kiv::radarFrameGeometry();
    for (int frame = 1; frame <= kiv::kRadarFrameCount; ++frame) {
        const kiv::Image image = kiv::renderRadarFrame(frame);
        EXPECT_EQ(image.pixel(0, 0), kiv::kDialogGrey);
        EXPECT_EQ(image.pixel(105, 0), kiv::kDialogGrey);
        EXPECT_EQ(image.pixel(0, 106), kiv::kDialogGrey);
        EXPECT_EQ(image.pixel(105, 106), kiv::kDialogGrey);
        for (int y = 0; y < image.height; ++y) {
            for (int x = 0; x < image.width; ++x) {
                const std::uint32_t pixel = image.pixel(x, y);
                ASSERT_EQ(pixel >> 24, 0xFFu) << "frame " << frame << " pixel " << x << "," << y;
                // Farther than the radius plus a pixel diagonal: no part of the screen.
                const double dx = x + 0.5 - geometry.centreX;
                const double dy = y + 0.5 - geometry.centreY;
                if (std::sqrt(dx * dx + dy * dy) > geometry.radius + 0.75) {
                    ASSERT_EQ(pixel, kiv::kDialogGrey)
                        << "frame " << frame << " pixel " << x << "," << y;
                }
            }
        }
    }
}

TEST(RadarArt, ScreenHasABrightRimAndGreenFace)
{
    const kiv::RadarGeometry geometry = kiv::radarFrameGeometry();
    const kiv::Image image = kiv::renderRadarFrame(1);
    for (double degrees : {100.0, 190.0, 280.0}) {
        EXPECT_EQ(pixelAtPolar(image, degrees, geometry.radius - geometry.rimWidth / 2),
                  kiv::kRadarRimGreen)
            << degrees;
    }
    // The cross hairs run through the centre pixel's row and column.
    EXPECT_EQ(pixelAtPolar(image, 90.0, 0.5 * innerRadius()), kiv::kRadarGridGreen);
    EXPECT_EQ(pixelAtPolar(image, 180.0, 0.5 * innerRadius()), kiv::kRadarGridGreen);
}

TEST(RadarArt, SweepCoversAboutASixteenthOfTheScreenInEveryFrame)
{
    const double screenArea = kPi * innerRadius() * innerRadius();
    for (int frame = 1; frame <= kiv::kRadarFrameCount; ++frame) {
        const kiv::Image image = kiv::renderRadarFrame(frame);
        int dark = 0;
        for (std::uint32_t pixel : image.pixels)
            dark += pixel == kiv::kRadarSweepDark ? 1 : 0;
        EXPECT_GT(dark, 0.75 * screenArea / 16) << "frame " << frame;
        EXPECT_LT(dark, 1.05 * screenArea / 16) << "frame " << frame;
    }
}

TEST(RadarArt, FramesAreDeterministicAndAllDifferent)
{
    for (int frame = 1; frame <= kiv::kRadarFrameCount; ++frame) {
        const kiv::Image image = kiv::renderRadarFrame(frame);
        EXPECT_EQ(image.pixels, kiv::renderRadarFrame(frame).pixels) << "frame " << frame;
        for (int other = frame + 1; other <= kiv::kRadarFrameCount; ++other)
            EXPECT_NE(image.pixels, kiv::renderRadarFrame(other).pixels)
                << "frames " << frame << " and " << other;
    }
}

TEST(RadarIcon, BothGroupsComeInBothSizes)
{
    for (int group : {kiv::kIconGroupMain, kiv::kIconGroupIdle}) {
        for (int size : {16, 32}) {
            const kiv::Image icon = kiv::renderIcon(group, size);
            EXPECT_EQ(icon.width, size);
            EXPECT_EQ(icon.height, size);
            EXPECT_EQ(icon.pixels.size(), static_cast<std::size_t>(size * size));
        }
    }
}

TEST(RadarIcon, UnknownGroupOrSizeIsRejected)
{
    EXPECT_THROW(kiv::renderIcon(106, 16), std::invalid_argument);
    EXPECT_THROW(kiv::renderIcon(kiv::kIconGroupMain, 24), std::invalid_argument);
    EXPECT_THROW(kiv::renderIcon(kiv::kIconGroupIdle, 48), std::invalid_argument);
}

TEST(RadarIcon, RoundScreenOnTransparentCorners)
{
    for (int group : {kiv::kIconGroupMain, kiv::kIconGroupIdle}) {
        for (int size : {16, 32}) {
            const kiv::Image icon = kiv::renderIcon(group, size);
            const int last = size - 1;
            EXPECT_EQ(icon.pixel(0, 0), kiv::kTransparent);
            EXPECT_EQ(icon.pixel(last, 0), kiv::kTransparent);
            EXPECT_EQ(icon.pixel(0, last), kiv::kTransparent);
            EXPECT_EQ(icon.pixel(last, last), kiv::kTransparent);
            // The middle of each edge is rim, mostly covered (so drawn in
            // an icon without alpha), inside it everything is opaque.
            for (std::uint32_t edge : {icon.pixel(size / 2, 0), icon.pixel(0, size / 2),
                                       icon.pixel(size / 2, last), icon.pixel(last, size / 2)}) {
                EXPECT_EQ(edge & 0xFFFFFFu, kiv::kRadarRimGreen & 0xFFFFFFu)
                    << group << "/" << size;
                EXPECT_GE(edge >> 24, 0x80u) << group << "/" << size;
                EXPECT_LT(edge >> 24, 0xFFu) << group << "/" << size;
            }
            EXPECT_EQ(icon.pixel(size / 2, 1) >> 24, 0xFFu);
            EXPECT_EQ(icon.pixel(size / 2 + 2, size / 2 + 2) >> 24, 0xFFu);
        }
    }
}

TEST(RadarIcon, MainIconShowsTheSweepAndTheIdleIconDoesNot)
{
    for (int size : {16, 32}) {
        int mainDark = 0;
        for (std::uint32_t pixel : kiv::renderIcon(kiv::kIconGroupMain, size).pixels)
            mainDark += pixel == kiv::kRadarSweepDark ? 1 : 0;
        int idleDark = 0;
        for (std::uint32_t pixel : kiv::renderIcon(kiv::kIconGroupIdle, size).pixels)
            idleDark += pixel == kiv::kRadarSweepDark ? 1 : 0;
        EXPECT_GT(mainDark, size / 2) << size;
        EXPECT_EQ(idleDark, 0) << size;
    }
}

TEST(RadarIcon, MainIconSweepIsUpperRight)
{
    const kiv::Image icon = kiv::renderIcon(kiv::kIconGroupMain, 32);
    EXPECT_EQ(icon.pixel(22, 8), kiv::kRadarSweepDark);   // upper right
    EXPECT_EQ(icon.pixel(9, 8), kiv::kRadarScreenGreen);  // upper left
    EXPECT_EQ(icon.pixel(22, 22), kiv::kRadarScreenGreen);
}

TEST(RadarArt, ChangedRectHoldsEveryDifferenceAndNoMore)
{
    for (int frame = 1; frame <= kiv::kRadarFrameCount; ++frame) {
        const kiv::Image from = kiv::renderRadarFrame(frame);
        const kiv::Image to = kiv::renderRadarFrame(frame % kiv::kRadarFrameCount + 1);
        const kiv::PixelRect r = kiv::changedRect(from, to);
        ASSERT_GT(r.width, 0) << frame;
        // A step of the sweep touches part of the screen, not all of it.
        EXPECT_LT(r.width * r.height, from.width * from.height) << frame;
        bool leftEdge = false, rightEdge = false, topEdge = false, bottomEdge = false;
        for (int y = 0; y < from.height; ++y) {
            for (int x = 0; x < from.width; ++x) {
                const bool inside = x >= r.x && x < r.x + r.width && y >= r.y && y < r.y + r.height;
                if (from.pixel(x, y) == to.pixel(x, y))
                    continue;
                ASSERT_TRUE(inside) << frame << ": " << x << "," << y;
                leftEdge |= x == r.x;
                rightEdge |= x == r.x + r.width - 1;
                topEdge |= y == r.y;
                bottomEdge |= y == r.y + r.height - 1;
            }
        }
        EXPECT_TRUE(leftEdge && rightEdge && topEdge && bottomEdge) << "not the smallest, frame " << frame;
    }
    const kiv::Image same = kiv::renderRadarFrame(3);
    EXPECT_EQ(0, kiv::changedRect(same, same).width);
}

