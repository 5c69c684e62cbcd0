// The OS description's table of product editions.

#include "metrics/os_description.h"

#include <cstdint>
#include <map>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "row_name.h"

namespace {

using kiv::test::rowName;

using kiv::WindowsVersionFacts;

// The values the Windows version queries report.
constexpr std::uint32_t kWin32Windows = 1;  // 95, 98, Me
constexpr std::uint32_t kWin32s = 0;
constexpr std::uint32_t kWin32Nt = 2;

constexpr std::uint32_t kWorkstation = 1;
constexpr std::uint32_t kDomainController = 2;
constexpr std::uint32_t kServer = 3;

constexpr std::uint32_t kX86 = 0;
constexpr std::uint32_t kArm = 5;
constexpr std::uint32_t kIa64 = 6;
constexpr std::uint32_t kAmd64 = 9;
constexpr std::uint32_t kArm64 = 12;

constexpr std::uint32_t kEnterprise = 0x0002;
constexpr std::uint32_t kTerminal = 0x0010;
constexpr std::uint32_t kDatacenter = 0x0080;
constexpr std::uint32_t kPersonal = 0x0200;
constexpr std::uint32_t kBlade = 0x0400;
constexpr std::uint32_t kStorageServer = 0x2000;
constexpr std::uint32_t kComputeServer = 0x4000;
constexpr std::uint32_t kHomeServer = 0x8000;

// Reads as a host description: Host(6, 1).workstation().on(kAmd64).product(48).
struct Host {
    WindowsVersionFacts facts;

