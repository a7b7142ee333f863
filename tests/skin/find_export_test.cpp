// Export look-up on a synthetic export table: the ordinal rule, the name
// walk and its bounds.
#include "fake_platform.h"
#include "pe_builder.h"
#include "skin/loader.h"
#include "skin/memory_module.h"

#include <gtest/gtest.h>

using namespace kestrova::skin;
using namespace kestrova::skin::testing;

namespace {

// Ordinals 5 to 8 at 0x1000, 0x1010, 0 and 0x1030. Names, one after the
// other: "Alpha" (5), "012" (6), "Gamma" (7, address 0), "Gamma" (8). Only
// the first name pointer is valid: the walk must not read the others.
struct ExportImage {
    PeSpec spec;
    Blob table{0x200};

    explicit ExportImage(std::uint32_t name_count = 4) {
        spec.characteristics = 0x0102;
        table.put32(16, 5);
        table.put32(20, 4);
        table.put32(24, name_count);
        table.put32(28, 0x2040);
        table.put32(32, 0x2060);
        table.put32(36, 0x2080);
        table.put32(0x40, 0x1000);
        table.put32(0x44, 0x1010);
        table.put32(0x48, 0);
        table.put32(0x4C, 0x1030);
        table.put32(0x60, 0x20A0);
        table.put32(0x64, 0xDEADBEEF);
        for (std::uint16_t j = 0; j < 4; ++j)
            table.put16(0x80 + 2 * j, j);
        table.put_text(0xA0, "Alpha");
        table.put_text(0xA6, "012");
        table.put_text(0xAA, "Gamma");
        table.put_text(0xB0, "Gamma");
    }

    std::vector<std::byte> build(std::uint32_t directory_size = 0xC0) {
        spec.sections.push_back({0x2000, 0x200, table, {}, {}});
        spec.directories[export_directory] = {0x2000, directory_size};
        return build_image(spec);
    }
};

} // namespace

TEST(FindExport, ByNameAndByOrdinal) {
    FakePlatform platform;
    MemoryModule module(platform);
    ASSERT_TRUE(module.load(ExportImage().build()));
    const Address base = module.base;
    const struct {
        std::string_view name;
        Address expected;
    } cases[] = {
        {"Alpha", base + 0x1000},
        {"alpha", 0}, // case differs
        {"ALPHA", 0},
        {"5", base + 0x1000}, // ordinal 5 = Base
        {"6", base + 0x1010},
        {"012", base + 0x1010},   // leading zero: a name
        {"06", 0},                // leading zero: a name nobody has
        {"7", 0},                 // ordinal whose address is 0
        {"Gamma", base + 0x1030}, // the first match has address 0: walk on
        {"8", base + 0x1030},
        {"4", 0}, // below Base
        {"9", 0}, // past NumberOfFunctions
        {"-1", 0},
        {"+5", 0}, // not written as the system writes 5
        {" 5", 0},
        {"2147483648", 0}, // beyond 32 bits: a name
        {"", 0},
        {"Missing", 0},
        {std::string_view("Alpha\0tail", 10), base + 0x1000}, // a text ends at NUL
    };
    for (const auto& c : cases)
        EXPECT_EQ(module.find_export(c.name), c.expected) << '"' << c.name << '"';
}

TEST(FindExport, MissesWithoutADirectoryOrWhenTablesLieOutside) {
    FakePlatform platform;
    MemoryModule no_directory(platform);
    ASSERT_TRUE(no_directory.load(ExportImage().build(0)));
    EXPECT_EQ(no_directory.find_export("Alpha"), 0u);
    EXPECT_EQ(no_directory.find_export("5"), 0u);

    ExportImage outside;
    outside.table.put32(28, 0x7FFF0000); // function table
    MemoryModule module(platform);
    ASSERT_TRUE(module.load(outside.build()));
    EXPECT_EQ(module.find_export("Alpha"), 0u);
    EXPECT_EQ(module.find_export("5"), 0u);
}

TEST(FindExport, TheNameWalkEndsAtTheReservation) {
    // A name count far beyond the names: the walk runs on over zero bytes
    // (empty names) and must stop at the end of the reservation.
    FakePlatform platform;
    MemoryModule module(platform);
    ASSERT_TRUE(module.load(ExportImage(0x7FFFFFFF).build()));
    EXPECT_EQ(module.find_export("Missing"), 0u);
    EXPECT_EQ(module.find_export("Gamma"), module.base + 0x1030);
}

TEST(ListExports, NamesEachExportThroughTheNamePointerTable) {
    ExportImage image;
    image.table.put32(0x64, 0x20A6); // a valid second pointer for the listing
    image.table.put32(0x68, 0x20AA);
    image.table.put32(0x6C, 0x20B0);
    FakePlatform platform;
    MemoryModule module(platform);
    ASSERT_TRUE(module.load(image.build()));
    std::vector<ExportEntry> entries = list_exports(platform, module.base);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].ordinal, 5u);
    EXPECT_EQ(entries[0].name, "Alpha");
    EXPECT_EQ(entries[0].address, module.base + 0x1000);
    EXPECT_EQ(entries[1].name, "012");
    EXPECT_EQ(entries[2].ordinal, 8u);
    EXPECT_EQ(entries[2].name, "Gamma");
}
