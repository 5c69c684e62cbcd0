// The states the Windows service reports to its manager, against a fake
// status sink that records every report.
#include "shell/service_control.h"

#include <vector>

#include <gtest/gtest.h>

namespace {

using kiv::ServiceControl;
using kiv::ServiceRequest;
using kiv::ServiceState;
using kiv::ServiceStatusReport;

class ServiceControlTest : public ::testing::Test
{
protected:
    std::vector<ServiceStatusReport> reports;
    int stopRequests = 0;
    ServiceControl control{[this](const ServiceStatusReport& report) { reports.push_back(report); },
                           [this] { ++stopRequests; }};

    std::vector<ServiceState> states() const
    {
        std::vector<ServiceState> result;
        for (const ServiceStatusReport& report : reports)
            result.push_back(report.state);
        return result;
    }
};

TEST_F(ServiceControlTest, StartsRunsAndStopsInOrder)
{
    control.starting();
    control.starting();
    control.running();
    EXPECT_TRUE(control.control(ServiceRequest::stop));
    EXPECT_EQ(stopRequests, 1);
    control.stopped(0);

    ASSERT_EQ(states(), (std::vector<ServiceState>{ServiceState::startPending, ServiceState::startPending,
                                                   ServiceState::running, ServiceState::stopPending,
                                                   ServiceState::stopped}));
    // Pending states count their check points and give a wait hint; the
    // others give neither.
    EXPECT_EQ(reports[0].checkPoint, 1u);
    EXPECT_EQ(reports[1].checkPoint, 2u);
    EXPECT_EQ(reports[3].checkPoint, 1u);
    for (const std::size_t pending : {0u, 1u, 3u})
        EXPECT_GT(reports[pending].waitHintMs, 0u) << pending;
    for (const std::size_t settled : {2u, 4u}) {
        EXPECT_EQ(reports[settled].checkPoint, 0u) << settled;
        EXPECT_EQ(reports[settled].waitHintMs, 0u) << settled;
    }
    EXPECT_EQ(reports[3].waitHintMs, kiv::kServiceStopWaitHintMs);
    // Only a running service takes a stop.
    for (std::size_t i = 0; i < reports.size(); ++i)
        EXPECT_EQ(reports[i].acceptsStop, i == 2) << i;
    EXPECT_EQ(reports.back().exitCode, 0u);
}

class ServiceStopRequestTest : public ServiceControlTest, public ::testing::WithParamInterface<ServiceRequest>
{
};

TEST_P(ServiceStopRequestTest, StopsTheRunningService)
{
    control.starting();
    control.running();
    EXPECT_TRUE(control.control(GetParam()));
    EXPECT_EQ(stopRequests, 1);
    EXPECT_EQ(reports.back().state, ServiceState::stopPending);
}

INSTANTIATE_TEST_SUITE_P(StopShutdownPreshutdown, ServiceStopRequestTest,
                         ::testing::Values(ServiceRequest::stop, ServiceRequest::shutdown,
                                           ServiceRequest::preshutdown));

TEST_F(ServiceControlTest, ShutdownDuringStopChangesNothing)
{
    control.starting();
    control.running();
    EXPECT_TRUE(control.control(ServiceRequest::preshutdown));
    EXPECT_TRUE(control.control(ServiceRequest::shutdown));
    EXPECT_EQ(stopRequests, 1);
    EXPECT_EQ(states(), (std::vector<ServiceState>{ServiceState::startPending, ServiceState::running,
                                                  ServiceState::stopPending}));
}

TEST_F(ServiceControlTest, StopWhileStartingIsNotAccepted)
{
    control.starting();
    EXPECT_FALSE(control.control(ServiceRequest::stop));
    EXPECT_EQ(stopRequests, 0);
    EXPECT_EQ(states(), (std::vector<ServiceState>{ServiceState::startPending}));
}

TEST_F(ServiceControlTest, StartFailureStopsWithTheServicesCode)
{
    control.starting();
    control.stopped(1);
    EXPECT_EQ(states(), (std::vector<ServiceState>{ServiceState::startPending, ServiceState::stopped}));
    EXPECT_EQ(reports.back().exitCode, 1u);
    EXPECT_EQ(stopRequests, 0);
}

TEST_F(ServiceControlTest, InterrogateAndUnknownControlsReportNothing)
{
    control.starting();
    control.running();
    EXPECT_TRUE(control.control(ServiceRequest::interrogate));
    EXPECT_FALSE(control.control(ServiceRequest::other));
    EXPECT_EQ(reports.size(), 2u);
    EXPECT_EQ(stopRequests, 0);
}

}  // namespace
