#include "base/option_table.h"

namespace kiv {
namespace {

const char* const kHelpHint = " (--help lists the options)";
constexpr std::size_t kQuotedLength = 60;
constexpr std::size_t kLineWidth = 79;
constexpr std::size_t kTextColumn = 22;  // where an option's text starts in --help

// Every program takes these two, with or without a command.
const OptionRule kHelpOption = {"help", nullptr, false, "List the options and exit with status 0."};
const OptionRule kVersionOption = {"version", nullptr, false,
                                   "Print the program's name and version and exit with status 0."};

std::string listText(const std::vector<std::string>& words)
{
    std::string text;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (i > 0)
            text += i + 1 == words.size() ? " or " : ", ";
        text += words[i];
    }
    return text;
}

bool takenBy(const OptionGroup& group, const std::string& command)
{
    if (group.commands.empty())
        return true;
    for (const std::string& word : group.commands) {
        if (word == command)
            return true;
    }
    return false;
}

// The option `name` as `command` takes it; nullptr when it does not.
const OptionRule* findOption(const ProgramOptions& program, const std::string& command, const std::string& name)
{
    if (name == kHelpOption.name)
        return &kHelpOption;
    if (name == kVersionOption.name)
        return &kVersionOption;
    if (!program.commands.empty() && command.empty())
        return nullptr;
    for (const OptionGroup& group : program.groups) {
        if (!takenBy(group, command))
            continue;
        for (const OptionRule& option : group.options) {
            if (name == option.name)
                return &option;
        }
    }
    return nullptr;
}

OptionError unknownOption(const ProgramOptions& program, const std::string& command, const std::string& option)
{
    if (program.commands.empty())
        return OptionError("unknown option " + quotedValue(option) + kHelpHint);
    if (command.empty())
        return OptionError("the command comes first (" + listText(program.commands) + "), then " + quotedValue(option) +
                           kHelpHint);
    return OptionError(command + " takes no option " + quotedValue(option) + kHelpHint);
}

std::string optionHead(const OptionRule& option)
{
    std::string head = std::string("--") + option.name;
    if (option.valueName != nullptr)
        head += std::string(" ") + option.valueName;
    return head;
}

// `text` broken into lines of at most `width` characters at spaces.
std::vector<std::string> wrapped(const std::string& text, std::size_t width)
{
    std::vector<std::string> lines;
    std::string line;
    std::string::size_type start = 0;
    while (start < text.size()) {
        std::string::size_type end = text.find(' ', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string word = text.substr(start, end - start);
        start = end + 1;
        if (word.empty())
            continue;
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            lines.push_back(line);
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
    }
    if (!line.empty())
        lines.push_back(line);
    return lines;
}

// Text for a troff text line or macro argument: backslashes and hyphens
// escaped, no line starting as a request.
std::string troff(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\e";
        else if (c == '-')
            out += "\\-";
        else
            out.push_back(c);
    }
    if (!out.empty() && (out[0] == '.' || out[0] == '\''))
        out = "\\&" + out;
    return out;
}

// The groups as they are listed, --help and --version last.
std::vector<OptionGroup> listedGroups(const ProgramOptions& program)
{
    std::vector<OptionGroup> groups = program.groups;
    groups.push_back({program.commands.empty() ? nullptr : "Alone or after any command", {}, {kHelpOption, kVersionOption}});
    return groups;
}

}  // namespace

