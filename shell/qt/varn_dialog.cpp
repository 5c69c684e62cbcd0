#include "shell/qt/varn_dialog.h"

#include <functional>

#include <QApplication>
#include <QFontMetrics>
#include <QStyle>
#include <QStyleFactory>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>

#include "base/debug_log.h"
#include "net/view_endpoint.h"
#include "service/kiv_srv.h"
#include "shell/qt/ipv4_address_edit.h"
#include "shell/qt/radar_view.h"
#include "shell/resource_ids.h"

namespace kiv::qt {

namespace {

// Every text the panel hands over is UTF-8 (names from the network, the
// host name, the operating system's description).
QString utf8(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// An event list entry ordered as the Windows list box orders its sorted
// entries: without regard to case, so both builds list events alike.
class EventEntry : public QListWidgetItem
{
public:
    explicit EventEntry(const QString& text) : QListWidgetItem(text) {}

    bool operator<(const QListWidgetItem& other) const override
    {
        return text().compare(other.text(), Qt::CaseInsensitive) < 0;
    }
};

// A sunken square whose background shows its slot's state.
class IndicatorFrame : public QFrame
{
public:
    IndicatorFrame(std::function<std::optional<int>()> state, QWidget* parent)
        : QFrame(parent), mState(std::move(state))
    {
        setFrameStyle(QFrame::Panel | QFrame::Sunken);
        setLineWidth(2);
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        {
            QPainter painter(this);
            painter.fillRect(rect(), indicatorColour(mState(), palette().color(QPalette::Window)));
        }
        QFrame::paintEvent(event);
    }

private:
    std::function<std::optional<int>()> mState;
};

}  // namespace

void applyDialogStyle()
{
    if (QStyle* style = QStyleFactory::create(QStringLiteral("Windows")))
        QApplication::setStyle(style);
}

QColor indicatorColour(std::optional<int> state, const QColor& fallback)
{
    if (!state)
        return fallback;
    switch (*state) {
    case 2:
        return QColor(255, 0, 0);
    case 1:
        return QColor(255, 255, 0);
    case 0:
        return QColor(0, 255, 0);
    case -1:
        return QColor(205, 205, 205);
    default:
        return fallback;
    }
}

DialogBaseUnits dialogBaseUnits(const QFont& font)
{
    const QFontMetrics metrics(font);
    const int letters =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(letters / 26 + 1) / 2, metrics.height()};
}

QRect toPixels(const DialogRect& rect, DialogBaseUnits units)
{
    const auto scaleX = [&units](int value) { return (value * units.x) / 4; };
    const auto scaleY = [&units](int value) { return (value * units.y) / 8; };
    return QRect(scaleX(rect.x), scaleY(rect.y), scaleX(rect.width), scaleY(rect.height));
}

namespace {

// What a dialog with its own service host says once a service runs on the
// station beside it.
const char* const kServiceAppearedCaption =
    "Varn Win32 - a VarnWin32 service now runs on this station: close this window and start "
    "VarnWin32 again to see the service";

}  // namespace

VarnDialog::VarnDialog(KivSrv*& host, QWidget* parent)
    : QDialog(parent), mHost(&host), mPanel(*this, host)
{
    setUp(kMainDialog.caption);
}

VarnDialog::VarnDialog(StatusSource& source, QWidget* parent) : QDialog(parent), mPanel(*this, source)
{
    setUp("VarnWin32 (service)");
}

void VarnDialog::setUp(const char* caption)
{
    setWindowTitle(QString::fromLatin1(caption));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    QFont dialogFont(QString::fromLatin1(kMainDialog.fontName));
    dialogFont.setPointSize(kMainDialog.fontPointSize);
    setFont(dialogFont);
    buildControls();
    setFixedSize(toPixels(kMainDialog.rect, dialogBaseUnits(dialogFont)).size());

    // One timer, from the start, for the radar's 100 ms steps and the 500 ms
    // refresh: one wake-up of the program per step, not two.
    connect(&mTimer, &QTimer::timeout, this, [this] { onTimer(); });
    mTimer.start(kAnimationMilliseconds);
}

void VarnDialog::onTimer()
{
    if (mPanel.viewShown()) {
        mPanel.advanceAnimation();
        if (++mStepsSinceRefresh < kRefreshMilliseconds / kAnimationMilliseconds)
            return;
        mStepsSinceRefresh = 0;
    }
    // Nothing to refresh once the service host is gone.
    if (mHost == nullptr || *mHost != nullptr)
        mPanel.refreshStatusPanel();
    if (!mServiceAddress.empty())
        lookForService();
}

void VarnDialog::watchForService(std::string viewAddress)
{
    if (mHost != nullptr)
        mServiceAddress = std::move(viewAddress);
}

void VarnDialog::lookForService()
{
    // One stat() per refresh, until the endpoint is there.
    if (!view::serviceInstalled(mServiceAddress))
        return;
    infoLog("A VarnWin32 service now runs on this station (%s); starting VarnWin32 again shows it\n",
            mServiceAddress.c_str());
    mServiceAddress.clear();
    setWindowTitle(QString::fromLatin1(kServiceAppearedCaption));
}

VarnDialog::~VarnDialog()
{
    stopServiceHost();
}

void VarnDialog::buildControls()
{
    const DialogBaseUnits units = dialogBaseUnits(font());
    for (const DialogControl& entry : kMainDialogControls) {
        const QString caption = QString::fromLatin1(entry.caption);
        QWidget* widget = nullptr;
        switch (entry.kind) {
        case ControlKind::PushButton: {
            auto* button = new QPushButton(caption, this);
            if (entry.id == IDC_EXIT) {
                button->setDefault(true);
                connect(button, &QPushButton::clicked, this, [this] { finish(IDC_EXIT); });
            } else if (entry.id == IDC_SET_PING_TARGET) {
                connect(button, &QPushButton::clicked, this, [this] { mPanel.onSetPingTarget(); });
            } else if (entry.id == IDC_CLEAR) {
                connect(button, &QPushButton::clicked, this, [this] { mPanel.onClearEvents(); });
            }
            widget = button;
            break;
        }
        case ControlKind::ListBox:
            mEventList = new QListWidget(this);
            mEventList->setSortingEnabled(true);
            widget = mEventList;
            break;
        case ControlKind::Label: {
            auto* label = new QLabel(caption, this);
            // Names from the network are shown as they are, never as markup.
            label->setTextFormat(Qt::PlainText);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            label->setWordWrap(true);
            widget = label;
            break;
        }
        case ControlKind::Indicator: {
            const int id = entry.id;
            widget = new IndicatorFrame([this, id] { return mPanel.indicatorState(id); }, this);
            break;
        }
        case ControlKind::GroupBox:
            widget = new QGroupBox(caption, this);
            break;
        case ControlKind::AddressEntry:
            mAddress = new Ipv4AddressEdit(this);
            // Enter in the address does what "Set Ping Target IP" does; it
            // never reaches "Exit", the default button.
            connect(mAddress, &Ipv4AddressEdit::returnPressed, this, [this] { mPanel.onSetPingTarget(); });
            widget = mAddress;
            break;
        case ControlKind::Picture: {
            if (entry.id == IDC_RADAR) {
                // The template's image until the animation takes over.
                mRadar = new RadarView(this);
                mRadar->addPicture(renderRadarFrame(radarFrameForBitmapId(kRadarFirstBitmapId)));
                mRadar->showPicture(kTemplatePicture, QRect());
                widget = mRadar;
                break;
            }
            auto* picture = new QLabel(this);
            picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            widget = picture;
            break;
        }
        }
        QRect geometry = toPixels(entry.rect, units);
        if (widget == mRadar)
            geometry.setSize(QSize(kRadarWidth, kRadarHeight));  // a bitmap static takes its image's size
        widget->setGeometry(geometry);
        if (entry.id != -1) {
            widget->setObjectName(QString::number(entry.id));
            mControls[entry.id] = widget;
        }
        widget->setVisible(entry.shown);
        if (entry.kind == ControlKind::GroupBox)
            widget->lower();  // a frame never hides what sits inside it
    }
}

QWidget* VarnDialog::control(int controlId) const
{
    const auto found = mControls.find(controlId);
    return found == mControls.end() ? nullptr : found->second;
}

void VarnDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    followVisibility();
}

