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

bool xDisplayAnswers()
{
    if (!dialogUsesX() || !isSet("DISPLAY"))
        return false;
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool answers = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return answers;
}

}  // namespace kiv::qt
