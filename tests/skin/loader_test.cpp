// The loader on synthetic images, with a scripted platform: header checks,
// the size pass, copying, relocation, import binding and the entry routine.
#include "fake_platform.h"
#include "pe_builder.h"
#include "skin/loader.h"
#include "skin/memory_module.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>

using namespace kestrova::skin;
using namespace kestrova::skin::testing;

namespace {

constexpr std::uint16_t not_a_dll = 0x0102;

std::uint32_t word_at(Address address) {
    std::uint32_t value;
    std::memcpy(&value, host_pointer(address), 4);
    return value;
}

// A page-aligned low address that is free right now, so an image can be
// given it as its preferred base.
Address free_low_address(std::uint32_t size) {
    LowMemory probe;
    Address base = probe.reserve(0, size);
    probe.release(base);
    return base;
}

// A DLL with one section of 0x200 patterned bytes at 0x1000.
PeSpec data_image() {
    PeSpec spec;
    spec.image_base = free_low_address(0x3000);
    SectionSpec data{0x1000, 0x200, Blob(0x200), {}, {}};
    for (std::size_t i = 0; i < data.raw.bytes.size(); ++i)
        data.raw.bytes[i] = static_cast<std::byte>(i % 251 + 1);
    spec.sections.push_back(data);
    return spec;
}

bool loads(FakePlatform& platform, const std::vector<std::byte>& image) {
    MemoryModule module(platform);
    return module.load(image);
}

bool has_event(const FakePlatform& platform, std::string_view event) {
    return std::find(platform.events.begin(), platform.events.end(), event) !=
           platform.events.end();
}

} // namespace

TEST(AlignUp, RoundsUpToTheAlignment) {
    const struct {
        std::int64_t value, alignment, expected;
    } cases[] = {
        {0x1234, 0x1000, 0x2000},
        {0x2000, 0x1000, 0x2000},
        {0, 0x1000, 0},
        {0x1234, 0, 0},
        {1, 1, 1},
        {-5, 4, -4},
        {0x1001, 0x200, 0x1200},
        {0x7FFFFFFF, 0x1000, 0x80000000},
    };
    for (const auto& c : cases)
        EXPECT_EQ(align_up(c.value, c.alignment), c.expected)
            << c.value << " aligned to " << c.alignment;
}

TEST(LoadImage, RefusesBrokenHeadersBeforeReservingAnything) {
    const PeSpec spec = data_image();
    const std::vector<std::byte> good = build_image(spec);
    const std::size_t nt = static_cast<std::size_t>(spec.e_lfanew);
    const struct {
        const char* what;
        std::function<void(Blob&)> spoil;
    } cases[] = {
        {"shorter than 64 bytes", [](Blob& b) { b.bytes.resize(63); }},
        {"bad magic", [](Blob& b) { b.bytes[1] = std::byte{'X'}; }},
        {"e_lfanew negative", [](Blob& b) { b.put32(60, 0xFFFFFFF0); }},
        {"e_lfanew past the end", [&](Blob& b) { b.put32(60, std::uint32_t(b.bytes.size())); }},
        {"NT headers cut off", [&](Blob& b) { b.bytes.resize(nt + 247); }},
        {"bad signature", [&](Blob& b) { b.put32(nt, 0x00014550); }},
        {"not an executable image", [&](Blob& b) { b.put16(nt + 22, 0x2100); }},
        {"section table cut off", [&](Blob& b) { b.bytes.resize(section_table_end(spec) - 1); }},
        {"size 0",
         [&](Blob& b) {
             b.put16(nt + 6, 0);
             b.put32(nt + 80, 0);
         }},
    };
    for (const auto& c : cases) {
        Blob image;
        image.bytes = good;
        c.spoil(image);
        FakePlatform platform;
        EXPECT_FALSE(loads(platform, image.bytes)) << c.what;
        EXPECT_TRUE(platform.events.empty()) << c.what;
    }
    FakePlatform platform;
    EXPECT_TRUE(loads(platform, good));
}

