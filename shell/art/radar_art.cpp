#include "shell/art/radar_art.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <stdexcept>
#include <string>

namespace kiv {
namespace {

constexpr int kSixteenths = 16;          // the sweep moves in sixteenths of a turn
constexpr int kSubsamplesPerAxis = 4;    // 4 x 4 samples per pixel
constexpr int kSubsamples = kSubsamplesPerAxis * kSubsamplesPerAxis;

// A direction given as the angle clockwise from twelve o'clock.
struct Direction {
    double sine;
    double cosine;
};

// The sixteen directions k * 22.5 degrees. Built from square roots and sign
// changes only (both exact in IEEE arithmetic), so every compiler and C
// library produces the same bits and the frames are identical everywhere.
std::array<Direction, kSixteenths> makeDirections()
{
    const double root2 = std::sqrt(2.0);
    const double sin22 = std::sqrt(2.0 - root2) / 2.0;
    const double cos22 = std::sqrt(2.0 + root2) / 2.0;
    const double diagonal = std::sqrt(0.5);

    std::array<Direction, kSixteenths> table{};
    table[0] = {0.0, 1.0};
    table[1] = {sin22, cos22};
    table[2] = {diagonal, diagonal};
    table[3] = {cos22, sin22};
    // A quarter turn clockwise: sin(a + 90) = cos(a), cos(a + 90) = -sin(a).
    for (int k = 4; k < kSixteenths; ++k) {
        const Direction& before = table[static_cast<std::size_t>(k - 4)];
        table[static_cast<std::size_t>(k)] = {before.cosine, -before.sine};
    }
    return table;
}

const Direction& direction(int sixteenth)
{
    static const std::array<Direction, kSixteenths> table = makeDirections();
    return table[static_cast<std::size_t>(sixteenth % kSixteenths)];
}

// How far the offset (dx, dy) (y pointing down) lies clockwise of the
// direction: positive when clockwise (within half a turn), zero on the line.
double clockwiseOf(const Direction& d, double dx, double dy)
{
    // The direction as a screen vector is (sine, -cosine).
    return d.cosine * dx + d.sine * dy;
}

struct Scene {
    RadarGeometry geometry;
    int ringCount;         // range rings, evenly spaced inside the rim
    double lineHalfWidth;  // of the rings and cross hairs; 0 draws neither
    double crossShift;     // cross hairs' offset from the centre, both axes
    int sweepBegin;        // in sixteenths clockwise from twelve o'clock
    int sweepEnd;          // sweepBegin == sweepEnd: no sweep; at most 7 apart
};

bool inSweep(const Scene& scene, double dx, double dy)
{
    if (scene.sweepBegin == scene.sweepEnd)
        return false;
    return clockwiseOf(direction(scene.sweepBegin), dx, dy) >= 0.0 &&
           clockwiseOf(direction(scene.sweepEnd), dx, dy) < 0.0;
}

bool onGrid(const Scene& scene, double dx, double dy, double distance)
{
    const double halfWidth = scene.lineHalfWidth;
    if (halfWidth <= 0.0)
        return false;
    if (std::fabs(dx - scene.crossShift) < halfWidth ||
        std::fabs(dy - scene.crossShift) < halfWidth)
        return true;
    const double inner = scene.geometry.radius - scene.geometry.rimWidth;
    for (int ring = 1; ring <= scene.ringCount; ++ring) {
        const double ringRadius = inner * ring / (scene.ringCount + 1);
        if (std::fabs(distance - ringRadius) < halfWidth)
            return true;
    }
    return false;
}

// Colour of the screen at the point (x, y); nothing outside the circle.
std::optional<std::uint32_t> sampleScene(const Scene& scene, double x, double y)
{
    const RadarGeometry& geometry = scene.geometry;
    const double dx = x - geometry.centreX;
    const double dy = y - geometry.centreY;
    const double distance = std::sqrt(dx * dx + dy * dy);
    if (distance >= geometry.radius)
        return std::nullopt;
    if (distance >= geometry.radius - geometry.rimWidth)
        return kRadarRimGreen;
    const bool swept = inSweep(scene, dx, dy);
    if (onGrid(scene, dx, dy, distance))
        return swept ? kRadarSweepGridGreen : kRadarGridGreen;
    return swept ? kRadarSweepDark : kRadarScreenGreen;
}

std::uint32_t channel(std::uint32_t colour, int shift)
{
    return (colour >> shift) & 0xFFu;
}

std::uint32_t roundedAverage(std::uint32_t sum, std::uint32_t count)
{
    return (sum + count / 2) / count;
}

// Draws the scene with 4 x 4 samples per pixel. With a background colour the
// picture is opaque and the background shows outside the circle; without one
// the outside is transparent and alpha follows the circle's coverage.
Image renderScene(const Scene& scene, int width, int height,
                  std::optional<std::uint32_t> background)
{
    Image image;
    image.width = width;
    image.height = height;
    image.pixels.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));

    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint32_t red = 0;
            std::uint32_t green = 0;
            std::uint32_t blue = 0;
            std::uint32_t covered = 0;
            for (int sy = 0; sy < kSubsamplesPerAxis; ++sy) {
                for (int sx = 0; sx < kSubsamplesPerAxis; ++sx) {
                    // Sample points at odd eighths of the pixel: exact in binary.
                    const double px = x + (2 * sx + 1) / (2.0 * kSubsamplesPerAxis);
                    const double py = y + (2 * sy + 1) / (2.0 * kSubsamplesPerAxis);
                    std::optional<std::uint32_t> colour = sampleScene(scene, px, py);
                    if (colour) {
                        ++covered;
                    } else if (background) {
                        colour = background;
                    } else {
                        continue;
                    }
                    red += channel(*colour, 16);
                    green += channel(*colour, 8);
                    blue += channel(*colour, 0);
                }
            }

