// The tools' printed lines: one event per line, a word for the event and
// then key=value fields, so that people can read them and scripts can split
// them. Values with blanks, quotes or control characters are quoted.
#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace kiv::tools {

using Fields = std::vector<std::pair<std::string, std::string>>;

// A value as it stands after "key=": unchanged when it is one plain word,
// otherwise in double quotes with \" \\ and \xNN escapes.
std::string fieldValue(const std::string& value);
// " key=value key=value ..."
std::string fieldsText(const Fields& fields);

// `value` as a JSON string, quotes included. Valid UTF-8 stays as it is;
// each byte that is not part of it stands for the character of that code
// (ISO 8859-1), so any bytes give valid JSON.
std::string jsonString(const std::string& value);

// Local wall-clock time of day, "HH:MM:SS.mmm".
std::string clockTime(std::chrono::system_clock::time_point when);

// Seconds with three decimals, "30.001".
std::string secondsText(std::chrono::steady_clock::duration duration);

// Writes one line to standard output and flushes it, so that a reader on a
// pipe or a file sees each event as it happens.
void printLine(const std::string& line);

}  // namespace kiv::tools