TEST(LoadImage, AcceptsAnImageEndingExactlyAtItsSectionTable) {
    PeSpec spec = data_image();
    spec.sections[0].raw.bytes.clear();
    spec.sections[0].virtual_size = 0x100;
    std::vector<std::byte> image = build_image(spec);
    ASSERT_EQ(image.size(), section_table_end(spec));
    FakePlatform platform;
    MemoryModule module(platform);
    ASSERT_TRUE(module.load(image));
    EXPECT_EQ(platform.reserved_size(module.base), 0x3000u);
    EXPECT_EQ(std::memcmp(host_pointer(module.base), image.data(), image.size()), 0);
}

TEST(LoadImage, CopiesHeadersAndSectionsButNothingAtAddressZero) {
    PeSpec spec = data_image();
    SectionSpec at_zero{0, 0x200, Blob(0x200), {}, {}};
    std::fill(at_zero.raw.bytes.begin(), at_zero.raw.bytes.end(), std::byte{0xEE});
    spec.sections.insert(spec.sections.begin(), at_zero);
    SectionSpec no_raw{0x2000, 0x100, Blob(0x10), 0u, {}}; // bytes in the file, none to copy
    std::fill(no_raw.raw.bytes.begin(), no_raw.raw.bytes.end(), std::byte{0xDD});
    spec.sections.push_back(no_raw);
    std::vector<std::byte> image = build_image(spec);
    FakePlatform platform;
    MemoryModule module(platform);
    ASSERT_TRUE(module.load(image));
    const std::byte* mapped = host_pointer(module.base);
    std::size_t headers = section_table_end(spec);
    EXPECT_EQ(std::memcmp(mapped, image.data(), headers), 0);
    EXPECT_TRUE(std::all_of(mapped + headers, mapped + 0x1000,
                            [](std::byte b) { return b == std::byte{0}; }));
    EXPECT_EQ(std::memcmp(mapped + 0x1000, spec.sections[1].raw.bytes.data(), 0x200), 0);
    EXPECT_TRUE(std::all_of(mapped + 0x2000, mapped + 0x2100,
                            [](std::byte b) { return b == std::byte{0}; }));
}

TEST(LoadImage, SizePassCoversRawDataAndVirtualSizeBeyondSizeOfImage) {
    const struct {
        std::uint32_t size_of_image, virtual_size, raw_size, alignment, expected;
    } cases[] = {
        {0x2000, 0x100, 0x1800, 0x1000, 0x3000}, // raw data past SizeOfImage
        {0x2000, 0x3000, 0x200, 0x1000, 0x4000}, // VirtualSize past SizeOfImage
        {0x5000, 0x100, 0x200, 0x1000, 0x5000},  // SizeOfImage covers all
        {0x2000, 0x100, 0x1800, 0x800, 0x2800},
    };
    for (const auto& c : cases) {
        PeSpec spec = data_image();
        spec.size_of_image = c.size_of_image;
        spec.section_alignment = c.alignment;
        spec.sections[0].virtual_size = c.virtual_size;
        spec.sections[0].raw = Blob(c.raw_size);
        spec.sections[0].raw.bytes.back() = std::byte{0x5A};
        FakePlatform platform;
        MemoryModule module(platform);
        ASSERT_TRUE(module.load(build_image(spec))) << c.expected;
        EXPECT_EQ(platform.reserved_size(module.base), c.expected);
        EXPECT_EQ(*host_pointer(module.base + 0x1000 + c.raw_size - 1), std::byte{0x5A});
        module.unload();
    }
}

TEST(LoadImage, RawDataOutsideTheFileOrTheReservationFailsAndReleases) {
    PeSpec beyond_file = data_image();
    beyond_file.sections[0].pointer_to_raw_data = 0x10000;
    PeSpec unaligned = data_image(); // alignment 0: the size pass adds nothing
    unaligned.section_alignment = 0;
    unaligned.size_of_image = 0x1100;
    for (const PeSpec& spec : {beyond_file, unaligned}) {
        FakePlatform platform;
        EXPECT_FALSE(loads(platform, build_image(spec)));
        EXPECT_TRUE(has_event(platform, "reserve"));
        EXPECT_TRUE(platform.memory.blocks().empty());
    }
}

namespace {

// Data words at 0x1000 and relocation blocks at 0x2000.
struct RelocationImage {
    PeSpec spec = data_image();
    Blob blocks;

