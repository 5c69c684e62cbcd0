#include "bench_common.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace bench {

std::int64_t nowNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void sleepUntil(std::int64_t deadlineNs)
{
    constexpr std::int64_t kSpinNs = 60000;
    const std::int64_t left = deadlineNs - nowNs();
    if (left > kSpinNs) {
        const std::int64_t wake = deadlineNs - kSpinNs;
        timespec ts{};
        ts.tv_sec = static_cast<time_t>(wake / 1000000000);
        ts.tv_nsec = static_cast<long>(wake % 1000000000);
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
        }
    }
    while (nowNs() < deadlineNs) {
    }
}

[[noreturn]] void fail(const std::string& message)
{
    std::fprintf(stderr, "%s\n", message.c_str());
    std::exit(2);
}

sockaddr_in parseAddress(const std::string& text)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    if (inet_pton(AF_INET, text.c_str(), &address.sin_addr) != 1)
        fail("not an IPv4 address: " + text);
    return address;
}

sockaddr_in parseEndpoint(const std::string& text)
{
    const std::string::size_type colon = text.rfind(':');
    if (colon == std::string::npos)
        fail("expected ADDRESS:PORT, got " + text);
    sockaddr_in address = parseAddress(text.substr(0, colon));
    const long port = parseLong("port", text.substr(colon + 1));
    if (port < 1 || port > 65535)
        fail("port out of range: " + text);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return address;
}

double parseDouble(const std::string& option, const std::string& text)
{
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0')
        fail(option + ": not a number: " + text);
    return value;
}

std::string optionValue(const std::string& option, int& i, int argc, char** argv)
{
    if (i + 1 >= argc)
        fail(option + " needs a value");
    return argv[++i];
}

long parseLong(const std::string& option, const std::string& text)
{
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0')
        fail(option + ": not a whole number: " + text);
    return value;
}

double percentile(std::vector<std::uint32_t>& samples, double q)
{
    if (samples.empty())
        return 0.0;
    std::size_t k = static_cast<std::size_t>(q * static_cast<double>(samples.size()));
    k = std::min(k, samples.size() - 1);
    std::nth_element(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(k), samples.end());
    return samples[k];
}

std::string fromHex(const std::string& hex)
{
    if (hex.size() % 2 != 0)
        fail("odd number of hex digits");
    std::string bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        char* end = nullptr;
        const std::string pair = hex.substr(i, 2);
        const long b = std::strtol(pair.c_str(), &end, 16);
        if (*end != '\0')
            fail("not hex: " + pair);
        bytes.push_back(static_cast<char>(b));
    }
    return bytes;
}

