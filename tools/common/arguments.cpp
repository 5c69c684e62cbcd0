#include "tools/common/arguments.h"

#include <charconv>
#include <cmath>
#include <sstream>

#include "base/text_helpers.h"

namespace kiv::tools {
namespace {

const OptionRule* findRule(const std::vector<OptionRule>& rules, const std::string& name)
{
    for (const OptionRule& rule : rules) {
        if (rule.name == name)
            return &rule;
    }
    return nullptr;
}

std::string quoted(const std::string& text)
{
    return "'" + text + "'";
}

std::string numberText(double value)
{
    std::ostringstream out;
    out << value;
    return out.str();
}

}  // namespace

std::string ParsedArguments::value(const std::string& name, const std::string& fallback) const
{
    const auto found = mValues.find(name);
    return found == mValues.end() || found->second.empty() ? fallback : found->second.back();
}

std::vector<std::string> ParsedArguments::values(const std::string& name) const
{
    const auto found = mValues.find(name);
    return found == mValues.end() ? std::vector<std::string>() : found->second;
}

ParsedArguments parseArguments(const std::vector<std::string>& tokens, const std::vector<OptionRule>& rules,
                               const std::string& command)
{
    ParsedArguments parsed;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const std::string& token = tokens[i];
        if (optionsEnded || token.empty() || token[0] != '-' || token == "-") {
            parsed.positional.push_back(token);
            continue;
        }
        if (token == "--") {
            optionsEnded = true;
            continue;
        }
        if (token == "-h" || token == "--help") {
            parsed.add("help", std::string());
            continue;
        }
        if (token.compare(0, 2, "--") != 0)
            throw UsageError("unknown option " + token + " (options are written --name)");

        const std::string::size_type equals = token.find('=');
        const std::string name = token.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
        const OptionRule* rule = findRule(rules, name);
        if (rule == nullptr)
            throw UsageError(command + " takes no option --" + name);
        if (!rule->repeatable && parsed.has(name))
            throw UsageError("--" + name + " is given twice");
        if (!rule->takesValue) {
            if (equals != std::string::npos)
                throw UsageError("--" + name + " takes no value");
            parsed.add(name, std::string());
            continue;
        }
        if (equals != std::string::npos) {
            parsed.add(name, token.substr(equals + 1));
            continue;
        }
        if (i + 1 >= tokens.size() || tokens[i + 1].compare(0, 2, "--") == 0)
            throw UsageError("--" + name + " needs a value");
        parsed.add(name, tokens[++i]);
    }
    return parsed;
}

std::uint32_t toAddress(const std::string& option, const std::string& text)
{
    // The program's own numbers-and-dots reader, held to the plain dotted
    // form: "10.1.2" or "012.1.2.3" would mean another address than the one
    // a reader of the command line sees.
    const std::uint32_t address = parseInetAddr(text);
    if (getIpAddrString(address) != text)
        throw UsageError(option + ": " + quoted(text) + " is not an IPv4 address (a.b.c.d)");
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
    if (error == std::errc::result_out_of_range)
        throw UsageError(option + ": " + text + " is out of range (" + std::to_string(min) + " to " +
                         std::to_string(max) + ")");
    if (text.empty() || error != std::errc() || stop != end)
        throw UsageError(option + ": " + quoted(text) + " is not a whole number");
    if (value < min || value > max)
        throw UsageError(option + ": " + text + " is out of range (" + std::to_string(min) + " to " +
                         std::to_string(max) + ")");
    return value;
}

double toDecimal(const std::string& option, const std::string& text, double min, double max)
{
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, std::chars_format::fixed);
    if (text.empty() || error != std::errc() || stop != end || !std::isfinite(value))
        throw UsageError(option + ": " + quoted(text) + " is not a number");
    if (value < min || value > max)
        throw UsageError(option + ": " + text + " is out of range (" + numberText(min) + " to " +
                         numberText(max) + ")");
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
