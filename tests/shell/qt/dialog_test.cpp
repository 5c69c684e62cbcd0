// The real dialog on Qt's offscreen platform against the real service, in
// the private namespace the harness made: beacons on loopback addresses.
// As the view, the service's view channel serves a socket of the test's own.
#include "shell/qt/varn_dialog.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest/QTest>
#include <gtest/gtest.h>

#include "base/event_text.h"
#include "service/kiv_server.h"
#include "service/kiv_srv.h"
#include "service/view_channel.h"
#include "service/view_client.h"
#include "shell/dialog_template.h"
#include "shell/qt/ipv4_address_edit.h"
#include "shell/resource_ids.h"
#include "support/udp_peer.h"

namespace {

using kiv::KivSrv;
using kiv::qt::VarnDialog;
using kiv::test::UdpPeer;

const std::string kAnnouncement =
    "<beacon><name>pump 3</name><location>hall 2</location><pingTarget>10.9.9.9</pingTarget>"
    "<pingTargetHealth>2</pingTargetHealth></beacon>";

QString text(VarnDialog& dialog, int id)
{
    auto* label = qobject_cast<QLabel*>(dialog.control(id));
    return label != nullptr ? label->text() : QString();
}

// Types as an operator would: each key goes to the field that has the focus.
void type(kiv::qt::Ipv4AddressEdit& edit, const char* keys)
{
    if (edit.focusWidget() == nullptr)
        edit.field(0)->setFocus();
    for (const char* key = keys; *key != '\0'; ++key)
        QTest::keyClick(edit.focusWidget(), *key);
}

QColor centreColour(QWidget* widget)
{
    const QImage image = widget->grab().toImage();
    return image.pixelColor(image.width() / 2, image.height() / 2);
}

class DialogTest : public ::testing::Test
{
protected:
    KivSrv* host = new KivSrv;
    std::unique_ptr<VarnDialog> dialog = std::make_unique<VarnDialog>(host);