std::string printable(const std::string& bytes)
{
    std::string out;
    for (unsigned char c : bytes) {
        if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c >= 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

namespace {

// BER with short lengths only: every request this program builds is far
// below 128 bytes.
std::string tlv(unsigned char tag, const std::string& content)
{
    if (content.size() >= 128)
        fail("SNMP request too long");
    std::string out;
    out.push_back(static_cast<char>(tag));
    out.push_back(static_cast<char>(content.size()));
    return out + content;
}

std::string berInteger(std::int32_t value)
{
    std::string bytes;
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.push_back(static_cast<char>((static_cast<std::uint32_t>(value) >> shift) & 0xff));
    // Drop leading bytes that only repeat the sign.
    while (bytes.size() > 1) {
        const auto first = static_cast<unsigned char>(bytes[0]);
        const auto second = static_cast<unsigned char>(bytes[1]);
        if ((first == 0x00 && !(second & 0x80)) || (first == 0xff && (second & 0x80)))
            bytes.erase(0, 1);
        else
            break;
    }
    return tlv(0x02, bytes);
}

std::string berOid(const std::string& dotted)
{
    std::vector<unsigned long> arcs;
    std::string::size_type start = 0;
    while (start <= dotted.size()) {
        const std::string::size_type dot = dotted.find('.', start);
        const std::string part = dotted.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        arcs.push_back(static_cast<unsigned long>(parseLong("OID", part)));
        if (dot == std::string::npos)
            break;
        start = dot + 1;
    }
    if (arcs.size() < 2)
        fail("OID needs at least two arcs: " + dotted);
    std::string content;
    content.push_back(static_cast<char>(arcs[0] * 40 + arcs[1]));
    for (std::size_t i = 2; i < arcs.size(); ++i) {
        std::string base128;
        unsigned long arc = arcs[i];
        base128.insert(base128.begin(), static_cast<char>(arc & 0x7f));
        arc >>= 7;
        while (arc != 0) {
            base128.insert(base128.begin(), static_cast<char>(0x80 | (arc & 0x7f)));
            arc >>= 7;
        }
        content += base128;
    }
    return tlv(0x06, content);
}

struct BerReader {
    const std::string& data;
    std::size_t pos;
    std::size_t end;

    // Reads one tag and length; the content starts at `pos` afterwards.
    bool header(unsigned char& tag, std::size_t& length)
    {
        if (pos + 2 > end)
            return false;
        tag = static_cast<unsigned char>(data[pos++]);
        std::size_t first = static_cast<unsigned char>(data[pos++]);
        if (first < 0x80) {
            length = first;
        } else {
            const std::size_t count = first & 0x7f;
            if (count == 0 || count > 4 || pos + count > end)
                return false;
            length = 0;
            for (std::size_t i = 0; i < count; ++i)
                length = (length << 8) | static_cast<unsigned char>(data[pos++]);
        }
        return pos + length <= end;
    }
};

}  // namespace

std::string snmpGetRequest(const std::string& community, const std::string& oid, std::int32_t requestId)
{
    const std::string varbind = tlv(0x30, berOid(oid) + std::string("\x05\x00", 2));
    const std::string pdu =
        tlv(0xa0, berInteger(requestId) + berInteger(0) + berInteger(0) + tlv(0x30, varbind));
    return tlv(0x30, berInteger(1) + tlv(0x04, community) + pdu);
}

bool snmpFirstValue(const std::string& datagram, bool& exception, std::string& value)
{
    BerReader r{datagram, 0, datagram.size()};
    unsigned char tag = 0;
    std::size_t length = 0;
    if (!r.header(tag, length) || tag != 0x30)
        return false;
    // version, community
    for (unsigned char expected : {0x02, 0x04}) {
        if (!r.header(tag, length) || tag != expected)
            return false;
        r.pos += length;
    }
    if (!r.header(tag, length) || tag != 0xa2)  // GetResponse-PDU
        return false;
    long errorStatus = -1;
    for (int i = 0; i < 3; ++i) {  // request-id, error-status, error-index
        if (!r.header(tag, length) || tag != 0x02)
            return false;
        if (i == 1) {
            errorStatus = 0;
            for (std::size_t k = 0; k < length; ++k)
                errorStatus = (errorStatus << 8) | static_cast<unsigned char>(datagram[r.pos + k]);
        }
        r.pos += length;
    }
    if (!r.header(tag, length) || tag != 0x30)  // the list
        return false;
    if (!r.header(tag, length) || tag != 0x30)  // the first binding
        return false;
    if (!r.header(tag, length) || tag != 0x06)  // its OID
        return false;
    r.pos += length;
    if (!r.header(tag, length))
        return false;
    exception = tag == 0x80 || tag == 0x81 || tag == 0x82 || errorStatus != 0;
    if (tag == 0x80)
        value = "noSuchObject";
    else if (tag == 0x81)
        value = "noSuchInstance";
    else if (tag == 0x82)
        value = "endOfMibView";
    else if (tag == 0x04)
        value = printable(datagram.substr(r.pos, length));
    else {
        // INTEGER, Counter32, Gauge32, TimeTicks: unsigned big-endian is
        // close enough for a readiness check.
        unsigned long long n = 0;
        for (std::size_t k = 0; k < length && k < 8; ++k)
            n = (n << 8) | static_cast<unsigned char>(datagram[r.pos + k]);
        char text[64];
        std::snprintf(text, sizeof text, "%llu (tag 0x%02x)", n, tag);
        value = text;
    }
    if (errorStatus > 0)
        value = "error-status " + std::to_string(errorStatus);
    return true;
}

bool takeRequestOption(const std::string& arg, int& i, int argc, char** argv, std::string& request,
                       bool& snmp)
{
    auto next = [&] { return optionValue(arg, i, argc, argv); };
    if (arg == "--text") {
        request = next();
        snmp = false;
        return true;
    }
    if (arg == "--hex") {
        request = fromHex(next());
        snmp = false;
        return true;
    }
    if (arg == "--snmp-get") {
        // COMMUNITY:OID
        const std::string value = next();
        const std::string::size_type colon = value.find(':');
        if (colon == std::string::npos)
            fail("--snmp-get takes COMMUNITY:OID");
        request = snmpGetRequest(value.substr(0, colon), value.substr(colon + 1), 0x2a2a);
        snmp = true;
        return true;
    }
    return false;
}

namespace {

volatile std::sig_atomic_t gStop = 0;

void onStop(int)
{
    gStop = 1;
}

}  // namespace

void catchStopSignals(bool alsoAlarm)
{
    struct sigaction stop {};
    stop.sa_handler = onStop;
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);
    if (alsoAlarm)
        sigaction(SIGALRM, &stop, nullptr);
}

bool stopRequested()
{
    return gStop != 0;
}

}  // namespace bench
