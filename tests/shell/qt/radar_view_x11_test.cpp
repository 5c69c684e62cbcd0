// The radar under a real X server (the test runs under Xvfb): its pictures
// are kept by the server, and each step, which copies only the part that
// changed, leaves on the screen exactly the frame the step leads to.
#include "shell/qt/radar_view.h"

#include <array>

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QtTest/QTest>
#include <gtest/gtest.h>

#include "shell/art/radar_art.h"

namespace {

using kiv::Image;
using kiv::kRadarFrameCount;

// The pixels the window shows, read back from the X server.
QImage onScreen(QWidget& widget)
{
    return widget.screen()->grabWindow(widget.winId()).toImage().convertToFormat(QImage::Format_RGB32);
}

int differingPixels(const QImage& shown, const Image& expected)
{
    if (shown.width() != expected.width || shown.height() != expected.height)
        return -1;
    int differing = 0;
    for (int y = 0; y < expected.height; ++y) {
        for (int x = 0; x < expected.width; ++x) {
            if ((shown.pixel(x, y) & 0xFFFFFFu) != (expected.pixel(x, y) & 0xFFFFFFu))
                ++differing;
        }
    }
    return differing;
}

QRect toQRect(const kiv::PixelRect& r)
{
    return QRect(r.x, r.y, r.width, r.height);
}

TEST(RadarOnX11, EveryStepLeavesExactlyItsFrameOnTheScreen)
{
    std::array<Image, kRadarFrameCount> frames;
    kiv::qt::RadarView view(nullptr);
    view.setFixedSize(kiv::kRadarWidth, kiv::kRadarHeight);
    view.addPicture(kiv::renderRadarFrame(2));  // picture 0, as the dialog's template
    for (int k = 1; k <= kRadarFrameCount; ++k) {
        frames[static_cast<std::size_t>(k - 1)] = kiv::renderRadarFrame(k);
        view.addPicture(frames[static_cast<std::size_t>(k - 1)]);
    }
    view.showPicture(1, QRect());
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    QApplication::processEvents();
    ASSERT_TRUE(view.drawsOnServer());
    ASSERT_EQ(0, differingPixels(onScreen(view), frames[0]));

    // Two turns, each step drawing only what differs from the frame before.
    for (int step = 1; step <= 2 * kRadarFrameCount; ++step) {
        const auto from = static_cast<std::size_t>((step - 1) % kRadarFrameCount);
        const auto to = static_cast<std::size_t>(step % kRadarFrameCount);
        view.showPicture(static_cast<int>(to) + 1, toQRect(kiv::changedRect(frames[from], frames[to])));
        ASSERT_EQ(0, differingPixels(onScreen(view), frames[to])) << "after the step to frame " << to + 1;
    }

    // No picture: the window's colour all over.
    view.showPicture(-1, QRect());
    const QImage blank = onScreen(view);
    const QRgb window = view.palette().color(QPalette::Window).rgb() & 0xFFFFFFu;
    EXPECT_EQ(window, blank.pixel(0, 0) & 0xFFFFFFu);
    EXPECT_EQ(window, blank.pixel(kiv::kRadarWidth / 2, kiv::kRadarHeight / 2) & 0xFFFFFFu);
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
