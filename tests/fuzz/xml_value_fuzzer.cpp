// The element-value extractor, which reads every text that arrives from the
// network. Input: an element name up to the first line end, then the text.
// Besides the given name, every element name the service reads is looked up
// in the text, and the name is read repeatedly through the text the way the
// lists of addresses are read.
#include <cstdlib>

#include "base/text_helpers.h"
#include "fuzz_support.h"

namespace {

using kiv::fuzz::quoted;

const char* const kServiceNames[] = {
    "name",       "location",    "pingTarget", "pingTargetHealth", "srvIpAddr", "srvIpPort",
    "cpuPercent", "alarmSeconds", "ipAddr",     "setPingTarget",    "beaconCfgAlarm",
};

void checkOne(const std::string& name, const std::string& text, int rounds)
{
    std::string::size_type position = 0;
    // Each call moves on by the name's length plus one, so this ends.
    for (int round = 0; round < rounds && position != std::string::npos; ++round) {
        const std::string::size_type before = position;
        const std::string value = getXmlValueAt(name, text, position);
        const std::string::size_type found = text.find(name, before);
        if (found == std::string::npos) {
            VARN_FUZZ_CHECK(position == std::string::npos, quoted(name) + " in " + quoted(text));
            VARN_FUZZ_CHECK(value.empty(), quoted(name) + " in " + quoted(text));
            break;
        }
        VARN_FUZZ_CHECK(position == before + name.size() + 1, quoted(name) + " in " + quoted(text));
        // The value is the text right behind the name and the character
        // after it, and it holds no closing marker of its own.
        const std::string::size_type start = found + name.size() + 1;
        VARN_FUZZ_CHECK(value.empty() || text.compare(start, value.size(), value) == 0,
                        quoted(name) + " in " + quoted(text));
        VARN_FUZZ_CHECK(value.find("</" + name) == std::string::npos,
                        quoted(name) + " in " + quoted(text));
        if (start < text.size()) {
            const std::string::size_type end = start + value.size();
            VARN_FUZZ_CHECK(end == text.size() || text.compare(end, 2 + name.size(), "</" + name) == 0,
                            quoted(name) + " in " + quoted(text));
        }
    }
    const std::string first = getXmlValue(name, text);
    VARN_FUZZ_CHECK(getXmlValueInt(name, text) == std::atoi(first.c_str()),
                    quoted(name) + " in " + quoted(text));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::string::size_type lineEnd = input.find('\n');
    if (lineEnd == std::string::npos || lineEnd > 64)
        lineEnd = 0;  // no usable name line: the whole input is the text
    const std::string name = input.substr(0, lineEnd);
    const std::string text = input.substr(lineEnd == 0 ? 0 : lineEnd + 1);
    if (!name.empty())
        checkOne(name, text, 64);
    for (const char* serviceName : kServiceNames)
        checkOne(serviceName, text, 6);
    return 0;
}
