// The command-line grammar every program of the project reads, and the one
// description of each program's options that its --help, its manual page and
// the commented settings file are written from.
//
// Grammar: "--name VALUE" or "--name=VALUE"; a switch takes no value;
// --help and --version anywhere; "--" ends the options, everything after it
// is an argument. A value-taking option followed by nothing or by another
// "--option" is missing its value. An option that is not repeatable is
// refused when given twice. A program with commands takes the command word
// first, then that command's options.
#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace kiv {

// A command line a program cannot run with; the text is one line meant for
// the operator, names the option, and ends with the reason.
class OptionError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// A value as a refusal quotes it: one line however it was given, at most 60
// characters of it, control characters escaped: 'lo\nud...'.
std::string quotedValue(const std::string& text);

// The refusal of an argument a program (or its command) does not take.
OptionError unexpectedArgument(const std::string& argument);

struct OptionRule {
    const char* name;       // without the leading "--"
    const char* valueName;  // "CIDR[,CIDR...]"; nullptr: a switch
    bool repeatable;        // false: given twice is refused
    const char* text;       // what it does, one paragraph
};

// Options listed together under one heading; `commands` are the command
// words that take them (none: the program has no command word).
struct OptionGroup {
    const char* heading;  // nullptr: no heading
    std::vector<std::string> commands;
    std::vector<OptionRule> options;
};

struct ProgramOptions {
    const char* program;          // "varnwin32-service"
    std::vector<std::string> commands;  // the command words, in order; none: options only
    std::vector<OptionGroup> groups;
    const char* notes;  // a paragraph after the options wherever they are listed; may be empty
    const char* helpHead;  // --help before the options, ending with its heading line
    const char* helpTail;  // --help after the notes
};

// What a command line gives, in command-line order.
class ParsedOptions
{
public:
    struct Entry {
        std::string name;  // without "--"
        std::string value;
    };
    bool help = false;
    bool version = false;
    std::string command;  // the command word; empty for a program without commands
    std::vector<std::string> positional;
    std::vector<Entry> entries;

    bool has(const std::string& name) const;
    // The value of a single option; `fallback` when it was not given.
    std::string value(const std::string& name, const std::string& fallback = std::string()) const;
    // Every value of a repeatable option, in command-line order.
    std::vector<std::string> values(const std::string& name) const;
};

// Reads the arguments after the program name. With --help or --version the
// rest is left unread. Throws OptionError.
ParsedOptions parseOptions(const ProgramOptions& program, const std::vector<std::string>& arguments);

// The program's --help text: the head, the options, the notes, the tail.
std::string helpText(const ProgramOptions& program);
// The body of the manual page's OPTIONS section (after ".SH OPTIONS").
std::string manOptions(const ProgramOptions& program);
// The options as comment lines of a settings file ("# --name VALUE" and the
// text indented), the notes last.
std::string commentedOptions(const ProgramOptions& program);

}  // namespace kiv
