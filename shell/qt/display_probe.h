// Whether the dialog's window system answers, asked before the windowing
// library is started: the program then starts its service while the
// library starts, instead of after it.
#pragma once

struct xcb_connection_t;

namespace kiv::qt {

// A connection to the X display, made only when the dialog will open there
// (not on another window system, nor where the choice is unclear). It is
// held until the program's own window connection is made: an X server
// resets itself, shutting out new clients for a moment, when its last
// client leaves, and this one may be the only client so far.
class XDisplayProbe
{
public:
    XDisplayProbe();
    ~XDisplayProbe();
    XDisplayProbe(const XDisplayProbe&) = delete;
    XDisplayProbe& operator=(const XDisplayProbe&) = delete;

    // The X display accepted the connection.
    bool answers() const { return mAnswers; }
    // Lets the connection go.
    void release();

private:
    xcb_connection_t* mConnection = nullptr;
    bool mAnswers = false;
};

}  // namespace kiv::qt