void VarnDialog::hideEvent(QHideEvent* event)
{
    QDialog::hideEvent(event);
    followVisibility();
}

void VarnDialog::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        followVisibility();
}

void VarnDialog::followVisibility()
{
    const bool shown = isVisible() && !isMinimized();
    if (shown == mPanel.viewShown())
        return;
    // Hidden or minimised, the radar stands still, nothing is drawn, and
    // the timer wakes the program only for the refresh.
    mPanel.setViewShown(shown);
    mStepsSinceRefresh = 0;
    mTimer.start(shown ? kAnimationMilliseconds : kRefreshMilliseconds);
}

void VarnDialog::reject()
{
    finish(IDC_CANCEL);
}

void VarnDialog::finish(int result)
{
    stopServiceHost();
    QDialog::done(result);
}

void VarnDialog::stopServiceHost()
{
    if (mHost == nullptr || *mHost == nullptr)
        return;
    delete *mHost;
    *mHost = nullptr;
}

void VarnDialog::setControlText(int controlId, const std::string& text)
{
    if (auto* label = qobject_cast<QLabel*>(control(controlId)))
        label->setText(utf8(text));
}

void VarnDialog::addListEntry(int controlId, const std::string& text)
{
    if (controlId == IDC_EVENT_LIST && mEventList != nullptr)
        mEventList->addItem(
            new EventEntry(utf8(text)));
}

