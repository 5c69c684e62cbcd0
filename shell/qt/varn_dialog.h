// The main dialog on Linux: the same controls, timers, colours and
// behaviour as the Windows dialog, built with Qt Widgets from the shared
// control table.
#pragma once

#include <array>
#include <map>
#include <string>

#include <QDialog>
#include <QColor>
#include <QTimer>

#include "shell/art/radar_art.h"
#include "shell/dialog_template.h"
#include "shell/status_panel.h"

class QLabel;
class QListWidget;
class QPushButton;

namespace kiv {
class KivSrv;
}

namespace kiv::qt {

class Ipv4AddressEdit;
class RadarView;

// The colour an indicator is painted in for a state; the dialog's own
// background for anything else.
QColor indicatorColour(std::optional<int> state, const QColor& fallback);

// Pixel size of the dialog unit rectangle for the dialog font, as Windows
// maps them: x by a quarter of the average character width, y by an eighth
// of the character height.
struct DialogBaseUnits {
    int x;
    int y;
};
DialogBaseUnits dialogBaseUnits(const QFont& font);
QRect toPixels(const DialogRect& rect, DialogBaseUnits units);

// The dialog's look: Qt's classic Windows style, flat-shaded like the
// Windows dialog it mirrors. Call once, after the application exists.
void applyDialogStyle();

class VarnDialog : public QDialog, private StatusView
{
    Q_OBJECT
public:
    // `host` is the program's service host; the dialog deletes it and sets
    // it to null on "Exit", Esc or the close box, before it closes.
    explicit VarnDialog(KivSrv*& host, QWidget* parent = nullptr);
    // The view of the station's service: shows what `source` reads (it
    // must outlive the dialog), and closing the dialog stops nothing.
    explicit VarnDialog(StatusSource& source, QWidget* parent = nullptr);
    ~VarnDialog() override;

    // With its own service host: when a service's view endpoint appears at
    // `viewAddress` (looked for at the refresh), the caption tells the
    // operator once that a restart shows that service.
    void watchForService(std::string viewAddress);

    StatusPanel& panel() { return mPanel; }
    // The control with this id (its object name), or null.
    QWidget* control(int controlId) const;

public Q_SLOTS:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    static constexpr int kRefreshMilliseconds = 500;
    static constexpr int kAnimationMilliseconds = 100;

    // Tells the panel whether the dialog can be seen, and runs the radar
    // only while it can.
    void followVisibility();
    void onTimer();
    void setUp(const char* caption);
    void buildControls();
    void lookForService();
    void finish(int result);
    void stopServiceHost();

    // StatusView
    void setControlText(int controlId, const std::string& text) override;
    void addListEntry(int controlId, const std::string& text) override;
    void removeListEntry(int controlId, const std::string& text) override;
    void clearList(int controlId) override;
    void repaintIndicator(int controlId) override;
    void loadStaticResources() override;
    void showRadarFrame(int frame) override;
    PingAddressEntry readPingAddress() override;
    void showNotice(const std::string& caption, const std::string& text) override;

    KivSrv** mHost = nullptr;  // null as a view
    StatusPanel mPanel;
    std::string mServiceAddress;  // empty: not looked for (any more)
    std::map<int, QWidget*> mControls;
    QListWidget* mEventList = nullptr;
    RadarView* mRadar = nullptr;
    Ipv4AddressEdit* mAddress = nullptr;
    static constexpr int kNoPicture = -1;
    static constexpr int kTemplatePicture = 0;  // then frames 1 to 16
    bool mRadarFramesAdded = false;
    std::array<QRect, kRadarFrameCount> mRadarSteps;  // changed from frame k to k + 1
    int mRadarFrame = 0;  // shown, or 0 when none of the frames
    QTimer mTimer;  // radar steps and refresh
    int mStepsSinceRefresh = 0;
};

}  // namespace kiv::qt
