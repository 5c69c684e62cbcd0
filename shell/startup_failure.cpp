#include "shell/startup_failure.h"

#include <boost/asio/error.hpp>
#include <boost/system/system_error.hpp>

#include "base/debug_log.h"
#include "service/kiv_server.h"

namespace kiv {

std::string describeStartupFailure(const std::exception& error)
{
    if (const auto* systemError = dynamic_cast<const boost::system::system_error*>(&error)) {
        const boost::system::error_code code = systemError->code();
        if (code == boost::asio::error::address_in_use || code == boost::asio::error::access_denied)
            return "VarnWin32 cannot start: UDP port " + std::to_string(kCommandPort) +
                   " is already in use (is another VarnWin32 running?): " + code.message();
        return "VarnWin32 cannot start: UDP port " + std::to_string(kCommandPort) +
               " could not be opened: " + std::string(systemError->what());
    }
    return "VarnWin32 cannot start: " + std::string(error.what());
}

void reportStartupFailure(const std::exception& error)
{
    // The diagnostic log of the Linux programs is standard error: one write
    // says it there once.
    errorLog("%s\n", describeStartupFailure(error).c_str());
}

}  // namespace kiv