    RelocationImage() {
        spec.characteristics = not_a_dll;
        Blob& data = spec.sections[0].raw;
        data.put32(0x0, spec.image_base + 0x1000); // HIGHLOW
        data.put32(0x4, 0x11111111);               // type 0
        data.put32(0x8, 0x22222222);               // type 10
        data.put32(0xC, 0x33333333);               // behind the zero page RVA
    }

    void add_block(std::uint32_t page, std::uint32_t size, std::vector<std::uint16_t> entries) {
        std::size_t at = blocks.bytes.size();
        blocks.put32(at, page);
        blocks.put32(at + 4, size);
        for (std::size_t k = 0; k < entries.size(); ++k)
            blocks.put16(at + 8 + 2 * k, entries[k]);
    }

    std::vector<std::byte> build(std::uint32_t directory_size = 0) {
        auto size = static_cast<std::uint32_t>(blocks.bytes.size());
        spec.sections.push_back({0x2000, size, blocks, {}, {}});
        spec.directories[relocation_directory] = {0x2000, directory_size ? directory_size : size};
        return build_image(spec);
    }
};

// Loads where the preferred base is taken, so every HIGHLOW word moves.
Address load_moved(FakePlatform& platform, const std::vector<std::byte>& image, Address preferred) {
    Address blocker = platform.memory.reserve(preferred, 0x1000);
    MemoryModule module(platform);
    module.load(image);
    platform.memory.release(blocker);
    return module.base;
}

} // namespace

TEST(Relocations, MoveHighLowWordsOnlyAndStopAtAZeroPage) {
    RelocationImage r;
    r.add_block(0x1000, 16, {0x3000, 0x0004, 0xA008, 0x0000});
    r.add_block(0, 0, {});
    r.add_block(0x1000, 10, {0x300C});
    std::vector<std::byte> image = r.build();
    FakePlatform platform;
    Address base = load_moved(platform, image, r.spec.image_base);
    ASSERT_NE(base, 0u);
    ASSERT_NE(base, r.spec.image_base);
    EXPECT_EQ(word_at(base + 0x1000), base + 0x1000);
    EXPECT_EQ(word_at(base + 0x1004), 0x11111111u);
    EXPECT_EQ(word_at(base + 0x1008), 0x22222222u);
    EXPECT_EQ(word_at(base + 0x100C), 0x33333333u);
}

TEST(Relocations, LeaveWordsAloneAtThePreferredBase) {
    RelocationImage r;
    r.add_block(0x1000, 10, {0x3000});
    FakePlatform platform;
    MemoryModule module(platform);
    ASSERT_TRUE(module.load(r.build()));
    ASSERT_EQ(module.base, r.spec.image_base);
    EXPECT_EQ(word_at(module.base + 0x1000), r.spec.image_base + 0x1000);
}

TEST(Relocations, EndAtTheEndOfTheirDirectory) {
    RelocationImage r;
    r.add_block(0x1000, 10, {0x3000});
    r.add_block(0x1000, 10, {0x3004}); // outside the directory's 10 bytes
    FakePlatform platform;
    Address base = load_moved(platform, r.build(10), r.spec.image_base);
    ASSERT_NE(base, 0u);
    EXPECT_EQ(word_at(base + 0x1000), base + 0x1000);
    EXPECT_EQ(word_at(base + 0x1004), 0x11111111u);
}

TEST(Relocations, AWalkThatCannotEndOrLeavesItsBoundsFailsTheLoad) {
    const struct {
        const char* what;
        std::uint32_t page, size;
        std::vector<std::uint16_t> entries;
        std::uint32_t directory_size;
    } cases[] = {
        {"SizeOfBlock 0", 0x1000, 0, {0x3000}, 0},
        {"SizeOfBlock negative", 0x1000, 0xFFFFFFF8, {0x3000}, 0},
        {"block longer than its directory", 0x1000, 12, {0x3000, 0x3004}, 10},
        {"word outside the reservation", 0x2FF0, 10, {0x300E}, 0},
    };
    for (const auto& c : cases) {
        RelocationImage r;
        r.add_block(c.page, c.size, c.entries);
        FakePlatform platform;
        EXPECT_EQ(load_moved(platform, r.build(c.directory_size), r.spec.image_base), 0u) << c.what;
        EXPECT_TRUE(platform.memory.blocks().empty()) << c.what;
    }
}

