#include "shell/service_control.h"

#include <utility>

namespace kiv {

ServiceControl::ServiceControl(StatusSink sink, StopRequest stop)
    : mSink(std::move(sink)), mStop(std::move(stop))
{
}

void ServiceControl::starting()
{
    std::lock_guard<std::mutex> lock(mMutex);
    report(ServiceState::startPending, kServiceStartWaitHintMs, 0);
}

void ServiceControl::running()
{
    std::lock_guard<std::mutex> lock(mMutex);
    report(ServiceState::running, 0, 0);
}

bool ServiceControl::control(ServiceRequest request)
{
    switch (request) {
    case ServiceRequest::interrogate:
        // The manager keeps the last report; nothing to send again.
        return true;
    case ServiceRequest::other:
        return false;
    case ServiceRequest::stop:
    case ServiceRequest::shutdown:
    case ServiceRequest::preshutdown:
        break;
    }
    {
        std::lock_guard<std::mutex> lock(mMutex);
        if (mState == ServiceState::stopPending || mState == ServiceState::stopped)
            return true;
        if (mState != ServiceState::running)
            return false;  // not accepted while starting
        report(ServiceState::stopPending, kServiceStopWaitHintMs, 0);
    }
    mStop();
    return true;
}

void ServiceControl::stopped(unsigned exitCode)
{
    std::lock_guard<std::mutex> lock(mMutex);
    report(ServiceState::stopped, 0, exitCode);
}

void ServiceControl::report(ServiceState state, unsigned waitHintMs, unsigned exitCode)
{
    const bool pending = state == ServiceState::startPending || state == ServiceState::stopPending;
    // A pending state counts its reports from 1; a new state starts again.
    mCheckPoint = !pending ? 0 : state == mState ? mCheckPoint + 1 : 1;
    mState = state;

    ServiceStatusReport status;
    status.state = state;
    status.acceptsStop = state == ServiceState::running;
    status.checkPoint = mCheckPoint;
    status.waitHintMs = waitHintMs;
    status.exitCode = exitCode;
    mSink(status);
}

}  // namespace kiv