    Host(std::uint32_t major, std::uint32_t minor, std::uint32_t platform = kWin32Nt)
    {
        facts.majorVersion = major;
        facts.minorVersion = minor;
        facts.platformId = platform;
        facts.productType = kServer;
        facts.architecture = kX86;
    }
    Host workstation() const { return type(kWorkstation); }
    Host server() const { return type(kServer); }
    Host domainController() const { return type(kDomainController); }
    Host type(std::uint32_t productType) const
    {
        Host h = *this;
        h.facts.productType = productType;
        return h;
    }
    Host on(std::uint32_t architecture) const
    {
        Host h = *this;
        h.facts.architecture = architecture;
        return h;
    }
    Host suite(std::uint32_t mask) const
    {
        Host h = *this;
        h.facts.suiteMask = mask;
        return h;
    }
    // GetProductInfo exists and gave this code (0 when the call failed).
    Host product(std::uint32_t code) const
    {
        Host h = *this;
        h.facts.productInfoAvailable = true;
        h.facts.productCode = code;
        return h;
    }
    // GetProductInfo does not exist; the code is whatever was left over.
    Host withoutGetProductInfo(std::uint32_t leftOverCode) const
    {
        Host h = *this;
        h.facts.productInfoAvailable = false;
        h.facts.productCode = leftOverCode;
        return h;
    }
    Host r2() const
    {
        Host h = *this;
        h.facts.serverR2Metric = 1;
        return h;
    }
};

struct VersionRow {
    const char* name;
    Host host;
    std::string expected;  // written as the fragments joined
};

std::ostream& operator<<(std::ostream& os, const VersionRow& row)
{
    return os << row.name;
}

void expectDescription(const VersionRow& row)
{
    const kiv::OsDescriptionResult result = kiv::describeWindowsVersion(row.host.facts);
    EXPECT_TRUE(result.supported);
    EXPECT_EQ(row.expected, result.text);
}

// ---------------------------------------------------------------------------
// Common hosts

class CommonHosts : public ::testing::TestWithParam<VersionRow> {};
TEST_P(CommonHosts, ComposeTheirFragments)
{
    expectDescription(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Rows, CommonHosts, ::testing::Values(
    VersionRow{"Windows7ProfessionalX64", Host(6, 1).workstation().on(kAmd64).product(48),
               "Microsoft " "  Windows 7 " "  Professional" ", 64-bit"},
    VersionRow{"Server2008DatacenterX86", Host(6, 0).server().on(kX86).product(8),
               "Microsoft " "  Windows Server 2008 " "  Datacenter Edition" ", 32-bit"},
    VersionRow{"Reports6_2ProfessionalX64", Host(6, 2).workstation().on(kAmd64).product(48),
               "Microsoft " "  Professional" ", 64-bit"},
    VersionRow{"Server2003EnterpriseX64", Host(5, 2).server().on(kAmd64).suite(kEnterprise),
               "Microsoft " "  Windows Server 2003, " "  Enterprise x64 Edition"},
    VersionRow{"XpHome", Host(5, 1).workstation().suite(kPersonal),
               "Microsoft " "  Windows XP " "  Home Edition"},
    VersionRow{"Windows2000Server", Host(5, 0).server(),
               "Microsoft " "  Windows 2000 " "  Server"}),
    rowName<VersionRow>);

// ---------------------------------------------------------------------------
// Edge cases

class EdgeCases : public ::testing::TestWithParam<VersionRow> {};
TEST_P(EdgeCases, FollowTheTable)
{
    expectDescription(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Rows, EdgeCases, ::testing::Values(
    VersionRow{"Reports6_2ServerHasNoNameButEditionAndWidth", Host(6, 2).server().on(kX86).product(8),
               "Microsoft " "  Datacenter Edition" ", 32-bit"},
    VersionRow{"Reports6_3HasNoNameButEditionAndWidth", Host(6, 3).workstation().on(kAmd64).product(4),
               "Microsoft " "  Enterprise Edition" ", 64-bit"},
    VersionRow{"Version10IsOnlyTheWidth", Host(10, 0).workstation().on(kAmd64).product(48),
               "Microsoft " ", 64-bit"},
    VersionRow{"Version7X86IsOnlyTheWidth", Host(7, 0).workstation().on(kX86),
               "Microsoft " ", 32-bit"},
    VersionRow{"Version10Arm64HasNoWidth", Host(10, 0).workstation().on(kArm64).product(48),
               "Microsoft "},
    VersionRow{"R2WinsOverXpX64AndWorkstationHasNoEdition",
               Host(5, 2).workstation().on(kAmd64).r2().suite(kEnterprise),
               "Microsoft " "  Windows Server 2003 R2, "},
    VersionRow{"Itanium2008R2HasNoWidth", Host(6, 1).server().on(kIa64).product(15),
               "Microsoft " "  Windows Server 2008 R2 " "  Enterprise Edition for Itanium-based Systems"},
    VersionRow{"ItaniumVistaEraServerWithoutCode", Host(6, 0).server().on(kIa64).product(0),
               "Microsoft " "  Windows Server 2008 "},
    VersionRow{"ArmUnderVersion6HasNoWidth", Host(6, 2).workstation().on(kArm).product(48),
               "Microsoft " "  Professional"},
    VersionRow{"GetProductInfoMissingMeansNoEdition", Host(6, 1).workstation().on(kAmd64).withoutGetProductInfo(48),
               "Microsoft " "  Windows 7 " ", 64-bit"},
    VersionRow{"GetProductInfoMissingOnVista", Host(6, 0).workstation().on(kX86).withoutGetProductInfo(0),
               "Microsoft " "  Windows Vista " ", 32-bit"},
    VersionRow{"GetProductInfoFailedLeavesCode0", Host(6, 1).workstation().on(kX86).product(0),
               "Microsoft " "  Windows 7 " ", 32-bit"},
    VersionRow{"UnknownCode5", Host(6, 1).workstation().on(kAmd64).product(5),
               "Microsoft " "  Windows 7 " ", 64-bit"},
    VersionRow{"UnknownCode16", Host(6, 1).workstation().on(kAmd64).product(16),
               "Microsoft " "  Windows 7 " ", 64-bit"},
    VersionRow{"UnknownCode49", Host(6, 1).workstation().on(kAmd64).product(49),
               "Microsoft " "  Windows 7 " ", 64-bit"},
    VersionRow{"UnknownCodeUnlicensed", Host(6, 1).workstation().on(kAmd64).product(0xABCDABCD),
               "Microsoft " "  Windows 7 " ", 64-bit"},
    VersionRow{"VistaWorkstation", Host(6, 0).workstation().on(kX86).product(3),
               "Microsoft " "  Windows Vista " "  Home Premium Edition" ", 32-bit"},
    VersionRow{"Server2008R2Standard", Host(6, 1).server().on(kAmd64).product(7),
               "Microsoft " "  Windows Server 2008 R2 " "  Standard Edition" ", 64-bit"},
    VersionRow{"DomainControllerIsAServer", Host(6, 1).domainController().on(kAmd64).product(10),
               "Microsoft " "  Windows Server 2008 R2 " "  Enterprise Edition" ", 64-bit"},
    VersionRow{"SuiteBitsDoNotMatterUnder6", Host(6, 1).server().on(kAmd64).suite(kDatacenter | kTerminal).product(7),
               "Microsoft " "  Windows Server 2008 R2 " "  Standard Edition" ", 64-bit"},
    VersionRow{"R2MetricOnlyMattersFor5_2", Host(6, 0).server().on(kX86).r2().product(7),
               "Microsoft " "  Windows Server 2008 " "  Standard Edition" ", 32-bit"},
    VersionRow{"ProductCodeOnlyMattersFor6", Host(5, 1).workstation().on(kX86).product(1),
               "Microsoft " "  Windows XP " "  Professional"},
    VersionRow{"UnknownMinorOf5HasNoName", Host(5, 3).server().on(kX86).suite(kEnterprise),
               "Microsoft "}),
    rowName<VersionRow>);

// ---------------------------------------------------------------------------
// Editions by product code

struct EditionRow {
    std::uint32_t code;
    const char* edition;
};

std::ostream& operator<<(std::ostream& os, const EditionRow& row)
{
    return os << "code " << row.code;
}

// Each documented product code and the edition it names.
const EditionRow kEditions[] = {
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
};

std::string codeName(const ::testing::TestParamInfo<EditionRow>& param)
{
    return "Code" + std::to_string(param.param.code);
}

class ProductEditions : public ::testing::TestWithParam<EditionRow> {};

TEST_P(ProductEditions, FollowTheName)
{
    const EditionRow& row = GetParam();
    EXPECT_EQ(std::string("Microsoft " "  Windows 7 ") + row.edition + ", 64-bit",
              kiv::describeWindowsVersion(Host(6, 1).workstation().on(kAmd64).product(row.code).facts).text);
    EXPECT_EQ(std::string("Microsoft " "  Windows Server 2008 ") + row.edition + ", 32-bit",
              kiv::describeWindowsVersion(Host(6, 0).server().on(kX86).product(row.code).facts).text);
}

INSTANTIATE_TEST_SUITE_P(Rows, ProductEditions, ::testing::ValuesIn(kEditions),
                         codeName);

TEST(ProductEditions, NoOtherCodeNamesAnEdition)
{
    std::map<std::uint32_t, std::string> known;
    for (const EditionRow& row : kEditions)
        known[row.code] = row.edition;
    constexpr std::uint32_t kCodesChecked = 0x200;  // well past the last documented code
    for (std::uint32_t code = 0; code < kCodesChecked; ++code) {
        if (known.count(code) != 0)
            continue;
        EXPECT_EQ("Microsoft " "  Windows 7 " ", 64-bit",
                  kiv::describeWindowsVersion(Host(6, 1).workstation().on(kAmd64).product(code).facts).text)
            << "code " << code;
    }
}

// ---------------------------------------------------------------------------
// Server 2003 family (5.2): name, then the server edition by architecture

class Server2003Family : public ::testing::TestWithParam<VersionRow> {};
TEST_P(Server2003Family, NameThenEditionByArchitecture)
{
    expectDescription(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Rows, Server2003Family, ::testing::Values(
    // x86 and every other architecture
    VersionRow{"X86Standard", Host(5, 2).server().on(kX86),
               "Microsoft " "  Windows Server 2003, " "  Standard Edition"},
    VersionRow{"X86Web", Host(5, 2).server().on(kX86).suite(kBlade),
               "Microsoft " "  Windows Server 2003, " "  Web Edition"},
    VersionRow{"X86Enterprise", Host(5, 2).server().on(kX86).suite(kEnterprise),
               "Microsoft " "  Windows Server 2003, " "  Enterprise Edition"},
    VersionRow{"X86EnterpriseBeforeWeb", Host(5, 2).server().on(kX86).suite(kEnterprise | kBlade),
               "Microsoft " "  Windows Server 2003, " "  Enterprise Edition"},
    VersionRow{"X86Datacenter", Host(5, 2).server().on(kX86).suite(kDatacenter),
               "Microsoft " "  Windows Server 2003, " "  Datacenter Edition"},
    VersionRow{"X86DatacenterBeforeEnterprise", Host(5, 2).server().on(kX86).suite(kDatacenter | kEnterprise),
               "Microsoft " "  Windows Server 2003, " "  Datacenter Edition"},
    VersionRow{"X86ComputeCluster", Host(5, 2).server().on(kX86).suite(kComputeServer),
               "Microsoft " "  Windows Server 2003, " "  Compute Cluster Edition"},
    VersionRow{"X86ComputeClusterBeforeDatacenter", Host(5, 2).server().on(kX86).suite(kComputeServer | kDatacenter),
               "Microsoft " "  Windows Server 2003, " "  Compute Cluster Edition"},
    VersionRow{"ArmLikeX86", Host(5, 2).server().on(kArm).suite(kEnterprise),
               "Microsoft " "  Windows Server 2003, " "  Enterprise Edition"},
    VersionRow{"DomainControllerIsAServer", Host(5, 2).domainController().on(kX86).suite(kDatacenter),
               "Microsoft " "  Windows Server 2003, " "  Datacenter Edition"},
    // AMD64
    VersionRow{"X64Standard", Host(5, 2).server().on(kAmd64),
               "Microsoft " "  Windows Server 2003, " "  Standard x64 Edition"},
    VersionRow{"X64Datacenter", Host(5, 2).server().on(kAmd64).suite(kDatacenter | kEnterprise),
               "Microsoft " "  Windows Server 2003, " "  Datacenter x64 Edition"},
    VersionRow{"X64IgnoresComputeAndBlade", Host(5, 2).server().on(kAmd64).suite(kComputeServer | kBlade),
               "Microsoft " "  Windows Server 2003, " "  Standard x64 Edition"},
    // IA64
    VersionRow{"ItaniumPlainHasNoEdition", Host(5, 2).server().on(kIa64),
               "Microsoft " "  Windows Server 2003, "},
    VersionRow{"ItaniumEnterprise", Host(5, 2).server().on(kIa64).suite(kEnterprise),
               "Microsoft " "  Windows Server 2003, " "  Enterprise Edition for Itanium-based Systems"},
    VersionRow{"ItaniumDatacenter", Host(5, 2).server().on(kIa64).suite(kDatacenter | kEnterprise),
               "Microsoft " "  Windows Server 2003, " "  Datacenter Edition for Itanium-based Systems"},
    // The name fragment, first match wins
    VersionRow{"R2Enterprise", Host(5, 2).server().on(kX86).r2().suite(kEnterprise),
               "Microsoft " "  Windows Server 2003 R2, " "  Enterprise Edition"},
    VersionRow{"R2BeforeStorageServer", Host(5, 2).server().on(kAmd64).r2().suite(kStorageServer),
               "Microsoft " "  Windows Server 2003 R2, " "  Standard x64 Edition"},
    VersionRow{"StorageServer", Host(5, 2).server().on(kX86).suite(kStorageServer),
               "Microsoft " "  Windows Storage Server 2003" "  Standard Edition"},
    VersionRow{"StorageBeforeHomeServer", Host(5, 2).server().on(kX86).suite(kStorageServer | kHomeServer),
               "Microsoft " "  Windows Storage Server 2003" "  Standard Edition"},
    VersionRow{"HomeServer", Host(5, 2).server().on(kX86).suite(kHomeServer),
               "Microsoft " "  Windows Home Server" "  Standard Edition"},
    VersionRow{"HomeServerBeforeXpX64", Host(5, 2).workstation().on(kAmd64).suite(kHomeServer),
               "Microsoft " "  Windows Home Server"},
    VersionRow{"XpProfessionalX64", Host(5, 2).workstation().on(kAmd64),
               "Microsoft " "  Windows XP Professional x64 Edition"},
    VersionRow{"X86WorkstationGetsServerNameWithoutEdition", Host(5, 2).workstation().on(kX86).suite(kEnterprise),
               "Microsoft " "  Windows Server 2003, "}),
    rowName<VersionRow>);

// ---------------------------------------------------------------------------
// Windows 2000 and XP

class Windows2000AndXp : public ::testing::TestWithParam<VersionRow> {};
TEST_P(Windows2000AndXp, NameThenEdition)
{
    expectDescription(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Rows, Windows2000AndXp, ::testing::Values(
    VersionRow{"XpProfessional", Host(5, 1).workstation(),
               "Microsoft " "  Windows XP " "  Professional"},
    VersionRow{"XpHome", Host(5, 1).workstation().suite(kPersonal | kTerminal),
               "Microsoft " "  Windows XP " "  Home Edition"},
    VersionRow{"XpOnX64HardwareHasNoWidth", Host(5, 1).workstation().on(kAmd64),
               "Microsoft " "  Windows XP " "  Professional"},
    VersionRow{"XpIgnoresProductType", Host(5, 1).server().suite(kEnterprise),
               "Microsoft " "  Windows XP " "  Professional"},
    VersionRow{"W2kProfessional", Host(5, 0).workstation(),
               "Microsoft " "  Windows 2000 " "  Professional"},
    VersionRow{"W2kWorkstationIgnoresSuite", Host(5, 0).workstation().suite(kDatacenter | kEnterprise),
               "Microsoft " "  Windows 2000 " "  Professional"},
    VersionRow{"W2kDatacenter", Host(5, 0).server().suite(kDatacenter | kEnterprise),
               "Microsoft " "  Windows 2000 " "  Datacenter Server"},
    VersionRow{"W2kAdvancedServer", Host(5, 0).server().suite(kEnterprise),
               "Microsoft " "  Windows 2000 " "  Advanced Server"},
    VersionRow{"W2kServer", Host(5, 0).server().suite(kTerminal),
               "Microsoft " "  Windows 2000 " "  Server"},
    VersionRow{"W2kDomainController", Host(5, 0).domainController(),
               "Microsoft " "  Windows 2000 " "  Server"}),
    rowName<VersionRow>);

// ---------------------------------------------------------------------------
// Unsupported platforms and versions

struct UnsupportedRow {
    const char* name;
    Host host;
};

std::ostream& operator<<(std::ostream& os, const UnsupportedRow& row)
{
    return os << row.name;
}

class UnsupportedVersions : public ::testing::TestWithParam<UnsupportedRow> {};

TEST_P(UnsupportedVersions, AreNotDescribed)
{
    const kiv::OsDescriptionResult result = kiv::describeWindowsVersion(GetParam().host.facts);
    EXPECT_FALSE(result.supported);
    EXPECT_EQ("", result.text);
}

INSTANTIATE_TEST_SUITE_P(Rows, UnsupportedVersions, ::testing::Values(
    UnsupportedRow{"Nt4Workstation", Host(4, 0).workstation()},
    UnsupportedRow{"Nt351Server", Host(3, 51).server()},
    UnsupportedRow{"Windows98", Host(4, 10, kWin32Windows).workstation()},
    UnsupportedRow{"WindowsMe", Host(4, 90, kWin32Windows).workstation()},
    UnsupportedRow{"NotNtEvenWithANewVersion", Host(6, 1, kWin32Windows).workstation().on(kAmd64).product(48)},
    UnsupportedRow{"Win32s", Host(3, 1, kWin32s)},
    UnsupportedRow{"UnknownPlatform", Host(5, 1, 3).workstation()},
    UnsupportedRow{"NothingKnown", Host(0, 0, 0)}),
    rowName<UnsupportedRow>);

// ---------------------------------------------------------------------------
// os-release

struct OsReleaseRow {
    const char* name;
    std::string text;
    unsigned wordBits;
    std::string expected;
};

std::ostream& operator<<(std::ostream& os, const OsReleaseRow& row)
{
    return os << row.name;
}

class OsRelease : public ::testing::TestWithParam<OsReleaseRow> {};

TEST_P(OsRelease, GivesThePrettyNameAndWidth)
{
    const OsReleaseRow& row = GetParam();
    EXPECT_EQ(row.expected, kiv::describeOsRelease(row.text, row.wordBits));
}

const char kDebian[] =
    "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n"
    "NAME=\"Debian GNU/Linux\"\n"
    "VERSION_ID=\"12\"\n"
    "VERSION=\"12 (bookworm)\"\n"
    "VERSION_CODENAME=bookworm\n"
    "ID=debian\n"
    "HOME_URL=\"https://www.debian.org/\"\n";

const char kAlpine[] =
    "NAME=\"Alpine Linux\"\n"
    "ID=alpine\n"
    "VERSION_ID=3.19.1\n"
    "PRETTY_NAME=\"Alpine Linux v3.19\"\n"
    "HOME_URL=\"https://alpinelinux.org/\"\n";

INSTANTIATE_TEST_SUITE_P(Rows, OsRelease, ::testing::Values(
    OsReleaseRow{"DoubleQuoted64", kDebian, 64, "Debian GNU/Linux 12 (bookworm), 64-bit"},
    OsReleaseRow{"DoubleQuoted32", kDebian, 32, "Debian GNU/Linux 12 (bookworm), 32-bit"},
    OsReleaseRow{"NotOnTheFirstLine", kAlpine, 64, "Alpine Linux v3.19, 64-bit"},
    OsReleaseRow{"OtherWidthHasNoFragment", kAlpine, 16, "Alpine Linux v3.19"},
    OsReleaseRow{"WideWidthHasNoFragment", kAlpine, 128, "Alpine Linux v3.19"},
    OsReleaseRow{"ZeroWidthHasNoFragment", kAlpine, 0, "Alpine Linux v3.19"},
    OsReleaseRow{"SingleQuoted", "NAME=Fedora\nPRETTY_NAME='Fedora Linux 39 (Workstation Edition)'\n", 64,
                 "Fedora Linux 39 (Workstation Edition), 64-bit"},
    OsReleaseRow{"Unquoted", "ID=plantos\nPRETTY_NAME=PlantOS\n", 64, "PlantOS, 64-bit"},
    OsReleaseRow{"UnquotedWithBlanksKeepsInnerOnes", "PRETTY_NAME=  Plant OS 2  \n", 64, "Plant OS 2, 64-bit"},
    OsReleaseRow{"UnquotedEscapedBlank", "PRETTY_NAME=Plant\\ OS\n", 64, "Plant OS, 64-bit"},
    OsReleaseRow{"EscapesInDoubleQuotes", "PRETTY_NAME=\"Acme \\\"Plant\\\" \\$5 \\`x\\` a\\\\b\"\n", 64,
                 "Acme \"Plant\" $5 `x` a\\b, 64-bit"},
    OsReleaseRow{"OtherBackslashKeptInDoubleQuotes", "PRETTY_NAME=\"C:\\temp\\new\"\n", 64, "C:\\temp\\new, 64-bit"},
    OsReleaseRow{"NoEscapesInSingleQuotes", "PRETTY_NAME='a\\\"b \"c\" $d'\n", 64, "a\\\"b \"c\" $d, 64-bit"},
    OsReleaseRow{"QuotedBlanksKept", "PRETTY_NAME=\" Plant OS \"\n", 64, " Plant OS , 64-bit"},
    OsReleaseRow{"AdjacentQuotedPartsJoin", "PRETTY_NAME=\"Plant \"'OS'\" 7\"\n", 64, "Plant OS 7, 64-bit"},
    OsReleaseRow{"EqualsAndHashInsideValue", "PRETTY_NAME=\"a=b #1\"\n", 64, "a=b #1, 64-bit"},
    OsReleaseRow{"WindowsLineEndings", "NAME=X\r\nPRETTY_NAME=\"Plant OS\"\r\nID=x\r\n", 64, "Plant OS, 64-bit"},
    OsReleaseRow{"NoFinalNewline", "ID=x\nPRETTY_NAME=\"Plant OS\"", 64, "Plant OS, 64-bit"},
    OsReleaseRow{"LastAssignmentWins", "PRETTY_NAME=\"Old\"\nPRETTY_NAME=\"New\"\n", 64, "New, 64-bit"},
    OsReleaseRow{"BlanksAroundTheKey", "  PRETTY_NAME =\"Plant OS\"\n", 64, "Plant OS, 64-bit"},
    OsReleaseRow{"CommentIsIgnored", "# PRETTY_NAME=\"Commented\"\n#PRETTY_NAME=x\nID=x\n", 64, "Linux, 64-bit"},
    OsReleaseRow{"SimilarKeysAreIgnored", "PRETTY_NAME_EXTRA=\"no\"\nMY_PRETTY_NAME=no\npretty_name=no\n", 64,
                 "Linux, 64-bit"},
    OsReleaseRow{"MissingPrettyName", "NAME=\"Plant\"\nID=plant\n", 64, "Linux, 64-bit"},
    OsReleaseRow{"EmptyPrettyName", "PRETTY_NAME=\"\"\nNAME=Plant\n", 32, "Linux, 32-bit"},
    OsReleaseRow{"NoFile", "", 64, "Linux, 64-bit"},
    OsReleaseRow{"NoFileOtherWidth", "", 8, "Linux"},
    OsReleaseRow{"UnterminatedQuoteTakesTheRestOfTheLine", "PRETTY_NAME=\"Plant OS\nID=x\n", 64, "Plant OS, 64-bit"}),
    rowName<OsReleaseRow>);

}  // namespace
