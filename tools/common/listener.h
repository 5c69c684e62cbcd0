// Receives datagrams on one socket until a run limit or a stop signal, and
// hands each one, with its sender and arrival time, to the caller.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include "tools/common/arguments.h"
#include "tools/common/udp.h"

namespace kiv::tools {

struct Arrival {
    std::string data;
    Endpoint from;
    std::chrono::system_clock::time_point wallClock;
    std::chrono::steady_clock::time_point steady;
};

// Listens on `socket` (opened and bound by the caller). Returns true when
// the run ended because `limit.count` datagrams arrived (or the limit has no
// count), false when time ran out or a signal stopped it first.
bool listenUntil(boost::asio::io_context& io, boost::asio::ip::udp::socket& socket, const RunLimit& limit,
                 const std::function<void(const Arrival&)>& onDatagram);

// "since_last" of a printed line: the time since the previous datagram of
// the same kind from the same address, "-" for the first.
class IntervalTracker
{
public:
    std::string since(const std::string& kind, const Endpoint& from, std::chrono::steady_clock::time_point now);

private:
    std::map<std::pair<std::string, std::string>, std::chrono::steady_clock::time_point> mLast;
};

}  // namespace kiv::tools
