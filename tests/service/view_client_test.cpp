// The viewer's end of the view channel against a service of another
// version: given up, with a line naming both versions.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <unistd.h>

#include <boost/asio/io_context.hpp>

#include "net/view_endpoint.h"
#include "service/view_client.h"

namespace kiv {
namespace {

TEST(ViewClient, AServiceOfAnotherVersionRefusesTheView)
{
    char directory[] = "/tmp/varn-view-client-XXXXXX";
    ASSERT_NE(::mkdtemp(directory), nullptr);
    const std::string address = std::string(directory) + "/view";

    boost::asio::io_context io;
    std::unique_ptr<view::ViewListener> listener = view::openViewListener(io, address);
    std::unique_ptr<view::ViewStream> viewer;
    const std::string hello = view::encodeHello(view::kVersion + 1);
    listener->asyncAccept([&](const boost::system::error_code& error, std::unique_ptr<view::ViewStream> stream) {
        ASSERT_FALSE(error);
        viewer = std::move(stream);
        viewer->asyncWriteSome(boost::asio::buffer(hello), [](const boost::system::error_code&, std::size_t) {});
    });
    std::thread service([&io] { io.run_for(std::chrono::seconds(10)); });

    ViewClient client(address);
    client.start();
    EXPECT_EQ(client.waitForFirstAnswer(std::chrono::seconds(10)), ViewLink::refused);
    EXPECT_EQ(client.problem(), "The VarnWin32 service speaks view version " + std::to_string(view::kVersion + 1) +
                                    "; this viewer speaks version " + std::to_string(view::kVersion));

    io.stop();
    service.join();
    ::unlink(address.c_str());
    ::rmdir(directory);
}

}  // namespace
}  // namespace kiv
