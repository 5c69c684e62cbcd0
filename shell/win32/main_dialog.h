// The Win32 side of the main dialog: the dialog procedure and the view the
// status panel writes through. Everything here runs on the GUI thread.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "shell/art/radar_art.h"
#include "shell/status_panel.h"

namespace kiv {
class ViewClient;
}

namespace kiv::win32 {

// Indicator colours by state: -1 grey, 0 green, 1 yellow, 2 red. Any other
// state has no colour (CLR_INVALID, a null brush).
COLORREF indicatorColour(int state);
HBRUSH indicatorBrush(int state);

// The dialog's controls as the status panel sees them. The panel's texts
// are UTF-8; the controls get them as UTF-16.
class DialogView final : public StatusView
{
public:
    explicit DialogView(HINSTANCE instance);
    ~DialogView() override;
    DialogView(const DialogView&) = delete;
    DialogView& operator=(const DialogView&) = delete;

    void attach(HWND dialog) { mDialog = dialog; }
    HWND dialog() const { return mDialog; }

    void setControlText(int controlId, const std::string& text) override;
    void addListEntry(int controlId, const std::string& text) override;
    void removeListEntry(int controlId, const std::string& text) override;
    void clearList(int controlId) override;
    void repaintIndicator(int controlId) override;
    void loadStaticResources() override;
    void showRadarFrame(int frame) override;
    PingAddressEntry readPingAddress() override;
    void showNotice(const std::string& caption, const std::string& text) override;

    HBITMAP radarFrame(int frame) const;

private:
    bool isRadarFrame(HBITMAP bitmap) const;

    HINSTANCE mInstance;
    HWND mDialog = nullptr;
    std::array<HBITMAP, kRadarFrameCount> mFrames{};
};

// The dialog procedure of dialog 107. The first message it sees (before
// WM_INITDIALOG) starts the 500 ms refresh and the 100 ms animation timers.
INT_PTR CALLBACK dialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The window dialogProc stores on its first message; null before that.
HWND mainDialog();

// Where the station's service is viewed, and the dialog as its view: the
// panel reads `client`, the caption says so, and the dialog's exits leave
// the service running. Without a client the dialog is the standalone
// program over gServiceHost. Either way the dialog looks every few seconds
// whether the service came or went and becomes the other kind, saying so
// in its caption. Call before the dialog is made.
void setDialogMode(const std::string& viewAddress, std::unique_ptr<ViewClient> client);
// Ends the view's client, if the dialog still has one (after the dialog).
void closeView();

}  // namespace kiv::win32