    void SetUp() override { dialog->show(); }
    void TearDown() override
    {
        dialog.reset();
        delete host;
        gEventText.take();  // what no refresh took is not the next test's
    }
};

TEST_F(DialogTest, ControlsFollowTheTemplate)
{
    EXPECT_EQ("Varn Win32", dialog->windowTitle());
    for (const kiv::DialogControl& entry : kiv::kMainDialogControls) {
        if (entry.id == -1)
            continue;
        QWidget* widget = dialog->findChild<QWidget*>(QString::number(entry.id));
        ASSERT_NE(nullptr, widget) << entry.id;
        EXPECT_EQ(entry.shown, widget->isVisible()) << entry.id;
        if (entry.kind == kiv::ControlKind::Label) {
            EXPECT_EQ(Qt::PlainText, qobject_cast<QLabel*>(widget)->textFormat())
                << entry.id << ": a beacon name is never markup";
        }
    }
    EXPECT_EQ("Set Ping Target IP", qobject_cast<QPushButton*>(dialog->control(IDC_SET_PING_TARGET))->text());
    EXPECT_TRUE(dialog->findChildren<QLabel*>().size() > 20);
    EXPECT_EQ(QColor(205, 205, 205), centreColour(dialog->control(IDC_BEACON_INDICATOR0)))
        << "grey before the first refresh";
}

TEST_F(DialogTest, BeaconAppearsTurnsLateThenLostAndPingTargetIsSent)
{
    UdpPeer beacon("10.0.0.9", kiv::kWatchdogPort, UdpPeer::Where::Here, true);
    beacon.setMulticastInterface("10.0.0.9");
    UdpPeer group("0.0.0.0", kiv::kWatchdogPort, UdpPeer::Where::Here, true);
    group.joinGroup(kiv::kBeaconGroup, "127.0.0.1");

    // The first announcement binds the slot, the second brings the ping
    // target and the fresh count.
    ASSERT_TRUE(beacon.sendTo(kAnnouncement, kiv::kBeaconGroup, kiv::kWatchdogPort));
    ASSERT_TRUE(beacon.sendTo(kAnnouncement, kiv::kBeaconGroup, kiv::kWatchdogPort));
    ASSERT_TRUE(QTest::qWaitFor([&] { return text(*dialog, IDC_BEACON_TEXT0).startsWith("10.0.0.9 : pump 3 : hall 2 : "); }, 5000))
        << text(*dialog, IDC_BEACON_TEXT0).toStdString();
    QWidget* indicator = dialog->control(IDC_BEACON_INDICATOR0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return centreColour(indicator) == QColor(0, 255, 0); }, 3000));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return centreColour(dialog->control(IDC_PING_INDICATOR0)) == QColor(0, 255, 0); }, 3000));
    EXPECT_EQ("10.9.9.9  :  2", text(*dialog, IDC_PING_TEXT0));

    // Silence: late after two missed ticks, lost after three (the first
    // tick comes five seconds after the start).
    EXPECT_TRUE(QTest::qWaitFor([&] { return centreColour(indicator) == QColor(255, 255, 0); }, 15000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return centreColour(indicator) == QColor(255, 0, 0); }, 15000));

    // The operator's ping target, typed into the address entry.
    group.drain(std::chrono::milliseconds(50));
    auto* address = dialog->findChild<kiv::qt::Ipv4AddressEdit*>(QString::number(IDC_PING_ADDRESS));
    ASSERT_NE(nullptr, address);
    type(*address, "10.1.2.0");
    QTest::mouseClick(dialog->control(IDC_SET_PING_TARGET), Qt::LeftButton);
    EXPECT_EQ("10.1.2.0", text(*dialog, IDC_PING_TARGET_SHOWN));
    int groupCommands = 0;
    while (auto datagram = group.receive(std::chrono::milliseconds(500)))
        groupCommands += datagram->data == "<setPingTarget>10.1.2.0</setPingTarget>";
    EXPECT_EQ(3, groupCommands);
    auto unicast = beacon.receive(std::chrono::milliseconds(2000));
    while (unicast && unicast->data == kAnnouncement)
        unicast = beacon.receive(std::chrono::milliseconds(2000));
    ASSERT_TRUE(unicast.has_value());
    EXPECT_EQ("<setPingTarget>10.1.2.0</setPingTarget>", unicast->data);
}

TEST_F(DialogTest, EnterInTheAddressSetsThePingTargetAndTheDialogStays)
{
    UdpPeer group("0.0.0.0", kiv::kWatchdogPort, UdpPeer::Where::Here, true);
    group.joinGroup(kiv::kBeaconGroup, "127.0.0.1");
    auto* address = dialog->findChild<kiv::qt::Ipv4AddressEdit*>(QString::number(IDC_PING_ADDRESS));
    ASSERT_NE(nullptr, address);
    type(*address, "10.1.2.3");
    QTest::keyClick(address->focusWidget(), Qt::Key_Return);

    EXPECT_NE(nullptr, host);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ("10.1.2.3", text(*dialog, IDC_PING_TARGET_SHOWN));
    std::optional<kiv::test::Datagram> sent = group.receive(std::chrono::milliseconds(3000));
    while (sent && sent->data != "<setPingTarget>10.1.2.3</setPingTarget>")
        sent = group.receive(std::chrono::milliseconds(3000));
    EXPECT_TRUE(sent.has_value()) << "the command on the group";
}

