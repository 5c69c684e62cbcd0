// The program on Linux: starts the service host, runs the dialog, and
// stops the host when the dialog ends. On a station where the watchdog
// service is installed (its view socket is there) the dialog is that
// service's view instead, and the program opens none of the watchdog's ports.
#include <chrono>
#include <cstdlib>
#include <exception>
#include <string>

#include <csignal>

#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>

#include "base/debug_log.h"
#include "base/service_options.h"
#include "net/view_endpoint.h"
#include "service/kiv_srv.h"
#include "service/view_client.h"
#include "shell/status_source.h"
#include "shell/startup_failure.h"
#include "shell/qt/display_probe.h"
#include "shell/qt/varn_dialog.h"

namespace {

QtMessageHandler gQtDefaultHandler = nullptr;

// Qt ends the process when it cannot reach a display; say it plainly and
// exit with a status instead of an abort.
void reportWindowFailure(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type != QtFatalMsg) {
        gQtDefaultHandler(type, context, message);
        return;
    }
    // The log is standard error here: each line is said once.
    const QByteArray text = message.toLocal8Bit();
    errorLog("VarnWin32 cannot open its window: %s\n", text.constData());
    errorLog("Headless stations run the windowless varnwin32-service instead.\n");
    // A service started because the display answered stops cleanly.
    delete gServiceHost;
    gServiceHost = nullptr;
    std::_Exit(2);
}

int gSignalPipe[2] = {-1, -1};

void onStopSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(gSignalPipe[1], &byte, 1);
}

// SIGINT and SIGTERM close the dialog like its close box, so the service
// stops cleanly when the session ends or an operator stops the program; they
// close the message box of a refused start the same way. The handlers go in
// before the service starts; a signal that arrives before the dialog runs
// waits in the pipe.
void catchStopSignals()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, gSignalPipe) != 0)
        return;
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void closeOnStopSignals(QDialog& dialog)
{
    if (gSignalPipe[0] < 0)
        return;
    auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, &dialog);
    QObject::connect(notifier, &QSocketNotifier::activated, &dialog, [&dialog] {
        char byte = 0;
        [[maybe_unused]] const ssize_t got = ::read(gSignalPipe[0], &byte, 1);
        dialog.reject();
    });
}

// Starts the service host; what stopped it, said once in the log, otherwise.
std::exception_ptr startServiceHost()
{
    try {
        gServiceHost = new kiv::KivSrv;
        return nullptr;
    } catch (const std::exception& error) {
        kiv::reportStartupFailure(error);
        return std::current_exception();
    }
}

// A view that the service answers at once is shown complete; one that
// waits longer shows the waiting line until the service is there.
constexpr std::chrono::seconds kFirstAnswerWait{1};

// The dialog as the view of the station's service at `address`: closing it
// leaves the service as it is.
int runAsView(int& argc, char* argv[], const std::string& address)
{
    catchStopSignals();
    // The client connects while Qt reaches its display.
    kiv::ViewClient client(address);
    client.start();
    QApplication application(argc, argv);
    qInstallMessageHandler(gQtDefaultHandler);
    kiv::qt::applyDialogStyle();

    const kiv::ViewLink link = client.waitForFirstAnswer(kFirstAnswerWait);
    if (link == kiv::ViewLink::accessDenied || link == kiv::ViewLink::refused) {
        const std::string problem = client.problem();
        errorLog("%s\n", problem.c_str());
        QMessageBox box(QMessageBox::Critical, QStringLiteral("VarnWin32 (service)"),
                        QString::fromUtf8(problem.c_str()));
        closeOnStopSignals(box);
        box.exec();
        return 1;
    }
    infoLog("Showing the VarnWin32 service of this station (%s)\n", address.c_str());
    kiv::ViewStatusSource source(client);
    kiv::qt::VarnDialog dialog(source);
    closeOnStopSignals(dialog);
    dialog.exec();
    return 0;
}

}  // namespace

int main(int argc, char* argv[])
{
    // Before the window system is reached or any socket opened: a wrong
    // command line (or --help) ends here.
    const kiv::CommandLineResult commandLine = kiv::takeCommandLine({argv + 1, argv + argc}, "varnwin32");
    if (!commandLine.run) {
        // The refusal is an error line of the log (with its priority in the
        // journal); the help and the version go to standard output.
        if (commandLine.status == 0)
            std::fputs(commandLine.text.c_str(), stdout);
        else
            errorLog("%s", commandLine.text.c_str());
        return commandLine.status;
    }

    // A reader of standard error that goes away must not end the program:
    // log writes to it then fail quietly.
    std::signal(SIGPIPE, SIG_IGN);
    const std::string viewAddress =
        kiv::serviceOptions().viewSocket.empty() ? kiv::view::defaultAddress() : kiv::serviceOptions().viewSocket;
    // A refresh sends the few pixels of the texts and indicators that
    // changed. Through shared memory every such flush waits for the X server
    // to confirm it, a round trip through Qt's event thread; the pixels sent
    // with the request cost less. Set either way, the variable is the user's.
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM"))
        qputenv("QT_XCB_NO_MITSHM", "1");
    gQtDefaultHandler = qInstallMessageHandler(reportWindowFailure);
    if (kiv::view::serviceInstalled(viewAddress))
        return runAsView(argc, argv, viewAddress);
    // Never a service without a display. When the X display answers before
    // Qt starts (most of the start-up time is Qt's), the service starts now
    // and is ready while Qt connects; otherwise once Qt has its display.
    kiv::qt::XDisplayProbe display;
    const bool displayAnswered = display.answers();
    std::exception_ptr refused;
    if (displayAnswered) {
        catchStopSignals();
        refused = startServiceHost();
    }
    QApplication application(argc, argv);
    display.release();
    qInstallMessageHandler(gQtDefaultHandler);
    if (!displayAnswered) {
        catchStopSignals();
        refused = startServiceHost();
    }
    kiv::qt::applyDialogStyle();

    if (refused) {
        try {
            std::rethrow_exception(refused);
        } catch (const std::exception& error) {
            QMessageBox box(QMessageBox::Critical, QStringLiteral("Varn Win32"),
                            QString::fromUtf8(kiv::describeStartupFailure(error).c_str()));
            closeOnStopSignals(box);
            box.exec();
        }
        return 1;
    }

    {
        kiv::qt::VarnDialog dialog(gServiceHost);
        dialog.watchForService(viewAddress);
        closeOnStopSignals(dialog);
        dialog.exec();
    }
    // The dialog stops the host on every way out; this covers the rest.
    delete gServiceHost;
    gServiceHost = nullptr;
    return 0;
}
