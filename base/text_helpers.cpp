#include "base/text_helpers.h"

#include <cctype>
#include <cstdlib>

#include "base/debug_log.h"

std::string getIpAddrString(std::uint32_t address)
{
    return formatString("%u.%u.%u.%u", (address >> 24) & 0xFF, (address >> 16) & 0xFF,
                        (address >> 8) & 0xFF, address & 0xFF);
}

std::uint32_t getIpAddrInt(const std::string& nameOrAddress, const kiv::HostAddressLookup& host)
{
    const std::uint32_t parsed = kiv::parseInetAddr(nameOrAddress);
    if (parsed != kiv::kInAddrNone && parsed != 0)
        return parsed;
    if (nameOrAddress == "255.255.255.255")
        return 0;
    if (nameOrAddress.empty())
        return host.firstAddress ? host.firstAddress() : 0;
    return host.resolveName ? host.resolveName(nameOrAddress) : 0;
}

std::string getXmlValueAt(std::string name, std::string text, std::string::size_type& position)
{
    const std::string::size_type found = text.find(name, position);
    if (found == std::string::npos) {
        position = std::string::npos;
        return std::string();
    }
    const std::string::size_type start = found + name.size() + 1;
    position += name.size() + 1;
    // A name at the very end leaves nothing to take: an empty value.
    if (start >= text.size())
        return std::string();
    const std::string::size_type end = text.find("</" + name, start);
    if (end == std::string::npos)
        return text.substr(start);
    return text.substr(start, end - start);
}

std::string getXmlValue(std::string name, std::string text)
{
    std::string::size_type position = 0;
    return getXmlValueAt(std::move(name), std::move(text), position);
}

int getXmlValueInt(std::string name, std::string text)
{
    const std::string value = getXmlValue(std::move(name), std::move(text));
    return std::atoi(value.c_str());
}

namespace kiv {

std::uint32_t parseInetAddr(const std::string& text)
{
    std::uint32_t parts[4] = {0, 0, 0, 0};
    int count = 0;
    std::string::size_type i = 0;
    const std::string::size_type n = text.size();
    for (;;) {
        if (i >= n || !std::isdigit(static_cast<unsigned char>(text[i])))
            return kInAddrNone;
        unsigned base = 10;
        if (text[i] == '0') {
            base = 8;
            ++i;
            if (i < n && (text[i] == 'x' || text[i] == 'X')) {
                base = 16;
                ++i;
            }
        }
        std::uint64_t value = 0;
        bool digits = (base == 8);  // a lone "0" is a valid octal zero
        while (i < n) {
            const unsigned char c = static_cast<unsigned char>(text[i]);
            unsigned digit;
            if (std::isdigit(c))
                digit = c - '0';
            else if (base == 16 && std::isxdigit(c))
                digit = static_cast<unsigned>(std::tolower(c) - 'a' + 10);
            else
                break;
            if (digit >= base)
                return kInAddrNone;
            value = value * base + digit;
            if (value > 0xFFFFFFFFull)
                return kInAddrNone;
            digits = true;
            ++i;
        }
        if (!digits)
            return kInAddrNone;
        if (count == 4)
            return kInAddrNone;
        parts[count++] = static_cast<std::uint32_t>(value);
        if (i < n && text[i] == '.') {
            ++i;
            continue;
        }
        break;
    }
    // Trailing white space is accepted, anything else is not.
    for (; i < n; ++i) {
        if (!std::isspace(static_cast<unsigned char>(text[i])))
            return kInAddrNone;
    }
    std::uint32_t result = 0;
    switch (count) {
    case 1:
        result = parts[0];
        break;
    case 2:
        if (parts[0] > 0xFF || parts[1] > 0xFFFFFF)
            return kInAddrNone;
        result = (parts[0] << 24) | parts[1];
        break;
    case 3:
        if (parts[0] > 0xFF || parts[1] > 0xFF || parts[2] > 0xFFFF)
            return kInAddrNone;
        result = (parts[0] << 24) | (parts[1] << 16) | parts[2];
        break;
    default:
        for (int k = 0; k < 4; ++k) {
            if (parts[k] > 0xFF)
                return kInAddrNone;
        }
        result = (parts[0] << 24) | (parts[1] << 16) | (parts[2] << 8) | parts[3];
        break;
    }
    return result;
}

}  // namespace kiv
