// What the program says when the service cannot start.
#pragma once

#include <exception>
#include <string>

namespace kiv {

// One sentence for the operator, naming the command port when that is what
// failed ("UDP port 45654 is already in use ...").
std::string describeStartupFailure(const std::exception& error);

// Writes that sentence once to the diagnostic log, which on Linux is
// standard error.
void reportStartupFailure(const std::exception& error);

}  // namespace kiv
