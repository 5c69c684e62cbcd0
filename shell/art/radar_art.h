// Pixel art of the dialog: the sixteen radar frames and the program icon.
// Everything is drawn in portable code so the Qt dialog and the Win32 dialog
// show the same pixels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kiv {

// Radar animation: 16 frames, shown one after another every 100 ms.
constexpr int kRadarWidth = 106;
constexpr int kRadarHeight = 107;
constexpr int kRadarFrameCount = 16;
constexpr int kRadarFirstBitmapId = 115;
constexpr int kRadarLastBitmapId = 130;

// Icon groups. 105 is the dialog's icon: the radar screen with its sweep.
// 108 is the same screen at rest (no sweep sector); nothing shows it.
constexpr int kIconGroupMain = 105;
constexpr int kIconGroupIdle = 108;
constexpr int kIconSmallSize = 16;
constexpr int kIconLargeSize = 32;

// Colours, 0xAARRGGBB.
constexpr std::uint32_t kDialogGrey = 0xFFF0F0F0;         // around the screen
constexpr std::uint32_t kRadarScreenGreen = 0xFF006C00;   // screen background
constexpr std::uint32_t kRadarRimGreen = 0xFF30E030;      // bright rim
constexpr std::uint32_t kRadarGridGreen = 0xFF00B000;     // range rings, cross hairs
constexpr std::uint32_t kRadarSweepDark = 0xFF001800;     // sweep sector
constexpr std::uint32_t kRadarSweepGridGreen = 0xFF004800;  // grid seen through the sweep
constexpr std::uint32_t kTransparent = 0x00000000;

// A picture in memory: 0xAARRGGBB pixels, row-major, top row first.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;

    std::uint32_t pixel(int x, int y) const
    {
        return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                      static_cast<std::size_t>(x)];
    }
};

// Where the screen sits in a radar frame, in pixel coordinates: pixel (x, y)
// covers [x, x+1) x [y, y+1), so its centre is (x + 0.5, y + 0.5).
struct RadarGeometry {
    double centreX;
    double centreY;
    double radius;    // outer edge of the rim
    double rimWidth;  // the rim is the ring between radius - rimWidth and radius
};
RadarGeometry radarFrameGeometry();

// Display frame 1..16. Frame k's sweep sector covers the angles from
// (k-1) * 22.5 to k * 22.5 degrees, clockwise from twelve o'clock.
// Pixels outside the screen are kDialogGrey; every pixel is opaque.
// Throws std::out_of_range for any other frame number.
Image renderRadarFrame(int frame);

// The smallest rectangle holding every pixel in which two pictures of the
// same size differ; width 0 when they are the same. Going from one radar
// frame to the next, only this much has to be drawn again.
struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};
PixelRect changedRect(const Image& from, const Image& to);

// Bitmap resource of display frame 1..16: 116 for frame 1, 115 for frame 2,
// 114 + k for frames 3 to 16. Both throw std::out_of_range outside the range.
int radarBitmapId(int frame);
int radarFrameForBitmapId(int bitmapId);

// The icon of group kIconGroupMain or kIconGroupIdle at 16 or 32 pixels.
// Outside the screen the pixels are transparent; the rim's edge has partial
// alpha. Throws std::invalid_argument for any other group or size.
Image renderIcon(int groupId, int size);

}  // namespace kiv
