// The service without a window: runs until SIGINT or SIGTERM.
#include <csignal>
#include <cstdio>
#include <exception>
#include <memory>

#include <boost/system/system_error.hpp>

#include "base/debug_log.h"
#include "base/service_options.h"
#include "net/view_endpoint.h"
#include "service/kiv_server.h"
#include "service/kiv_srv.h"
#include "service/view_channel.h"
#include "shell/service_notify.h"
#include "shell/startup_failure.h"

int main(int argc, char* argv[])
{
    // Before any thread or socket: a wrong command line ends here.
    const kiv::CommandLineResult commandLine = kiv::takeCommandLine({argv + 1, argv + argc}, "varnwin32-service");
    if (!commandLine.run) {
        // The refusal is an error line of the log (with its priority in the
        // journal); the help and the version go to standard output.
        if (commandLine.status == 0)
            std::fputs(commandLine.text.c_str(), stdout);
        else
            errorLog("%s", commandLine.text.c_str());
        return commandLine.status;
    }

    // A reader of standard error that goes away (`| logger` ending) must not
    // end the service: log writes to it then fail quietly.
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    // Block them before any thread starts so only sigwait below sees them.
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    std::unique_ptr<kiv::KivSrv> host;
    try {
        host = std::make_unique<kiv::KivSrv>();
    } catch (const std::exception& error) {
        kiv::reportStartupFailure(error);
        return 1;
    }
    // The view channel: the socket systemd passes, or the one of
    // --view-socket; none outside systemd without the option.
    std::unique_ptr<kiv::ViewChannel> views;
    const std::string viewSocket = kiv::serviceOptions().viewSocket;
    try {
        std::unique_ptr<kiv::view::ViewListener> listener =
            kiv::view::openViewListener(host->server()->ioContext(), viewSocket);
        if (listener) {
            infoLog("View channel: listening on %s\n", listener->address().c_str());
            views = std::make_unique<kiv::ViewChannel>(*host->server(), std::move(listener));
        }
    } catch (const std::exception& error) {
        errorLog("VarnWin32 cannot start: the view socket %s could not be made: %s\n", viewSocket.c_str(),
                 error.what());
        host.reset();
        return 1;
    }
    gServiceHost = host.get();
    kiv::superviseService(*host);

    int signal = 0;
    sigwait(&stopSignals, &signal);

    gServiceHost = nullptr;
    views.reset();
    host.reset();
    return 0;
}
