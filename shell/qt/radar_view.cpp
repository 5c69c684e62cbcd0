#include "shell/qt/radar_view.h"

#include <algorithm>
#include <cstring>

#include <QImage>
#include <QPaintEvent>
#include <QPainter>

#include "shell/qt/window_pictures.h"

namespace kiv::qt {

QPixmap toPixmap(const Image& image)
{
    // A picture without transparent pixels is drawn by copying, not blending.
    const bool opaque = std::all_of(image.pixels.begin(), image.pixels.end(),
                                    [](std::uint32_t p) { return (p >> 24) == 0xFF; });
    QImage result(image.width, image.height, opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32);
    for (int y = 0; y < image.height; ++y)
        std::memcpy(result.scanLine(y), &image.pixels[static_cast<std::size_t>(y * image.width)],
                    static_cast<std::size_t>(image.width) * sizeof(std::uint32_t));
    return QPixmap::fromImage(result);
}

RadarView::RadarView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    // Ten steps a second through Qt's painting and the transfer of the
    // pixels cost more than all the rest of the idle dialog; a copy inside
    // the X server costs next to nothing. That needs a window of its own,
    // drawn at one device pixel per pixel.
    if (WindowPictures::available() && devicePixelRatioF() == 1.0) {
        mOnScreen = true;
        setAttribute(Qt::WA_NativeWindow);
        setAttribute(Qt::WA_PaintOnScreen);
    }
}

RadarView::~RadarView() = default;

void RadarView::addPicture(const Image& picture)
{
    if (!mOnScreen) {
        mPixmaps.push_back(toPixmap(picture));
        return;
    }
    mImages.push_back(picture);
    if (mServer && !mServer->add(picture))
        paintThroughQt();
}

void RadarView::showPicture(int index, const QRect& changed)
{
    mShown = index;
    if (!isVisible())
        return;
    const QRect area = changed.isEmpty() ? rect() : changed;
    if (mServer) {
        drawOnServer(area);
        mServer->flush();
        return;
    }
    // Painted now rather than through a posted update: one wake-up of the
    // event loop fewer, ten times a second.
    repaint(area);
}

QPaintEngine* RadarView::paintEngine() const
{
    return mOnScreen ? nullptr : QWidget::paintEngine();
}

void RadarView::paintEvent(QPaintEvent* event)
{
    if (mOnScreen) {
        if (mServer || takePicturesToServer()) {
            for (const QRect& area : event->region())
                drawOnServer(area);
            mServer->flush();
            return;
        }
        paintThroughQt();
        return;  // painted again, through Qt
    }
    QPainter painter(this);
    for (const QRect& area : event->region()) {
        if (mShown >= 0 && static_cast<std::size_t>(mShown) < mPixmaps.size())
            painter.drawPixmap(area, mPixmaps[static_cast<std::size_t>(mShown)], area);
        else
            painter.fillRect(area, palette().color(QPalette::Window));
    }
}

// The first paint, when the window exists: the pictures go to the server.
bool RadarView::takePicturesToServer()
{
    mServer = WindowPictures::create(internalWinId());
    if (!mServer)
        return false;
    for (const Image& picture : mImages) {
        if (!mServer->add(picture)) {
            mServer.reset();
            return false;
        }
    }
    return true;
}

// Where the server cannot keep the pictures, Qt paints them after all.
void RadarView::paintThroughQt()
{
    mServer.reset();
    mOnScreen = false;
    setAttribute(Qt::WA_PaintOnScreen, false);
    for (const Image& picture : mImages)
        mPixmaps.push_back(toPixmap(picture));
    mImages.clear();
    mImages.shrink_to_fit();
    update();
}

void RadarView::drawOnServer(const QRect& area)
{
    if (mShown >= 0 && static_cast<std::size_t>(mShown) < mServer->size())
        mServer->draw(static_cast<std::size_t>(mShown), area);
    else
        mServer->fill(area, palette().color(QPalette::Window).rgb());
}

}  // namespace kiv::qt