TEST(Relocations, AreNotWalkedWhenTheDirectorySizeIsZero) {
    RelocationImage r;
    r.add_block(0x1000, 0, {0x3000}); // would never end
    std::vector<std::byte> image = r.build();
    Blob patched;
    patched.bytes = image;
    patched.put32(static_cast<std::size_t>(r.spec.e_lfanew) + 120 + 8 * 5 + 4, 0);
    FakePlatform platform;
    Address base = load_moved(platform, patched.bytes, r.spec.image_base);
    ASSERT_NE(base, 0u);
    EXPECT_EQ(word_at(base + 0x1000), r.spec.image_base + 0x1000);
}

namespace {

// Two descriptors naming other.dll: Alpha and ordinal 7 through the first,
// Beta through the second; then the terminating descriptor.
struct ImportImage {
    PeSpec spec = data_image();
    Blob table{0x300};
    std::uint32_t directory_size = 60;

    ImportImage() {
        spec.characteristics = not_a_dll;
        table.put32(0x00 + 12, 0x2100);
        table.put32(0x00 + 16, 0x2080);
        table.put32(0x14 + 12, 0x2100);
        table.put32(0x14 + 16, 0x20A0);
        table.put32(0x80, 0x2200);
        table.put32(0x84, 0x80000007);
        table.put32(0xA0, 0x2210);
        table.put_text(0x100, "other.dll");
        table.put_text(0x202, "Alpha");
        table.put_text(0x212, "Beta");
    }

    std::vector<std::byte> build() {
        spec.sections.push_back({0x2000, 0x300, table, {}, {}});
        spec.directories[import_directory] = {0x2000, directory_size};
        return build_image(spec);
    }
};

constexpr Address resolver = 0x7000;

std::string text_at(Address address) {
    return reinterpret_cast<const char*>(host_pointer(address));
}

} // namespace

TEST(Imports, BindByNameAndOrdinalThroughThePlatform) {
    ImportImage i;
    FakePlatform platform;
    platform.add_library("other.dll", 0x99, {{"Alpha", 0x1111}, {"#7", 0x7777}, {"Beta", 0x2222}});
    MemoryModule module(platform);
    ASSERT_TRUE(module.load(i.build()));
    EXPECT_EQ(word_at(module.base + 0x2080), 0x1111u);
    EXPECT_EQ(word_at(module.base + 0x2084), 0x7777u);
    EXPECT_EQ(word_at(module.base + 0x20A0), 0x2222u);
    // Every descriptor loads its library again.
    EXPECT_EQ(platform.loaded_libraries, (std::vector<std::string>{"other.dll", "other.dll"}));
    EXPECT_TRUE(platform.calls.empty());
}

TEST(Imports, TheResolverIsAskedFirstAndItsAnswerWins) {
    ImportImage i;
    FakePlatform platform;
    platform.add_library("other.dll", 0x99, {{"Alpha", 0x1111}, {"#7", 0x7777}, {"Beta", 0x2222}});
    std::vector<std::string> asked;
    platform.code[resolver] = [&](const CallWords& w) -> std::uint32_t {
        asked.push_back(text_at(w[0]) + " " + text_at(w[1]) + " " + std::to_string(w[2]));
        return text_at(w[1]) == "7" ? 0 : 0x5000 + static_cast<std::uint32_t>(asked.size());
    };
    MemoryModule module(platform);
    ASSERT_TRUE(module.load(i.build(), resolver, 1234));
    EXPECT_EQ(asked, (std::vector<std::string>{"other.dll Alpha 1234", "other.dll 7 1234",
                                               "other.dll Beta 1234"}));
    // Alpha and Beta come from the resolver; only the ordinal, which it did
    // not supply, is looked up.
    EXPECT_EQ(word_at(module.base + 0x2080), 0x5001u);
    EXPECT_EQ(word_at(module.base + 0x2084), 0x7777u);
    EXPECT_EQ(word_at(module.base + 0x20A0), 0x5003u);
    EXPECT_EQ(platform.lookups, 1);
    EXPECT_TRUE(has_event(platform, "find #7"));
    // The by-name text is the hint/name entry inside the image.
    EXPECT_EQ(platform.calls[0].words[1], module.base + 0x2202);
}