std::string quotedValue(const std::string& text)
{
    std::string out = "'";
    for (std::size_t i = 0; i < text.size() && i < kQuotedLength; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7f) {
            static const char digits[] = "0123456789abcdef";
            out += "\\x";
            out.push_back(digits[c >> 4]);
            out.push_back(digits[c & 0xf]);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    if (text.size() > kQuotedLength)
        out += "...";
    return out + "'";
}

OptionError unexpectedArgument(const std::string& argument)
{
    return OptionError("unexpected argument " + quotedValue(argument) + kHelpHint);
}

bool ParsedOptions::has(const std::string& name) const
{
    for (const Entry& entry : entries) {
        if (entry.name == name)
            return true;
    }
    return false;
}

std::string ParsedOptions::value(const std::string& name, const std::string& fallback) const
{
    std::string found = fallback;
    for (const Entry& entry : entries) {
        if (entry.name == name)
            found = entry.value;
    }
    return found;
}

std::vector<std::string> ParsedOptions::values(const std::string& name) const
{
    std::vector<std::string> found;
    for (const Entry& entry : entries) {
        if (entry.name == name)
            found.push_back(entry.value);
    }
    return found;
}

ParsedOptions parseOptions(const ProgramOptions& program, const std::vector<std::string>& arguments)
{
    ParsedOptions parsed;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument.compare(0, 2, "--") != 0) {
            if (program.commands.empty())
                throw unexpectedArgument(argument);
            if (!parsed.command.empty()) {
                parsed.positional.push_back(argument);
                continue;
            }
            for (const std::string& command : program.commands) {
                if (command == argument)
                    parsed.command = command;
            }
            if (parsed.command.empty())
                throw OptionError("unknown command " + quotedValue(argument) + " (" + listText(program.commands) + ")");
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        const std::string::size_type equals = argument.find('=');
        const std::string name = argument.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
        const OptionRule* option = findOption(program, parsed.command, name);
        if (option == nullptr)
            throw unknownOption(program, parsed.command, argument.substr(0, equals));
        const std::string shown = "--" + name;
        if (option->valueName == nullptr) {
            if (equals != std::string::npos)
                throw OptionError(shown + " takes no value");
            if (option == &kHelpOption || option == &kVersionOption) {
                (option == &kHelpOption ? parsed.help : parsed.version) = true;
                return parsed;
            }
        }
        if (!option->repeatable && parsed.has(name))
            throw OptionError(shown + " is given twice");
        std::string value;
        if (equals != std::string::npos) {
            value = argument.substr(equals + 1);
        } else if (option->valueName != nullptr) {
            if (i + 1 >= arguments.size() || arguments[i + 1].compare(0, 2, "--") == 0)
                throw OptionError(shown + " needs a value");
            value = arguments[++i];
        }
        parsed.entries.push_back({name, value});
    }
    if (!program.commands.empty() && parsed.command.empty())
        throw OptionError("no command given (" + listText(program.commands) + ")");
    return parsed;
}

std::string helpText(const ProgramOptions& program)
{
    std::string text = program.helpHead;
    for (const OptionGroup& group : listedGroups(program)) {
        if (group.heading != nullptr)
            text += std::string(group.heading) + ":\n";
        for (const OptionRule& option : group.options) {
            const std::string head = "  " + optionHead(option);
            text += head;
            const std::vector<std::string> lines = wrapped(option.text, kLineWidth - kTextColumn);
            std::size_t column = head.size();
            if (column + 2 > kTextColumn) {
                text += "\n";
                column = 0;
            }
            for (const std::string& line : lines) {
                text += std::string(kTextColumn - column, ' ') + line + "\n";
                column = 0;
            }
        }
    }
    if (*program.notes != '\0') {
        text += "\n";
        for (const std::string& line : wrapped(program.notes, kLineWidth))
            text += line + "\n";
    }
    return text + program.helpTail;
}

std::string manOptions(const ProgramOptions& program)
{
    std::string text;
    for (const OptionGroup& group : listedGroups(program)) {
        if (group.heading != nullptr)
            text += ".SS \"" + troff(group.heading) + "\"\n";
        for (const OptionRule& option : group.options) {
            text += ".TP\n";
            if (option.valueName != nullptr)
                text += ".BI \"" + troff(std::string("--") + option.name) + " \" \"" + troff(option.valueName) + "\"\n";
            else
                text += ".B \"" + troff(std::string("--") + option.name) + "\"\n";
            text += troff(option.text) + "\n";
        }
    }
    if (*program.notes != '\0')
        text += ".PP\n" + troff(program.notes) + "\n";
    return text;
}

std::string commentedOptions(const ProgramOptions& program)
{
    std::string text;
    for (const OptionGroup& group : program.groups) {
        if (group.heading != nullptr)
            text += std::string("# ") + group.heading + ":\n#\n";
        for (const OptionRule& option : group.options) {
            text += "# " + optionHead(option) + "\n";
            for (const std::string& line : wrapped(option.text, kLineWidth - 6))
                text += "#     " + line + "\n";
            text += "#\n";
        }
    }
    if (*program.notes != '\0') {
        for (const std::string& line : wrapped(program.notes, kLineWidth - 2))
            text += "# " + line + "\n";
        text += "#\n";
    }
    return text;
}

}  // namespace kiv
