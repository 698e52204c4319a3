// Tests of reading configuration files (bounds, non-regular files, reasons) and of what the two
// build commands say about suspicious configurations.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "codec/Texts.h"
#include "trade/ConfigFile.h"
#include "trade/TradeCommands.h"

namespace {

TEST(ConfigFile, RefusesWhatCannotOrShouldNotBeReadWhole) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("tarnwick_config_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto write = [&](const std::string& name, std::size_t size) {
        std::ofstream(dir / name, std::ios::binary) << std::string(size, ' ');
        return (dir / name).string();
    };
    const std::string fifo = (dir / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        const char* name;
        std::string path;
        std::string detail;  // empty: read whole
    };
    const Case cases[] = {
        {"exactly the limit", write("max", kMaxConfigBytes), ""},
        {"one byte more", write("over", kMaxConfigBytes + 1),
         (dir / "over").string() + ": larger than 1048576 bytes"},
        {"missing", (dir / "none.json").string(),
         (dir / "none.json").string() + ": No such file or directory"},
        {"directory", dir.string(), dir.string() + ": Is a directory"},
        {"FIFO without a writer", fifo, fifo + ": not a regular file"},
        {"endless device", "/dev/zero", "/dev/zero: not a regular file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text;
        std::string detail;
        EXPECT_EQ(ReadConfigFile(c.path, text, detail), c.detail.empty());
        EXPECT_EQ(detail, c.detail);
        EXPECT_EQ(text.size(), c.detail.empty() ? kMaxConfigBytes : 0u);
    }
    // Both commands refuse with the system's text and the same detail.
    const CommandResult x = BuildTradeFromXmlFile(fifo);
    EXPECT_EQ(x.error, kTextConfigParseError);
    EXPECT_EQ(x.detail, fifo + ": not a regular file");
    EXPECT_EQ(BuildJsonFromFile("/dev/zero").detail, "/dev/zero: not a regular file");
    std::filesystem::remove_all(dir);
}

TEST(BuildJson, ByteOrderMarkAndParserErrors) {
    EXPECT_EQ(BuildJsonFromText("\xEF\xBB\xBF{\"a\": 1}").message, "1100F1000000{ \"a\": 1 }AC");
    const std::pair<std::string, std::string> cases[] = {
        {"{\"a\": 1,, }", "quoted object property name expected at byte offset 8"},
        {"{\"a\": ", "unexpected end of the text at byte offset 6"},
        {"\xEF\xBB\xBF\xEF\xBB\xBF{}", "unexpected character at byte offset 0"},
        {"null\n", "the top-level value is not an object"},
    };
    for (const auto& [json, detail] : cases) {
        SCOPED_TRACE(json);
        const CommandResult r = BuildJsonFromText(json);
        EXPECT_EQ(r.error, kTextConfigParseError);
        EXPECT_EQ(r.detail, detail);
    }
}

TEST(BuildTradeXml, WarnsAboutSuspiciousPlacesAndBuildsAsBefore) {
    struct Case {
        const char* name;
        std::string body;  // inside the root, which starts on line 1
        std::vector<std::string> warnings;
    };
    // clang-format off
    const Case cases[] = {
        {"clean", "<bit number=\"0\" value=\"01\"/><!-- x --><bit number=\"3\" value=\"414243\"/>", {}},
        {"misspelt element", "<bit number=\"0\" value=\"01\"/>\n<bti number=\"3\" value=\"414243\"/>"
                             "<bit number=\"3\" value=\"414243\"/>",
         {"line 2: element <bti> is not <bit>; ignored"}},
        {"misspelt attribute", "<bit number=\"0\" value=\"01\"/><bit number=\"3\" value=\"414243\" "
                               "valeu=\"99\"/>",
         {"line 1: attribute \"valeu\" of <bit> is not number, length or value; ignored"}},
        {"missing number", "<bit value=\"01\"/><bit number=\"3\" value=\"414243\"/>",
         {"line 1: <bit> without a \"number\" attribute reads as 0 (the command code)"}},
        {"non-numeric number", "<bit number=\" 0\" value=\"01\"/><bit number=\"3x\" value=\"414243\"/>",
         {"line 1: number \"3x\" is not a decimal number; it reads as 3"}},
        {"repeated field", "<bit number=\"0\" value=\"01\"/><bit number=\"3\" value=\"FF\"/>\n\n"
                           "<bit number=\"3\" value=\"414243\"/><bit number=\"3\" value=\"\"/>",
         {"line 3: field 3 is given again; this last value is the one built"}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CommandResult r =
            BuildTradeFromXmlText("<orbo8583-build-config>" + c.body + "</orbo8583-build-config>");
        ASSERT_TRUE(r.Ok()) << r.detail;
        EXPECT_EQ(r.message, "1500F1000000012000000000000000000341424386");
        EXPECT_EQ(r.warnings, c.warnings);
    }
}

}  // namespace
