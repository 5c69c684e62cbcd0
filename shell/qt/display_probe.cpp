#include "shell/qt/display_probe.h"

#include <cstdlib>
#include <cstring>

#include <xcb/xcb.h>

namespace kiv::qt {
namespace {

bool isSet(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

// The X display, as the windowing library picks its platform: named
// outright, or by default in a session that is not a Wayland one.
bool dialogUsesX()
{
    if (const char* platform = std::getenv("QT_QPA_PLATFORM"); platform != nullptr && platform[0] != '\0')
        return std::strcmp(platform, "xcb") == 0;
    if (isSet("WAYLAND_DISPLAY"))
        return false;
    const char* session = std::getenv("XDG_SESSION_TYPE");
    return session == nullptr || std::strcmp(session, "wayland") != 0;
}

}  // namespace

XDisplayProbe::XDisplayProbe()
{
    if (!dialogUsesX() || !isSet("DISPLAY"))
        return;
    mConnection = xcb_connect(nullptr, nullptr);
    mAnswers = xcb_connection_has_error(mConnection) == 0;
}

XDisplayProbe::~XDisplayProbe()
{
    release();
}

void XDisplayProbe::release()
{
    // Also a connection that failed is given back.
    if (mConnection != nullptr)
        xcb_disconnect(mConnection);
    mConnection = nullptr;
}

}  // namespace kiv::qt
