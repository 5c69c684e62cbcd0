#include "shell/qt/window_pictures.h"

#include <cstdlib>

#include <QGuiApplication>
#include <xcb/xcb.h>

namespace kiv::qt {

namespace {

xcb_connection_t* x11Connection()
{
    auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>()
                                   : nullptr;
    return x11 != nullptr ? x11->connection() : nullptr;
}

template <typename Reply>
using ReplyPtr = std::unique_ptr<Reply, decltype(&std::free)>;

template <typename Reply>
ReplyPtr<Reply> own(Reply* reply)
{
    return ReplyPtr<Reply>(reply, &std::free);
}

// Our pixels are 0xAARRGGBB words in the machine's (little-endian) order,
// which is what the server takes as a Z pixmap when its pixels are 32 bits
// wide, least significant byte first, red/green/blue in the usual masks.
bool takesOurPixels(const xcb_setup_t* setup, std::uint8_t depth, xcb_visualid_t visual)
{
    if (setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST || (depth != 24 && depth != 32))
        return false;
    bool wordPixels = false;
    for (auto formats = xcb_setup_pixmap_formats_iterator(setup); formats.rem != 0;
         xcb_format_next(&formats)) {
        if (formats.data->depth == depth)
            wordPixels = formats.data->bits_per_pixel == 32 && formats.data->scanline_pad == 32;
    }
    if (!wordPixels)
        return false;
    for (auto screens = xcb_setup_roots_iterator(setup); screens.rem != 0; xcb_screen_next(&screens)) {
        for (auto depths = xcb_screen_allowed_depths_iterator(screens.data); depths.rem != 0;
             xcb_depth_next(&depths)) {
            for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem != 0;
                 xcb_visualtype_next(&visuals)) {
                const xcb_visualtype_t* v = visuals.data;
                if (v->visual_id == visual)
                    return v->_class == XCB_VISUAL_CLASS_TRUE_COLOR && v->red_mask == 0xFF0000 &&
                           v->green_mask == 0x00FF00 && v->blue_mask == 0x0000FF;
            }
        }
    }
    return false;
}

}  // namespace

bool WindowPictures::available()
{
    return x11Connection() != nullptr;
}

std::unique_ptr<WindowPictures> WindowPictures::create(WId window)
{
    xcb_connection_t* connection = x11Connection();
    if (connection == nullptr || window == 0)
        return nullptr;
    const auto id = static_cast<xcb_window_t>(window);
    const auto geometryCookie = xcb_get_geometry(connection, id);
    const auto attributesCookie = xcb_get_window_attributes(connection, id);
    const auto geometry = own(xcb_get_geometry_reply(connection, geometryCookie, nullptr));
    const auto attributes = own(xcb_get_window_attributes_reply(connection, attributesCookie, nullptr));
    if (!geometry || !attributes ||
        !takesOurPixels(xcb_get_setup(connection), geometry->depth, attributes->visual))
        return nullptr;

    // No exposure events for copies: the pictures are always complete.
    const xcb_gcontext_t gc = xcb_generate_id(connection);
    const std::uint32_t noExposures = 0;
    if (auto error = own(xcb_request_check(
            connection, xcb_create_gc_checked(connection, gc, id, XCB_GC_GRAPHICS_EXPOSURES,
                                              &noExposures))))
        return nullptr;
    const std::uint32_t maxRequestBytes = xcb_get_maximum_request_length(connection) * 4;
    return std::unique_ptr<WindowPictures>(
        new WindowPictures(connection, id, geometry->depth, gc, maxRequestBytes));
}

WindowPictures::WindowPictures(xcb_connection_t* connection, std::uint32_t window,
                               std::uint8_t depth, std::uint32_t gc, std::uint32_t maxRequestBytes)
    : mConnection(connection), mWindow(window), mDepth(depth), mGc(gc), mMaxRequestBytes(maxRequestBytes)
{
}

WindowPictures::~WindowPictures()
{
    for (const std::uint32_t pixmap : mPixmaps)
        xcb_free_pixmap(mConnection, pixmap);
    xcb_free_gc(mConnection, mGc);
    xcb_flush(mConnection);
}

bool WindowPictures::add(const Image& picture)
{
    const auto rowBytes = static_cast<std::uint32_t>(picture.width) * 4;
    const auto bytes = rowBytes * static_cast<std::uint32_t>(picture.height);
    constexpr std::uint32_t kPutImageHeader = 24;
    if (picture.width <= 0 || picture.height <= 0 || bytes + kPutImageHeader > mMaxRequestBytes)
        return false;
    const xcb_pixmap_t pixmap = xcb_generate_id(mConnection);
    const auto created = xcb_create_pixmap_checked(mConnection, mDepth, pixmap, mWindow,
                                                   static_cast<std::uint16_t>(picture.width),
                                                   static_cast<std::uint16_t>(picture.height));
    const auto filled = xcb_put_image_checked(
        mConnection, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, mGc, static_cast<std::uint16_t>(picture.width),
        static_cast<std::uint16_t>(picture.height), 0, 0, 0, mDepth, bytes,
        reinterpret_cast<const std::uint8_t*>(picture.pixels.data()));
    auto createError = own(xcb_request_check(mConnection, created));
    auto fillError = own(xcb_request_check(mConnection, filled));
    if (createError || fillError) {
        if (!createError)
            xcb_free_pixmap(mConnection, pixmap);
        return false;
    }
    mPixmaps.push_back(pixmap);
    return true;
}

void WindowPictures::draw(std::size_t index, const QRect& area)
{
    if (index >= mPixmaps.size() || area.isEmpty())
        return;
    xcb_copy_area(mConnection, mPixmaps[index], mWindow, mGc, static_cast<std::int16_t>(area.x()),
                  static_cast<std::int16_t>(area.y()), static_cast<std::int16_t>(area.x()),
                  static_cast<std::int16_t>(area.y()), static_cast<std::uint16_t>(area.width()),
                  static_cast<std::uint16_t>(area.height()));
}

void WindowPictures::fill(const QRect& area, std::uint32_t rgb)
{
    if (area.isEmpty())
        return;
    const std::uint32_t pixel = (rgb & 0xFFFFFFu) | (mDepth == 32 ? 0xFF000000u : 0u);
    xcb_change_gc(mConnection, mGc, XCB_GC_FOREGROUND, &pixel);
    const xcb_rectangle_t rectangle{static_cast<std::int16_t>(area.x()), static_cast<std::int16_t>(area.y()),
                                    static_cast<std::uint16_t>(area.width()),
                                    static_cast<std::uint16_t>(area.height())};
    xcb_poly_fill_rectangle(mConnection, mWindow, mGc, 1, &rectangle);
}

void WindowPictures::flush()
{
    xcb_flush(mConnection);
}

}  // namespace kiv::qt