TEST(Imports, AnImportNobodySuppliesFailsTheLoadAndReleasesTheMemory) {
    ImportImage i;
    FakePlatform platform;
    platform.add_library("other.dll", 0x99, {{"Alpha", 0x1111}, {"#7", 0x7777}});
    EXPECT_FALSE(loads(platform, i.build()));
    EXPECT_TRUE(has_event(platform, "find Beta"));
    EXPECT_TRUE(platform.memory.blocks().empty());
    EXPECT_EQ(platform.loaded_libraries.size(), 2u); // loaded ones stay (nothing unloads them)

    FakePlatform unknown_library;
    EXPECT_FALSE(loads(unknown_library, ImportImage().build()));
    EXPECT_TRUE(unknown_library.memory.blocks().empty());
}

TEST(Imports, AWalkLeavingItsDirectoryOrTheImageFailsTheLoad) {
    ImportImage short_directory; // the terminator lies outside
    short_directory.directory_size = 40;
    ImportImage name_outside;
    name_outside.table.put32(0x80, 0x7FFFF000);
    ImportImage endless_table; // no zero entry before the reservation ends
    endless_table.table.put32(0x14 + 16, 0x2280);
    for (std::size_t at = 0x280; at < 0x300; at += 4)
        endless_table.table.put32(at, 0x2210);
    endless_table.spec.size_of_image = 0x2300;
    endless_table.spec.section_alignment = 0x100;
    for (ImportImage* i : {&short_directory, &name_outside, &endless_table}) {
        FakePlatform platform;
        platform.add_library("other.dll", 0x99,
                             {{"Alpha", 0x1111}, {"#7", 0x7777}, {"Beta", 0x2222}});
        EXPECT_FALSE(loads(platform, i->build()));
        EXPECT_TRUE(platform.memory.blocks().empty());
    }
}

namespace {

PeSpec dll_with_entry(std::uint32_t entry) {
    PeSpec spec = data_image();
    spec.address_of_entry_point = entry;
    return spec;
}

} // namespace

TEST(EntryRoutine, AttachesOnLoadAndDetachesOnUnload) {
    FakePlatform platform;
    MemoryModule module(platform);
    ASSERT_TRUE(module.load(build_image(dll_with_entry(0x1010))));
    Address entry = module.base + 0x1010;
    EXPECT_EQ(module.entry_point_address(), entry);
    ASSERT_EQ(platform.calls.size(), 1u);
    EXPECT_EQ(platform.calls[0].routine, entry);
    EXPECT_EQ(platform.calls[0].words, (CallWords{0, 1, 0}));
    ASSERT_TRUE(module.unload());
    ASSERT_EQ(platform.calls.size(), 2u);
    EXPECT_EQ(platform.calls[1].words, (CallWords{0, 0, 0}));
    EXPECT_EQ(module.base, 0u);
    EXPECT_TRUE(platform.memory.blocks().empty());
}

TEST(EntryRoutine, ARefusalIsAnsweredWithDetachAndTheMemoryIsReleased) {
    FakePlatform platform;
    platform.default_result = 0;
    MemoryModule module(platform);
    EXPECT_FALSE(module.load(build_image(dll_with_entry(0x1010))));
    ASSERT_EQ(platform.calls.size(), 2u);
    EXPECT_EQ(platform.calls[0].words, (CallWords{0, 1, 0}));
    EXPECT_EQ(platform.calls[1].words, (CallWords{0, 0, 0}));
    EXPECT_EQ(platform.calls[0].routine, platform.calls[1].routine);
    EXPECT_EQ(platform.events.back(), "release");
    EXPECT_TRUE(platform.memory.blocks().empty());
    EXPECT_EQ(module.base, 0u);
}

TEST(EntryRoutine, RunsOnlyForADllThatHasOneInsideTheImage) {
    PeSpec exe = dll_with_entry(0x1010);
    exe.characteristics = not_a_dll;
    PeSpec no_entry = dll_with_entry(0);
    for (const PeSpec& spec : {exe, no_entry}) {
        FakePlatform platform;
        MemoryModule module(platform);
        ASSERT_TRUE(module.load(build_image(spec)));
        ASSERT_TRUE(module.unload());
        EXPECT_TRUE(platform.calls.empty());
    }
    FakePlatform platform;
    EXPECT_FALSE(loads(platform, build_image(dll_with_entry(0x3000))));
    EXPECT_TRUE(platform.calls.empty());
    EXPECT_TRUE(platform.memory.blocks().empty());
}