            std::uint32_t pixel = kTransparent;
            if (background) {
                pixel = 0xFF000000u | roundedAverage(red, kSubsamples) << 16 |
                        roundedAverage(green, kSubsamples) << 8 |
                        roundedAverage(blue, kSubsamples);
            } else if (covered > 0) {
                const std::uint32_t alpha = roundedAverage(covered * 255u, kSubsamples);
                pixel = alpha << 24 | roundedAverage(red, covered) << 16 |
                        roundedAverage(green, covered) << 8 | roundedAverage(blue, covered);
            }
            image.pixels.push_back(pixel);
        }
    }
    return image;
}

Scene iconScene(int groupId, int size)
{
    Scene scene{};
    const double half = size / 2.0;
    // An even size puts the centre on a pixel corner; half a pixel up and
    // left the cross hairs cover whole pixels instead of two half ones.
    scene.crossShift = -0.5;
    if (size == kIconLargeSize) {
        scene.geometry = {half, half, half - 0.25, 2.0};
        scene.ringCount = 1;
        scene.lineHalfWidth = 0.5;
    } else {
        scene.geometry = {half, half, half - 0.25, 1.25};
        scene.ringCount = 0;
        scene.lineHalfWidth = 0.5;
    }
    if (groupId == kIconGroupMain) {
        // Twice as wide as in the animation so it reads at 16 pixels.
        scene.sweepBegin = 1;
        scene.sweepEnd = 3;
    }
    return scene;
}

}  // namespace

RadarGeometry radarFrameGeometry()
{
    // Centred on pixel centres, so the cross hairs fall on whole pixels; one
    // spare column and a spare row either side stay dialog grey.
    return {52.5, 53.5, 52.0, 3.0};
}

Image renderRadarFrame(int frame)
{
    if (frame < 1 || frame > kRadarFrameCount)
        throw std::out_of_range("radar frame " + std::to_string(frame) + " is not 1 to 16");
    Scene scene{};
    scene.geometry = radarFrameGeometry();
    scene.ringCount = 2;
    scene.lineHalfWidth = 0.5;
    scene.sweepBegin = frame - 1;
    scene.sweepEnd = frame;
    return renderScene(scene, kRadarWidth, kRadarHeight, kDialogGrey);
}

int radarBitmapId(int frame)
{
    if (frame < 1 || frame > kRadarFrameCount)
        throw std::out_of_range("radar frame " + std::to_string(frame) + " is not 1 to 16");
    if (frame == 1)
        return kRadarFirstBitmapId + 1;
    if (frame == 2)
        return kRadarFirstBitmapId;
    return kRadarFirstBitmapId - 1 + frame;
}

int radarFrameForBitmapId(int bitmapId)
{
    if (bitmapId < kRadarFirstBitmapId || bitmapId > kRadarLastBitmapId)
        throw std::out_of_range("bitmap " + std::to_string(bitmapId) +
                                " is not a radar frame");
    if (bitmapId == kRadarFirstBitmapId)
        return 2;
    if (bitmapId == kRadarFirstBitmapId + 1)
        return 1;
    return bitmapId - (kRadarFirstBitmapId - 1);
}

Image renderIcon(int groupId, int size)
{
    if (groupId != kIconGroupMain && groupId != kIconGroupIdle)
        throw std::invalid_argument("no icon group " + std::to_string(groupId));
    if (size != kIconSmallSize && size != kIconLargeSize)
        throw std::invalid_argument("no icon of " + std::to_string(size) + " pixels");
    return renderScene(iconScene(groupId, size), size, size, std::nullopt);
}

PixelRect changedRect(const Image& from, const Image& to)
{
    if (from.width != to.width || from.height != to.height)
        throw std::invalid_argument("pictures of different sizes");
    int left = from.width;
    int right = -1;
    int top = from.height;
    int bottom = -1;
    for (int y = 0; y < from.height; ++y) {
        for (int x = 0; x < from.width; ++x) {
            if (from.pixel(x, y) == to.pixel(x, y))
                continue;
            left = std::min(left, x);
            right = std::max(right, x);
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    }
    if (right < 0)
        return PixelRect{};
    return PixelRect{left, top, right - left + 1, bottom - top + 1};
}

}  // namespace kiv
