// kestrova-cli pe on the fixture DLLs and the carried skin engine.
#include "cli/pe_command.h"
#include "skin/skin_step.h"
#include "test_images.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <vector>

using namespace kestrova;
using namespace kestrova::skin::testing;

namespace {

struct PeRun {
    int code = -1;
    std::vector<std::string> lines;
    std::string err;
};

PeRun pe(std::vector<std::string> args) {
    std::ostringstream out, err;
    PeRun run;
    run.code = cli::run_pe_command(args, out, err);
    std::istringstream text(out.str());
    for (std::string line; std::getline(text, line);)
        run.lines.push_back(line);
    run.err = err.str();
    return run;
}

bool has_line(const PeRun& run, const std::string& prefix) {
    for (const std::string& line : run.lines)
        if (line.rfind(prefix, 0) == 0)
            return true;
    return false;
}

} // namespace

TEST(PeCommand, ListsAnImage) {
    PeRun run = pe({fixture_path("exports")});
    EXPECT_EQ(run.code, 0);
    ASSERT_FALSE(run.lines.empty());
    EXPECT_EQ(run.lines[0], "loaded: yes");
    EXPECT_TRUE(has_line(run, "base: 0x"));
    EXPECT_TRUE(has_line(run, "entry point: 0x"));
    EXPECT_TRUE(has_line(run, "export: Sum10Std 0x"));
    EXPECT_TRUE(has_line(run, "export: ordinal 9 0x")); // exported without a name
}

TEST(PeCommand, CallsAnExportWithDecimalWords) {
    PeRun run = pe(
        {fixture_path("exports"), "Sum10Std", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10"});
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.lines.front(), "loaded: yes");
    EXPECT_EQ(run.lines.back(), "result: 385");

    EXPECT_EQ(pe({fixture_path("exports"), "6", "-1"}).lines.back(), "result: 4294967295");
    EXPECT_EQ(pe({fixture_path("exports"), "Answer"}).lines.back(), "result: 42");
}

TEST(PeCommand, FailuresAndWrongUsage) {
    PeRun missing_export = pe({fixture_path("exports"), "answer"});
    EXPECT_EQ(missing_export.code, 1);
    EXPECT_NE(missing_export.err.find("export not found: answer"), std::string::npos);
    EXPECT_FALSE(has_line(missing_export, "result:"));

    PeRun not_loaded = pe({fixture_path("needs_other")}); // imports nobody supplies
    EXPECT_EQ(not_loaded.code, 1);
    EXPECT_EQ(not_loaded.lines, (std::vector<std::string>{"loaded: no"}));

    PeRun no_file = pe({"/nonexistent/kestrova.dll"});
    EXPECT_EQ(no_file.code, 1);
    EXPECT_EQ(no_file.lines, (std::vector<std::string>{"loaded: no"}));
    EXPECT_NE(no_file.err.find("cannot read"), std::string::npos);

    const std::vector<std::vector<std::string>> wrong = {
        {},
        {fixture_path("exports"), "Answer", "0x10"},
        {fixture_path("exports"), "Answer", "4294967296"},
        {fixture_path("exports"), "Answer", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10",
         "11"},
    };
    for (const auto& args : wrong) {
        PeRun run = pe(args);
        EXPECT_EQ(run.code, 2);
        EXPECT_TRUE(run.lines.empty());
    }
}

TEST(PeCommand, LoadsTheSkinEngineWhichImportsTheHostLibrary) {
    std::string path = ::testing::TempDir() + "/kestrova_skin_engine.dll";
    {
        std::span<const std::byte> image = skin::skin_engine_image();
        std::ofstream file(path, std::ios::binary);
        file.write(reinterpret_cast<const char*>(image.data()),
                   static_cast<std::streamsize>(image.size()));
    }
    PeRun run = pe({path, "SkinH_AttachRes"});
    EXPECT_EQ(run.lines.front(), "loaded: yes");
    EXPECT_TRUE(has_line(run, "export: SkinH_AttachRes 0x"));
    EXPECT_EQ(run.lines.back(), "result: 0"); // no skin given: refused
    std::remove(path.c_str());
}
