// Command-line reading shared by the commissioning tools: options in the
// "--name value" or "--name=value" form, a command word and positional
// arguments, and the checked conversions of option values. Every mistake
// ends in a UsageError whose text is one line that names the option.
#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace kiv::tools {

// A command line the tool cannot work with; the text is meant for the user.
class UsageError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

struct OptionRule {
    std::string name;        // without the leading "--"
    bool takesValue = true;  // false: a switch
    bool repeatable = false;
};

class ParsedArguments
{
public:
    std::vector<std::string> positional;

    bool has(const std::string& name) const { return mValues.count(name) != 0; }
    // The value of a single option; `fallback` when it was not given.
    std::string value(const std::string& name, const std::string& fallback = std::string()) const;
    // Every value of a repeatable option, in command-line order.
    std::vector<std::string> values(const std::string& name) const;

    void add(const std::string& name, const std::string& value) { mValues[name].push_back(value); }

private:
    std::map<std::string, std::vector<std::string>> mValues;
};

// Reads `tokens` (the arguments after the command word) against `rules`, the
// options of `command` (named in the error for an option it does not take). "-h" and "--help" are always accepted as
// the switch "help". A value-taking option followed by nothing or by another
// "--option" is missing its value; "--" ends the options.
ParsedArguments parseArguments(const std::vector<std::string>& tokens, const std::vector<OptionRule>& rules,
                               const std::string& command);

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