TEST_F(DialogTest, AnInvalidAddressSendsNothingAndAMessageBoxSaysWhy)
{
    UdpPeer group("0.0.0.0", kiv::kWatchdogPort, UdpPeer::Where::Here, true);
    group.joinGroup(kiv::kBeaconGroup, "127.0.0.1");
    auto* address = dialog->findChild<kiv::qt::Ipv4AddressEdit*>(QString::number(IDC_PING_ADDRESS));
    QString shown;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown = box->text();
            box->accept();
        }
    });
    poll.start(20);
    address->field(0)->setFocus();
    type(*address, "300.1.1.1");
    QTest::keyClick(address->focusWidget(), Qt::Key_Return);
    EXPECT_TRUE(shown.contains("300 is not a valid entry")) << shown.toStdString();
    EXPECT_EQ("", text(*dialog, IDC_PING_TARGET_SHOWN));
    while (auto datagram = group.receive(std::chrono::milliseconds(500)))
        EXPECT_EQ(std::string::npos, datagram->data.find("setPingTarget")) << datagram->data;
}

TEST_F(DialogTest, AddressEntryIsOneTabStop)
{
    auto* address = dialog->findChild<kiv::qt::Ipv4AddressEdit*>(QString::number(IDC_PING_ADDRESS));
    QWidget* before = dialog->control(IDC_SET_PING_TARGET);
    before->setFocus();
    QTest::keyClick(before, Qt::Key_Tab);
    EXPECT_EQ(address->field(0), dialog->focusWidget());
    type(*address, "10.1");  // now in the second field
    QTest::keyClick(address->focusWidget(), Qt::Key_Left);
    QTest::keyClick(address->focusWidget(), Qt::Key_Left);
    EXPECT_EQ(address->field(0), dialog->focusWidget()) << "the arrow keys cross the fields";
    QTest::keyClick(address->focusWidget(), Qt::Key_Right);
    QTest::keyClick(address->focusWidget(), Qt::Key_Tab);
    EXPECT_FALSE(address->isAncestorOf(dialog->focusWidget())) << "Tab leaves the entry";
    address->field(2)->setFocus();
    QTest::keyClick(address->field(2), Qt::Key_Backtab);
    EXPECT_EQ(before, dialog->focusWidget()) << "Shift+Tab leaves it too";
}

TEST_F(DialogTest, Utf8NamesAreShownAsUtf8)
{
    UdpPeer beacon("10.0.0.9", kiv::kWatchdogPort, UdpPeer::Where::Here, true);
    beacon.setMulticastInterface("10.0.0.9");
    ASSERT_TRUE(beacon.sendTo("<beacon><name>Pumpe S\xC3\xBC" "d</name><location>hall 2</location></beacon>",
                              kiv::kBeaconGroup, kiv::kWatchdogPort));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return text(*dialog, IDC_BEACON_TEXT0).startsWith(QString::fromUtf8("10.0.0.9 : Pumpe S\u00FCd : ")); },
        5000))
        << text(*dialog, IDC_BEACON_TEXT0).toStdString();
}

TEST_F(DialogTest, EventListIsSortedAndHidden)
{
    auto* list = qobject_cast<QListWidget*>(dialog->control(IDC_EVENT_LIST));
    ASSERT_NE(nullptr, list);
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->count() >= 2; }, 3000));
    EXPECT_FALSE(list->isVisible());
    EXPECT_EQ(" AFTER new kiv::KivServer()", list->item(0)->text());
    EXPECT_EQ(" BEFORE new kiv::KivServer()", list->item(1)->text());
}

TEST_F(DialogTest, EventListSortsWithoutRegardToCaseAsOnWindows)
{
    auto* list = qobject_cast<QListWidget*>(dialog->control(IDC_EVENT_LIST));
    ASSERT_NE(nullptr, list);
    // Cloud events as the listener leaves them for the next refresh.
    gEventText.append("\rzz b cloud\r\rzz C cloud\r\rzz a cloud\r\rZZ D cloud\r");
    std::vector<std::string> order;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            order.clear();
            for (int i = 0; i < list->count(); ++i)
                if (list->item(i)->text().startsWith(QStringLiteral("zz"), Qt::CaseInsensitive))
                    order.push_back(list->item(i)->text().toStdString());
            return order.size() == 4;
        },
        3000));
    EXPECT_EQ((std::vector<std::string>{"zz a cloud", "zz b cloud", "zz C cloud", "ZZ D cloud"}),
              order);
}

