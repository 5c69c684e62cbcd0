// Pictures the window system keeps for one window, so that showing one of
// them, or part of one, is a single copy inside the display server instead
// of painting and sending the pixels again. Only X11 keeps them; elsewhere
// `create` gives nothing and the caller paints as usual.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <QRect>
#include <QWidget>

#include "shell/art/radar_art.h"

struct xcb_connection_t;

namespace kiv::qt {

class WindowPictures
{
public:
    // Whether the application talks to an X server at all; the widget must
    // then be a native window painted on screen for the pictures to be used.
    static bool available();

    // Pictures for `window`, or null where the server cannot take them as
    // they are (a screen that is not 24/32-bit true colour, or a failure).
    static std::unique_ptr<WindowPictures> create(WId window);

    ~WindowPictures();
    WindowPictures(const WindowPictures&) = delete;
    WindowPictures& operator=(const WindowPictures&) = delete;

    // Adds a picture; its index is the number of pictures before it. False
    // when the server refused it (nothing is added then).
    bool add(const Image& picture);
    std::size_t size() const { return mPixmaps.size(); }

    // Copies `area` of picture `index` to the same place in the window.
    void draw(std::size_t index, const QRect& area);
    // Fills `area` of the window with a colour (0xRRGGBB).
    void fill(const QRect& area, std::uint32_t rgb);
    // Sends what was drawn.
    void flush();

private:
    WindowPictures(xcb_connection_t* connection, std::uint32_t window, std::uint8_t depth,
                   std::uint32_t gc, std::uint32_t maxRequestBytes);

    xcb_connection_t* mConnection;
    std::uint32_t mWindow;
    std::uint8_t mDepth;
    std::uint32_t mGc;
    std::uint32_t mMaxRequestBytes;
    std::vector<std::uint32_t> mPixmaps;
};

}  // namespace kiv::qt
