#include "tools/common/tool_main.h"

#include <cstdio>
#include <exception>
#include <string>

#include "base/service_options.h"
#include "tools/common/arguments.h"

namespace kiv::tools {
namespace {

// The message may quote what the user typed; it stays on one line.
std::string oneLine(const char* text)
{
    std::string line(text);
    for (char& c : line) {
        if (static_cast<unsigned char>(c) < ' ')
            c = ' ';
    }
    return line;
}

}  // namespace

int runTool(const char* name, const std::function<int()>& body)
{
    try {
        return body();
    } catch (const UsageError& error) {
        std::fprintf(stderr, "%s: %s\n", name, oneLine(error.what()).c_str());
        return kExitUsage;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s: %s\n", name, oneLine(error.what()).c_str());
    } catch (...) {
        std::fprintf(stderr, "%s: stopped by an unexpected failure\n", name);
    }
    return kExitFailure;
}

std::string versionLine(const char* name)
{
    return std::string(name) + " " + programVersion() + "\n";
}

}  // namespace kiv::tools
