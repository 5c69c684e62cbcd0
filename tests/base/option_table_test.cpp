// The grammar of a program with command words, and what its table writes
// (the service's, without commands, is tried in service_options_test.cpp).
#include "base/option_table.h"

#include <gtest/gtest.h>

namespace {

const kiv::ProgramOptions kProgram = {
    "tool",
    {"send", "listen"},
    {{"send", {"send"}, {{"to", "ADDR", true, "where to-"}, {"count", "N", false, "how many"}}},
     {nullptr, {"send", "listen"}, {{"quiet", nullptr, false, "less"}, {"interface-address", "ADDR", false, "x"}}}},
    "",
    "Usage: tool COMMAND\n\n",
    ""};

std::string refusal(const std::vector<std::string>& arguments)
{
    try {
        kiv::parseOptions(kProgram, arguments);
    } catch (const kiv::OptionError& error) {
        return error.what();
    }
    return "(taken)";
}

TEST(OptionTable, CommandWordThenItsOptionsInBothForms)
{
    const kiv::ParsedOptions parsed =
        kiv::parseOptions(kProgram, {"send", "a", "--to=10.0.0.1", "--count", "-3", "--to", "10.0.0.2", "--quiet", "--", "--b"});
    EXPECT_EQ("send", parsed.command);
    EXPECT_EQ((std::vector<std::string>{"10.0.0.1", "10.0.0.2"}), parsed.values("to"));
    EXPECT_EQ("-3", parsed.value("count"));
    EXPECT_TRUE(parsed.has("quiet"));
    EXPECT_EQ((std::vector<std::string>{"a", "--b"}), parsed.positional);
    EXPECT_TRUE(kiv::parseOptions(kProgram, {"listen", "--help", "--bogus"}).help);
    EXPECT_TRUE(kiv::parseOptions(kProgram, {"--version"}).version);
}

TEST(OptionTable, RefusalsSayWhatIsWrong)
{
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{}, "no command given (send or listen)"},
        {{"sned"}, "unknown command 'sned' (send or listen)"},
        {{"--count", "3", "send"}, "the command comes first (send or listen), then '--count' (--help lists the options)"},
        {{"listen", "--count=3"}, "listen takes no option '--count' (--help lists the options)"},
        {{"send", "--count"}, "--count needs a value"},
        {{"send", "--count", "--quiet"}, "--count needs a value"},
        {{"send", "--count=1", "--count=2"}, "--count is given twice"},
        {{"send", "--quiet=yes"}, "--quiet takes no value"},
    };
    for (const auto& [arguments, expected] : cases)
        EXPECT_EQ(expected, refusal(arguments)) << ::testing::PrintToString(arguments);
}

TEST(OptionTable, HelpAndManualPageFromTheTable)
{
    const std::string help = kiv::helpText(kProgram);
    EXPECT_NE(std::string::npos, help.find("send:\n  --to ADDR           where to-\n")) << help;
    EXPECT_NE(std::string::npos, help.find("  --interface-address ADDR\n                      x\n")) << help;
    EXPECT_NE(std::string::npos, help.find("  --help              List the options")) << help;
    const std::string man = kiv::manOptions(kProgram);
    EXPECT_NE(std::string::npos, man.find(".SS \"send\"\n.TP\n.BI \"\\-\\-to \" \"ADDR\"\nwhere to\\-\n")) << man;
}

}  // namespace
