// The frame of each tool's main(): every failure becomes one line on
// standard error and an exit status, never an uncaught exception.
#pragma once

#include <functional>
#include <string>

namespace kiv::tools {

constexpr int kExitFailure = 1;  // the run failed, or heard less than asked for
constexpr int kExitUsage = 2;    // the command line is wrong

// Runs `body` and returns its status; a UsageError prints "NAME: <why>"
// and gives kExitUsage, any other exception
// prints "NAME: <why>" and gives kExitFailure.
int runTool(const char* name, const std::function<int()>& body);

// What --version prints: "NAME VERSION" and a line feed.
std::string versionLine(const char* name);

}  // namespace kiv::tools
