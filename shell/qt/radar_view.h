// The dialog's radar picture. It shows one of the pictures it was given and,
// when the sweep steps on, draws only the part that changed. Under X11 the
// pictures are kept by the X server and a step is one copy there, with no
// painting in the program; elsewhere it paints from pixmaps as any widget.
#pragma once

#include <memory>
#include <vector>

#include <QPixmap>
#include <QWidget>

#include "shell/art/radar_art.h"

namespace kiv::qt {

class WindowPictures;

QPixmap toPixmap(const Image& image);

class RadarView : public QWidget
{
public:
    explicit RadarView(QWidget* parent);
    ~RadarView() override;

    // Adds a picture; its index is the number of pictures before it.
    void addPicture(const Image& picture);
    // Shows picture `index`, or the window's colour for an index without a
    // picture. `changed` is the part that differs from what is shown now;
    // an empty rectangle draws it all.
    void showPicture(int index, const QRect& changed);

    // Whether the pictures are drawn by the display server.
    bool drawsOnServer() const { return mServer != nullptr; }

protected:
    QPaintEngine* paintEngine() const override;
    void paintEvent(QPaintEvent* event) override;

private:
    bool takePicturesToServer();
    void paintThroughQt();
    void drawOnServer(const QRect& area);

    bool mOnScreen = false;  // painted by us, on the window, not by Qt
    std::unique_ptr<WindowPictures> mServer;
    std::vector<Image> mImages;     // the pictures, while drawn on the server
    std::vector<QPixmap> mPixmaps;  // the pictures, while Qt paints them
    int mShown = -1;
};

}  // namespace kiv::qt
