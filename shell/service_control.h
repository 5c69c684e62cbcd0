// What the windowless program tells the Windows Service Control Manager
// while it starts, runs and stops, and what it does with the manager's
// controls. Kept free of Windows types so that the sequence of states is
// the same code on every platform and is tested against a fake status sink;
// shell/win32/service_win_main.cpp turns each report into SetServiceStatus.
#pragma once

#include <functional>
#include <mutex>

namespace kiv {

enum class ServiceState { startPending, running, stopPending, stopped };

// One status report (SERVICE_STATUS without the Windows types).
struct ServiceStatusReport {
    ServiceState state = ServiceState::stopped;
    bool acceptsStop = false;  // stop, shutdown and preshutdown are taken
    unsigned checkPoint = 0;   // counts up while a pending state lasts
    unsigned waitHintMs = 0;   // the longest wait until the next report
    unsigned exitCode = 0;     // when stopped: 0, or the service's own code
};

// The manager's controls, as the handler sees them.
enum class ServiceRequest { stop, shutdown, preshutdown, interrogate, other };

// Wait hints: starting opens every socket and reads the interfaces; stopping
// ends the worker's loop and closes them, which takes milliseconds.
constexpr unsigned kServiceStartWaitHintMs = 10000;
constexpr unsigned kServiceStopWaitHintMs = 2000;

class ServiceControl
{
public:
    using StatusSink = std::function<void(const ServiceStatusReport& report)>;
    using StopRequest = std::function<void()>;

    // `sink` gets every report in order; `stop` is called once, on the
    // handler's thread, when a stop, shutdown or preshutdown is taken.
    ServiceControl(StatusSink sink, StopRequest stop);
    ServiceControl(const ServiceControl&) = delete;
    ServiceControl& operator=(const ServiceControl&) = delete;

    // START_PENDING, one check point further each call.
    void starting();
    // RUNNING: from now on stop, shutdown and preshutdown are accepted.
    void running();
    // The control handler: true when the request is handled (NO_ERROR),
    // false when it is not one the service takes. Stop, shutdown and
    // preshutdown while running report STOP_PENDING and ask the service to
    // stop; a second one while stopping changes nothing.
    bool control(ServiceRequest request);
    // STOPPED with `exitCode` (0 after a clean stop).
    void stopped(unsigned exitCode);

private:
    // Under mMutex, so that reports from the service's thread and the
    // handler's thread reach the manager in the order the states change.
    void report(ServiceState state, unsigned waitHintMs, unsigned exitCode);

    std::mutex mMutex;
    StatusSink mSink;
    StopRequest mStop;
    ServiceState mState = ServiceState::stopped;
    unsigned mCheckPoint = 0;
};

}  // namespace kiv
