#include "metrics/os_description.h"

#include <array>
#include <cstddef>

namespace kiv {

namespace {

// The values the Windows version queries report, as the platform defines them.
constexpr std::uint32_t kPlatformWin32Nt = 2;
constexpr std::uint32_t kProductTypeWorkstation = 1;

constexpr std::uint32_t kArchitectureIntel = 0;
constexpr std::uint32_t kArchitectureIa64 = 6;
constexpr std::uint32_t kArchitectureAmd64 = 9;

constexpr std::uint32_t kSuiteEnterprise = 0x0002;
constexpr std::uint32_t kSuiteDatacenter = 0x0080;
constexpr std::uint32_t kSuitePersonal = 0x0200;
constexpr std::uint32_t kSuiteBlade = 0x0400;
constexpr std::uint32_t kSuiteStorageServer = 0x2000;
constexpr std::uint32_t kSuiteComputeServer = 0x4000;
constexpr std::uint32_t kSuiteHomeServer = 0x8000;

constexpr std::uint32_t kLastUnsupportedMajor = 4;

struct ProductEdition {
    std::uint32_t code;
    const char* fragment;
};

// The editions GetProductInfo can name; any other code names none.
constexpr std::array<ProductEdition, 18> kProductEditions{{
    {1, "  Ultimate Edition"},
    {2, "  Home Basic Edition"},
    {3, "  Home Premium Edition"},
    {4, "  Enterprise Edition"},
    {6, "  Business Edition"},
    {7, "  Standard Edition"},
    {8, "  Datacenter Edition"},
    {9, "  Small Business Server"},
    {10, "  Enterprise Edition"},
    {11, "  Starter Edition"},
    {12, "  Datacenter Edition (core installation)"},
    {13, "  Standard Edition (core installation)"},
    {14, "  Enterprise Edition (core installation)"},
    {15, "  Enterprise Edition for Itanium-based Systems"},
    {17, "  Web Server Edition"},
    {18, "  Cluster Server Edition"},
    {25, "  Small Business Server Premium Edition"},
    {48, "  Professional"},
}};

// Guards the declared size: a missing row would leave an empty slot behind.
constexpr bool everyEditionFilled()
{
    for (const ProductEdition& edition : kProductEditions) {
        if (edition.code == 0 || edition.fragment == nullptr)
            return false;
    }
    return true;
}
static_assert(everyEditionFilled(), "kProductEditions has an unfilled row");

bool hasSuite(const WindowsVersionFacts& facts, std::uint32_t suite)
{
    return (facts.suiteMask & suite) != 0;
}

bool isWorkstation(const WindowsVersionFacts& facts)
{
    return facts.productType == kProductTypeWorkstation;
}

const char* productEdition(std::uint32_t code)
{
    for (const ProductEdition& edition : kProductEditions) {
        if (edition.code == code)
            return edition.fragment;
    }
    return "";
}

// Vista, 7 and their servers: the name by minor version, the edition by the
// product code.
void appendVersion6(const WindowsVersionFacts& facts, std::string& text)
{
    if (facts.minorVersion == 0)
        text += isWorkstation(facts) ? "  Windows Vista " : "  Windows Server 2008 ";
    else if (facts.minorVersion == 1)
        text += isWorkstation(facts) ? "  Windows 7 " : "  Windows Server 2008 R2 ";
    if (facts.productInfoAvailable)
        text += productEdition(facts.productCode);
}

const char* serverEditionByArchitecture(const WindowsVersionFacts& facts)
{
    switch (facts.architecture) {
    case kArchitectureIa64:
        if (hasSuite(facts, kSuiteDatacenter))
            return "  Datacenter Edition for Itanium-based Systems";
        if (hasSuite(facts, kSuiteEnterprise))
            return "  Enterprise Edition for Itanium-based Systems";
        return "";
    case kArchitectureAmd64:
        if (hasSuite(facts, kSuiteDatacenter))
            return "  Datacenter x64 Edition";
        if (hasSuite(facts, kSuiteEnterprise))
            return "  Enterprise x64 Edition";
        return "  Standard x64 Edition";
    default:
        if (hasSuite(facts, kSuiteComputeServer))
            return "  Compute Cluster Edition";
        if (hasSuite(facts, kSuiteDatacenter))
            return "  Datacenter Edition";
        if (hasSuite(facts, kSuiteEnterprise))
            return "  Enterprise Edition";
        if (hasSuite(facts, kSuiteBlade))
            return "  Web Edition";
        return "  Standard Edition";
    }
}

// Server 2003 and its relatives, including XP x64 which reports 5.2.
void appendVersion52(const WindowsVersionFacts& facts, std::string& text)
{
    if (facts.serverR2Metric != 0)
        text += "  Windows Server 2003 R2, ";
    else if (hasSuite(facts, kSuiteStorageServer))
        text += "  Windows Storage Server 2003";
    else if (hasSuite(facts, kSuiteHomeServer))
        text += "  Windows Home Server";
    else if (isWorkstation(facts) && facts.architecture == kArchitectureAmd64)
        text += "  Windows XP Professional x64 Edition";
    else
        text += "  Windows Server 2003, ";

    if (!isWorkstation(facts))
        text += serverEditionByArchitecture(facts);
}

void appendVersion5(const WindowsVersionFacts& facts, std::string& text)
{
    switch (facts.minorVersion) {
    case 2:
        appendVersion52(facts, text);
        break;
    case 1:
        text += "  Windows XP ";
        text += hasSuite(facts, kSuitePersonal) ? "  Home Edition" : "  Professional";
        break;
    case 0:
        text += "  Windows 2000 ";
        if (isWorkstation(facts))
            text += "  Professional";
        else if (hasSuite(facts, kSuiteDatacenter))
            text += "  Datacenter Server";
        else if (hasSuite(facts, kSuiteEnterprise))
            text += "  Advanced Server";
        else
            text += "  Server";
        break;
    default:
        break;
    }
}

const char* widthFragment(std::uint32_t architecture)
{
    if (architecture == kArchitectureAmd64)
        return ", 64-bit";
    if (architecture == kArchitectureIntel)
        return ", 32-bit";
    return "";
}

// os-release values follow shell quoting: double quotes take \$ \" \\ \` as
// escapes and keep any other backslash, single quotes take everything
// literally, and outside quotes a backslash takes the next character as is.
// Blanks around an unquoted value do not belong to it.
std::string unquoteOsReleaseValue(const std::string& raw)
{
    enum class Quote { None, Double, Single };
    Quote quote = Quote::None;
    std::string value;
    std::size_t unquotedEnd = 0;  // length of value up to its last quoted or non-blank character
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        switch (quote) {
        case Quote::None:
            if (c == '"') {
                quote = Quote::Double;
            } else if (c == '\'') {
                quote = Quote::Single;
            } else if (c == '\\') {
                if (i + 1 < raw.size())
                    value += raw[++i];
            } else if (c == ' ' || c == '\t') {
                if (!value.empty())
                    value += c;
                continue;  // a blank only counts once something follows it
            } else {
                value += c;
            }
            break;
        case Quote::Double:
            if (c == '"') {
                quote = Quote::None;
            } else if (c == '\\' && i + 1 < raw.size()
                       && (raw[i + 1] == '$' || raw[i + 1] == '"' || raw[i + 1] == '\\' || raw[i + 1] == '`')) {
                value += raw[++i];
            } else {
                value += c;
            }
            break;
        case Quote::Single:
            if (c == '\'')
                quote = Quote::None;
            else
                value += c;
            break;
        }
        unquotedEnd = value.size();
    }
    if (quote == Quote::None)
        value.resize(unquotedEnd);
    return value;
}

std::string trimBlanks(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    const std::size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

constexpr char kPrettyNameKey[] = "PRETTY_NAME";
constexpr char kDefaultPrettyName[] = "Linux";
constexpr unsigned kWordBits64 = 64;
constexpr unsigned kWordBits32 = 32;

}  // namespace

OsDescriptionResult describeWindowsVersion(const WindowsVersionFacts& facts)
{
    OsDescriptionResult result;
    if (facts.platformId != kPlatformWin32Nt || facts.majorVersion <= kLastUnsupportedMajor)
        return result;

    result.supported = true;
    result.text = "Microsoft ";
    if (facts.majorVersion == 6)
        appendVersion6(facts, result.text);
    else if (facts.majorVersion == 5)
        appendVersion5(facts, result.text);
    if (facts.majorVersion >= 6)
        result.text += widthFragment(facts.architecture);
    return result;
}

std::string describeOsRelease(const std::string& osReleaseText, unsigned wordBits)
{
    std::string prettyName;
    std::size_t lineStart = 0;
    while (lineStart < osReleaseText.size()) {
        std::size_t lineEnd = osReleaseText.find('\n', lineStart);
        if (lineEnd == std::string::npos)
            lineEnd = osReleaseText.size();
        std::string line = osReleaseText.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();

        const std::size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;  // blank line, comment or junk
        if (trimBlanks(line.substr(0, equals)) != kPrettyNameKey)
            continue;
        prettyName = unquoteOsReleaseValue(line.substr(equals + 1));  // the last assignment wins
    }
    if (prettyName.empty())
        prettyName = kDefaultPrettyName;

    if (wordBits == kWordBits64)
        prettyName += ", 64-bit";
    else if (wordBits == kWordBits32)
        prettyName += ", 32-bit";
    return prettyName;
}

}  // namespace kiv