void VarnDialog::removeListEntry(int controlId, const std::string& text)
{
    if (controlId != IDC_EVENT_LIST || mEventList == nullptr)
        return;
    const QList<QListWidgetItem*> found = mEventList->findItems(
        utf8(text), Qt::MatchExactly);
    if (!found.isEmpty())
        delete found.first();
}

void VarnDialog::clearList(int controlId)
{
    if (controlId == IDC_EVENT_LIST && mEventList != nullptr)
        mEventList->clear();
}

void VarnDialog::repaintIndicator(int controlId)
{
    if (QWidget* indicator = control(controlId))
        indicator->update();
}

void VarnDialog::loadStaticResources()
{
    QIcon icon;
    icon.addPixmap(toPixmap(renderIcon(kIconGroupMain, kIconSmallSize)));
    icon.addPixmap(toPixmap(renderIcon(kIconGroupMain, kIconLargeSize)));
    setWindowIcon(icon);
    if (mRadar == nullptr || mRadarFramesAdded)
        return;
    // Frame k becomes the radar's picture k, after the template's.
    std::array<Image, kRadarFrameCount> frames;
    for (int frame = 1; frame <= kRadarFrameCount; ++frame) {
        const auto i = static_cast<std::size_t>(frame - 1);
        frames[i] = renderRadarFrame(frame);
        mRadar->addPicture(frames[i]);
    }
    mRadarFramesAdded = true;
    // What each step of the sweep changes, from frame k to the next.
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const PixelRect r = changedRect(frames[i], frames[(i + 1) % frames.size()]);
        mRadarSteps[i] = QRect(r.x, r.y, r.width, r.height);
    }
}

void VarnDialog::showRadarFrame(int frame)
{
    if (mRadar == nullptr)
        return;
    const bool valid = mRadarFramesAdded && frame >= 1 && frame <= kRadarFrameCount;
    if (!valid) {
        mRadar->showPicture(kNoPicture, QRect());
        mRadarFrame = 0;
        return;
    }
    // The next frame of the sweep: only the sector that moved is drawn.
    const bool step = mRadarFrame >= 1 && frame == mRadarFrame % kRadarFrameCount + 1;
    const QRect changed = step ? mRadarSteps[static_cast<std::size_t>(mRadarFrame - 1)] : QRect();
    mRadarFrame = frame;
    mRadar->showPicture(frame, changed);
}

PingAddressEntry VarnDialog::readPingAddress()
{
    return mAddress != nullptr ? mAddress->entry() : PingAddressEntry();
}

void VarnDialog::showNotice(const std::string& caption, const std::string& text)
{
    QMessageBox::warning(this, utf8(caption), utf8(text));
}

}  // namespace kiv::qt