TEST(EntryRoutine, RunsLastOnceEverythingIsBound) {
    ImportImage i;
    i.spec.characteristics = 0x2102;
    i.spec.address_of_entry_point = 0x1010;
    FakePlatform platform;
    platform.add_library("other.dll", 0x99, {{"Alpha", 0x1111}, {"#7", 0x7777}, {"Beta", 0x2222}});
    std::uint32_t last_import_at_attach = 0;
    platform.fallback = [&](Address entry, const CallWords&) -> std::uint32_t {
        last_import_at_attach = word_at(entry - 0x1010 + 0x20A0);
        return 1;
    };
    MemoryModule module(platform);
    ASSERT_TRUE(module.load(i.build()));
    EXPECT_EQ(platform.events.back(), "run");
    EXPECT_EQ(last_import_at_attach, 0x2222u);
}

TEST(MemoryModuleState, LoadOnALoadedObjectUnloadsTheOldImageFirst) {
    FakePlatform platform;
    MemoryModule module(platform);
    ASSERT_TRUE(module.load(build_image(dll_with_entry(0x1010))));
    Address old_base = module.base;
    platform.events.clear();
    platform.calls.clear();
    ASSERT_TRUE(module.load(build_image(dll_with_entry(0x1020))));
    ASSERT_GE(platform.events.size(), 3u);
    EXPECT_EQ(platform.events[0], "run");
    EXPECT_EQ(platform.calls[0].routine, old_base + 0x1010);
    EXPECT_EQ(platform.calls[0].words, (CallWords{0, 0, 0}));
    EXPECT_EQ(platform.events[1], "release");
    EXPECT_EQ(platform.events[2], "reserve");
    EXPECT_EQ(platform.memory.blocks().size(), 1u);
    EXPECT_EQ(module.entry_point_address(), module.base + 0x1020);

    std::vector<std::byte> broken(10);
    EXPECT_FALSE(module.load(broken));
    EXPECT_EQ(module.base, 0u);
    EXPECT_TRUE(platform.memory.blocks().empty());
}

TEST(MemoryModuleState, UnloadKeepsAnImageWhoseHeadersWereDamaged) {
    FakePlatform platform;
    MemoryModule module(platform);
    ASSERT_TRUE(module.load(build_image(dll_with_entry(0x1010))));
    Address base = module.base;
    host_pointer(base)[0] = std::byte{'X'};
    EXPECT_FALSE(module.unload());
    EXPECT_EQ(module.base, base);
    EXPECT_EQ(platform.reserved_size(base), 0x3000u);
    EXPECT_EQ(platform.calls.size(), 1u); // no detach
    host_pointer(base)[0] = std::byte{'M'};
    EXPECT_TRUE(module.unload());
    EXPECT_EQ(module.base, 0u);
    EXPECT_TRUE(module.unload()); // empty: nothing to do
    EXPECT_EQ(platform.calls.size(), 2u);
}

TEST(MemoryModuleState, CopiesShareTheMappingAndDestructionLeavesItAlone) {
    FakePlatform platform;
    Address base = 0;
    {
        MemoryModule module(platform);
        ASSERT_TRUE(module.load(build_image(dll_with_entry(0x1010))));
        base = module.base;
        std::unique_ptr<MemoryModule> copy = module.copy();
        EXPECT_EQ(copy->base_address(), base);
        EXPECT_EQ(copy->entry_point_address(), base + 0x1010);
    }
    EXPECT_EQ(platform.calls.size(), 1u); // attach only
    EXPECT_EQ(platform.reserved_size(base), 0x3000u);
    MemoryModule empty(platform);
    EXPECT_EQ(empty.find_export("1"), 0u);
    EXPECT_EQ(empty.entry_point_address(), 0u);
    EXPECT_EQ(empty.base_address(), 0u);
    platform.memory.release(base);
}
