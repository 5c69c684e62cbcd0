// Shared pieces of the fuzz harnesses: a quiet service, the framing that
// turns one fuzz input into several datagrams, and the failure report that
// libFuzzer keeps as a crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "base/debug_log.h"

namespace kiv::fuzz {

// An input is one or more datagrams separated by this line. The seeds are
// written in the same form, so they stay readable.
constexpr std::string_view kFrameSeparator = "\n--\n";

inline std::vector<std::string_view> splitFrames(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string_view> frames;
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    for (;;) {
        const std::size_t at = rest.find(kFrameSeparator);
        if (at == std::string_view::npos) {
            frames.push_back(rest);
            return frames;
        }
        frames.push_back(rest.substr(0, at));
        rest.remove_prefix(at + kFrameSeparator.size());
    }
}

// The service traces every step; the fuzzers run it silently.
inline void silenceService()
{
    setDebugLogWriter([](const std::string&) {});
    setConsoleWriter([](const char*, std::size_t) {});
}

// A broken rule is a finding like a crash: libFuzzer keeps the input.
[[noreturn]] inline void violated(const char* rule, const std::string& detail = std::string())
{
    std::fprintf(stderr, "\n*** broken rule: %s\n%s\n", rule, detail.c_str());
    std::abort();
}

#define VARN_FUZZ_CHECK(condition, detail)            \
    do {                                              \
        if (!(condition))                             \
            ::kiv::fuzz::violated(#condition, detail); \
    } while (0)

// Printable form of a short byte string for the failure report.
inline std::string quoted(std::string_view bytes)
{
    std::string out = "\"";
    for (unsigned char c : bytes.substr(0, 200)) {
        if (c >= 0x20 && c < 0x7F && c != '\\' && c != '"') {
            out += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            out += escaped;
        }
    }
    if (bytes.size() > 200)
        out += "...";
    return out + "\" (" + std::to_string(bytes.size()) + " bytes)";
}

}  // namespace kiv::fuzz
