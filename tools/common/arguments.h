// The checked conversions of the commissioning tools' option values, and
// the run limits their options set. Every mistake ends in a UsageError whose
// text is one line that names the option, quotes the value and ends with the
// reason.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/option_table.h"

namespace kiv::tools {

// The tools read their command lines with the programs' option table
// (base/option_table.h); these are its names here.
using UsageError = kiv::OptionError;
using ParsedArguments = kiv::ParsedOptions;

// Checked conversions; `option` names the source in the error text, for
// example "--port".
std::uint32_t toAddress(const std::string& option, const std::string& text);  // strict a.b.c.d
std::uint16_t toPort(const std::string& option, const std::string& text);     // 1 to 65535
long long toWholeNumber(const std::string& option, const std::string& text, long long min, long long max);
double toDecimal(const std::string& option, const std::string& text, double min, double max);

// How long a tool runs. 0 means no limit of that kind; a run ends at the
// first limit reached, or on Ctrl+C (SIGINT) or SIGTERM.
struct RunLimit {
    long long count = 0;
    double seconds = 0;
};

// The options --count, --duration and --forever of a tool that sends: the
// default count unless a duration or --forever is asked for; --forever goes
// with neither of the other two.
RunLimit senderLimit(const ParsedArguments& arguments, long long defaultCount);
// The same options of a tool that listens: the default duration unless
// --forever; a --count stops it earlier.
RunLimit listenerLimit(const ParsedArguments& arguments, double defaultSeconds);

// The arguments of main() after the program name.
std::vector<std::string> commandLineTokens(int argc, char** argv);

}  // namespace kiv::tools
