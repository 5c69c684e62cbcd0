#include "service/kiv_srv.h"

#include <boost/asio/post.hpp>

#include "base/debug_log.h"
#include "base/event_text.h"
#include "base/service_options.h"
#include "metrics/os_description.h"
#include "service/kiv_server.h"

kiv::KivSrv* gServiceHost = nullptr;

namespace kiv {

KivSrv::KivSrv()
{
    infoLog("VarnWin32 %s starting with %s\n", programVersion(), optionsText(serviceOptions()).c_str());
    debugLog("KivSrv::KivSrv\n");
    gEventText.append("\r BEFORE new kiv::KivServer()");
    gEventText.append("\r\n");
    mServer = std::make_unique<KivServer>();
    gEventText.append("\r AFTER new kiv::KivServer()");
    gEventText.append("\r\n");
    infoLog("Num Local Ip/NICs=[%i]\n", KivServer::getNumIpAddresses());
    KivServer* server = mServer.get();
    mThread = std::make_shared<std::thread>([server] { server->run(); });
    infoLog("All Started");
}

KivSrv::~KivSrv()
{
    debugLog("KivSrv::~KivSrv\n");
    if (mServer) {
        infoLog("KivServer::stop\n");
        KivServer* server = mServer.get();
        boost::asio::post(server->ioContext(), [server] { server->handle_stop(); });
        // The worker ends when run() returns, normally or through an
        // exception; joining waits for exactly that and never for a worker
        // that is already gone.
        if (mThread && mThread->joinable())
            mThread->join();
        mServer.reset();
    }
    mThread.reset();
}

std::string KivSrv::takeEventText()
{
    return gEventText.take();
}

std::string KivSrv::getCpuText()
{
    if (gServiceHost == nullptr || gServiceHost->mServer == nullptr)
        return std::string();
    return gServiceHost->mServer->getCpuUsageText();
}

std::string KivSrv::getOsDescText()
{
    return buildOsDescription();
}

std::string KivSrv::getHostNameText()
{
    if (gServiceHost == nullptr || gServiceHost->mServer == nullptr)
        return std::string();
    return gServiceHost->mServer->hostNameText();
}

std::string KivSrv::getLocalIpInCommonText()
{
    if (gServiceHost == nullptr || gServiceHost->mServer == nullptr)
        return std::string();
    return gServiceHost->mServer->localIpInCommonText();
}

}  // namespace kiv