TEST_F(DialogTest, ExitStopsTheServiceThenCloses)
{
    const auto clicked = std::chrono::steady_clock::now();
    QTest::mouseClick(dialog->control(IDC_EXIT), Qt::LeftButton);
    const auto closed = std::chrono::steady_clock::now();
    EXPECT_EQ(nullptr, host);
    EXPECT_EQ(nullptr, kiv::KivServer::instance());
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(IDC_EXIT, dialog->result());
    std::printf("exit took %.1f ms\n",
                std::chrono::duration<double, std::milli>(closed - clicked).count());
}

TEST_F(DialogTest, EscapeAndCloseBoxBehaveLikeExit)
{
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_EQ(nullptr, host);
    EXPECT_EQ(IDC_CANCEL, dialog->result());

    host = new KivSrv;
    dialog = std::make_unique<VarnDialog>(host);
    dialog->show();
    dialog->close();
    EXPECT_EQ(nullptr, host);
    EXPECT_FALSE(dialog->isVisible());
}

TEST_F(DialogTest, SaysOnceThatAServiceNowRunsOnTheStation)
{
    QTemporaryDir directory;
    const std::string socket = directory.filePath(QStringLiteral("view")).toStdString();
    dialog->watchForService(socket);
    boost::asio::io_context io;
    const auto listener = kiv::view::openViewListener(io, socket);
    EXPECT_TRUE(QTest::qWaitFor([&] { return dialog->windowTitle().contains("service now runs"); }, 3000));
    EXPECT_NE(nullptr, host) << "the dialog's own service goes on";
}

// The dialog as the view of the service: the service's view channel over its
// server, the dialog through a client of it, and a beacon on loopback.
class ViewDialogTest : public ::testing::Test
{
protected:
    QTemporaryDir directory;
    const std::string socket = directory.filePath(QStringLiteral("view")).toStdString();
    KivSrv* host = nullptr;
    std::unique_ptr<kiv::ViewChannel> channel;
    kiv::ViewClient client{socket};
    kiv::ViewStatusSource source{client};
    std::unique_ptr<VarnDialog> dialog;
    UdpPeer beacon{"10.0.0.9", kiv::kWatchdogPort, UdpPeer::Where::Here, true};

    void startService()
    {
        host = new KivSrv;
        auto listener = kiv::view::openViewListener(host->server()->ioContext(), socket);
        channel = std::make_unique<kiv::ViewChannel>(*host->server(), std::move(listener));
    }
    void stopService()
    {
        channel.reset();
        delete host;
        host = nullptr;
    }
    void SetUp() override
    {
        startService();
        client.start();
        ASSERT_EQ(kiv::ViewLink::connected, client.waitForFirstAnswer(std::chrono::seconds(5)));
        dialog = std::make_unique<VarnDialog>(source);
        dialog->show();
        beacon.setMulticastInterface("10.0.0.9");
    }
    void TearDown() override
    {
        dialog.reset();
        stopService();
        gEventText.take();
    }
    // Announces the beacon; whether the dialog shows it within `bound` ms.
    bool beaconShown(int bound)
    {
        return beacon.sendTo(kAnnouncement, kiv::kBeaconGroup, kiv::kWatchdogPort) &&
               QTest::qWaitFor([&] { return text(*dialog, IDC_BEACON_TEXT0).startsWith("10.0.0.9 : pump 3 : "); },
                               bound);
    }
};

const char* const kWaitingLine = "The VarnWin32 service is not running; waiting for it";

TEST_F(ViewDialogTest, BeaconsOfTheServiceAppearWithinASecond)
{
    EXPECT_EQ("VarnWin32 (service)", dialog->windowTitle());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !text(*dialog, IDC_HOST_NAME).isEmpty(); }, 3000));
    EXPECT_TRUE(beaconShown(1000)) << text(*dialog, IDC_BEACON_TEXT0).toStdString();
}

