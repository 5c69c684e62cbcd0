// One line describing the operating system, for the reports and the dialog.
#pragma once

#include <cstdint>
#include <string>

// The description of this host; empty when it cannot be told.
std::string buildOsDescription();

namespace kiv {

// The facts the Windows version queries return, so the decision table can be
// checked on every platform.
struct WindowsVersionFacts {
    std::uint32_t majorVersion = 0;
    std::uint32_t minorVersion = 0;
    std::uint32_t platformId = 0;    // VER_PLATFORM_WIN32_NT is 2
    std::uint32_t productType = 0;   // VER_NT_WORKSTATION is 1
    std::uint32_t suiteMask = 0;     // VER_SUITE_* bits
    std::uint32_t architecture = 0;  // PROCESSOR_ARCHITECTURE_* (0 x86, 6 IA64, 9 AMD64)
    bool productInfoAvailable = false;  // GetProductInfo exists
    std::uint32_t productCode = 0;      // what GetProductInfo gave (0 when it failed)
    int serverR2Metric = 0;             // GetSystemMetrics(SM_SERVERR2)
};

struct OsDescriptionResult {
    bool supported = false;  // false: the caller prints the "does not support" line
    std::string text;
};

OsDescriptionResult describeWindowsVersion(const WindowsVersionFacts& facts);

// Linux: PRETTY_NAME of an os-release text followed by the word-size fragment
// (", 64-bit" or ", 32-bit"; nothing when the size is neither 64 nor 32).
std::string describeOsRelease(const std::string& osReleaseText, unsigned wordBits);

}  // namespace kiv
