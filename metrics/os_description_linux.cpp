// Linux describes itself in os-release(5).
#include "metrics/os_description.h"

#include <array>
#include <climits>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>

namespace {

// The file and its fallback, in the order os-release(5) tells readers to try.
constexpr std::array<const char*, 2> kOsReleasePaths{{"/etc/os-release", "/usr/lib/os-release"}};

std::optional<std::string> readTextFile(const char* path)
{
    std::ifstream in(path);
    if (!in)
        return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

std::string buildOsDescription()
{
    std::string osRelease;
    for (const char* path : kOsReleasePaths) {
        if (std::optional<std::string> text = readTextFile(path)) {
            osRelease = std::move(*text);
            break;
        }
    }
    return kiv::describeOsRelease(osRelease, static_cast<unsigned>(sizeof(void*) * CHAR_BIT));
}
