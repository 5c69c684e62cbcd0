// The service host: starts the watchdog server on its worker thread and
// stops it again; offers the dialog its read-only accessors.
#pragma once

#include <memory>
#include <string>
#include <thread>

#include <boost/asio/io_context.hpp>

namespace kiv {

class KivServer;

class KivSrv
{
public:
    // Throws when the watchdog server cannot start (its command port taken).
    KivSrv();
    virtual ~KivSrv();
    KivSrv(const KivSrv&) = delete;
    KivSrv& operator=(const KivSrv&) = delete;

    KivServer* server() const { return mServer.get(); }

    // Read through the process-wide host pointer; called on the GUI thread.
    static std::string takeEventText();
    static std::string getCpuText();
    static std::string getOsDescText();
    static std::string getHostNameText();
    static std::string getLocalIpInCommonText();

private:
    std::unique_ptr<KivServer> mServer;
    std::shared_ptr<std::thread> mThread;
    boost::asio::io_context mIoService;
};

}  // namespace kiv

// The one service host of the process, kept by the program entry.
extern kiv::KivSrv* gServiceHost;
