#include "tools/common/arguments.h"

#include <charconv>
#include <cmath>
#include <sstream>

#include "base/text_helpers.h"

namespace kiv::tools {
namespace {

std::string numberText(double value)
{
    std::ostringstream out;
    out << value;
    return out.str();
}

}  // namespace

std::uint32_t toAddress(const std::string& option, const std::string& text)
{
    // The program's own numbers-and-dots reader, held to the plain dotted
    // form: "10.1.2" or "012.1.2.3" would mean another address than the one
    // a reader of the command line sees.
    const std::uint32_t address = parseInetAddr(text);
    if (getIpAddrString(address) != text)
        throw UsageError(option + ": " + quotedValue(text) + " is not an IPv4 address (a.b.c.d)");
    return address;
}

std::uint16_t toPort(const std::string& option, const std::string& text)
{
    return static_cast<std::uint16_t>(toWholeNumber(option, text, 1, 65535));
}

long long toWholeNumber(const std::string& option, const std::string& text, long long min, long long max)
{
    long long value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end || value < min || value > max)
        throw UsageError(option + ": " + quotedValue(text) + " is not a whole number from " + std::to_string(min) +
                         " to " + std::to_string(max));
    return value;
}

double toDecimal(const std::string& option, const std::string& text, double min, double max)
{
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, std::chars_format::fixed);
    if (text.empty() || error != std::errc() || stop != end || !std::isfinite(value) || value < min || value > max)
        throw UsageError(option + ": " + quotedValue(text) + " is not a number from " + numberText(min) + " to " +
                         numberText(max));
    return value;
}

namespace {

constexpr long long kMaxCount = 1000000000;
constexpr double kMinSeconds = 0.01;
constexpr double kMaxSeconds = 365.0 * 24 * 3600;

long long countOption(const ParsedArguments& arguments)
{
    return toWholeNumber("--count", arguments.value("count"), 1, kMaxCount);
}

double durationOption(const ParsedArguments& arguments)
{
    return toDecimal("--duration", arguments.value("duration"), kMinSeconds, kMaxSeconds);
}

}  // namespace

RunLimit senderLimit(const ParsedArguments& arguments, long long defaultCount)
{
    if (arguments.has("forever") && (arguments.has("count") || arguments.has("duration")))
        throw UsageError("--forever goes with neither --count nor --duration");
    RunLimit limit;
    if (arguments.has("count"))
        limit.count = countOption(arguments);
    if (arguments.has("duration"))
        limit.seconds = durationOption(arguments);
    if (!arguments.has("count") && !arguments.has("duration") && !arguments.has("forever"))
        limit.count = defaultCount;
    return limit;
}

RunLimit listenerLimit(const ParsedArguments& arguments, double defaultSeconds)
{
    if (arguments.has("forever") && arguments.has("duration"))
        throw UsageError("--forever and --duration exclude each other");
    RunLimit limit;
    if (arguments.has("count"))
        limit.count = countOption(arguments);
    if (arguments.has("duration"))
        limit.seconds = durationOption(arguments);
    else if (!arguments.has("forever"))
        limit.seconds = defaultSeconds;
    return limit;
}

std::vector<std::string> commandLineTokens(int argc, char** argv)
{
    std::vector<std::string> tokens;
    for (int i = 1; i < argc; ++i)
        tokens.emplace_back(argv[i]);
    return tokens;
}

}  // namespace kiv::tools