TEST_F(ViewDialogTest, PingTargetGoesOutFromTheServiceToTheGroupAndEachBeacon)
{
    UdpPeer group("0.0.0.0", kiv::kWatchdogPort, UdpPeer::Where::Here, true);
    group.joinGroup(kiv::kBeaconGroup, "127.0.0.1");
    ASSERT_TRUE(beaconShown(3000));
    group.drain(std::chrono::milliseconds(50));
    beacon.drain(std::chrono::milliseconds(50));
    type(*dialog->findChild<kiv::qt::Ipv4AddressEdit*>(QString::number(IDC_PING_ADDRESS)), "10.1.2.3");
    QTest::mouseClick(dialog->control(IDC_SET_PING_TARGET), Qt::LeftButton);
    const std::string command = "<setPingTarget>10.1.2.3</setPingTarget>";
    int groupCommands = 0;
    while (auto datagram = group.receive(std::chrono::milliseconds(1000)))
        groupCommands += datagram->data == command;
    EXPECT_EQ(3, groupCommands);
    const auto unicast = beacon.receive(std::chrono::milliseconds(2000));
    EXPECT_EQ(command, unicast ? unicast->data : "nothing");
}

TEST_F(ViewDialogTest, ExitClosesTheViewOnlyAndTheServiceAnswersOn)
{
    QTest::mouseClick(dialog->control(IDC_EXIT), Qt::LeftButton);
    EXPECT_FALSE(dialog->isVisible());
    ASSERT_NE(nullptr, kiv::KivServer::instance());
    UdpPeer requester("127.0.0.1", 0);
    ASSERT_TRUE(requester.sendTo("STATUS_REQUEST ", "127.0.0.1", kiv::kCommandPort));
    const auto answer = requester.receive(std::chrono::milliseconds(3000));
    EXPECT_EQ(0u, answer ? answer->data.find("<status>") : std::string::npos);
}

TEST_F(ViewDialogTest, ServiceRestartedShowsTheWaitingLineThenTheViewIsBack)
{
    QWidget* indicator = dialog->control(IDC_BEACON_INDICATOR0);
    ASSERT_TRUE(beaconShown(3000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return centreColour(indicator) == QColor(0, 255, 0); }, 3000));
    stopService();
    EXPECT_TRUE(QTest::qWaitFor([&] { return text(*dialog, IDC_BEACON_TEXT0) == kWaitingLine; }, 3000));
    EXPECT_EQ(QColor(205, 205, 205), centreColour(indicator));
    startService();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !text(*dialog, IDC_HOST_NAME).isEmpty(); }, 5000));
    EXPECT_NE(kWaitingLine, text(*dialog, IDC_BEACON_TEXT0));
}

TEST(AddressEntry, FieldsMoveOnAndKeepWhatWasTyped)
{
    kiv::qt::Ipv4AddressEdit edit;
    EXPECT_EQ(0, edit.entry().filledFields);
    edit.field(0)->setFocus();
    type(edit, "2551.999");  // a third digit moves on; a value above 255 stays as typed
    EXPECT_EQ(3, edit.entry().filledFields);
    EXPECT_EQ("999", edit.field(2)->text());
    type(edit, "7");
    EXPECT_EQ((std::array<int, 4>{255, 1, 999, 7}), edit.entry().fields);
    QTest::keyClick(edit.focusWidget(), Qt::Key_Backspace);
    QTest::keyClick(edit.focusWidget(), Qt::Key_Backspace);  // empty: back to the third field
    QTest::keyClick(edit.focusWidget(), Qt::Key_Backspace);
    EXPECT_EQ(edit.field(2), edit.focusWidget());
    EXPECT_EQ("99", edit.field(2)->text());
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    kiv::qt::applyDialogStyle();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
