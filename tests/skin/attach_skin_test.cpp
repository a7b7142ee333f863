// attach_skin's call into the engine, observed on a scripted platform: the
// six arguments and four zero words, the empty text as address 0, and the
// export's result handed back unchanged.
#include "fake_platform.h"
#include "pe_builder.h"
#include "skin/call.h"
#include "skin/loader.h"
#include "skin/skin_step.h"

#include <cstring>
#include <gtest/gtest.h>

using namespace kestrova::skin;
using namespace kestrova::skin::testing;

namespace {

// An image whose one export, "SkinH_AttachRes", sits at 0x1000.
std::vector<std::byte> engine_like_image() {
    PeSpec spec;
    spec.characteristics = 0x0102;
    Blob table(0x100);
    table.put32(16, 1);
    table.put32(20, 1);
    table.put32(24, 1);
    table.put32(28, 0x2040);
    table.put32(32, 0x2050);
    table.put32(36, 0x2060);
    table.put32(0x40, 0x1000);
    table.put32(0x50, 0x2080);
    table.put16(0x60, 0);
    table.put_text(0x80, "SkinH_AttachRes");
    spec.sections.push_back({0x2000, 0x100, table, {}, {}});
    spec.directories[export_directory] = {0x2000, 0x100};
    return build_image(spec);
}

struct Engine {
    FakePlatform platform;
    MemoryModule module{platform};
    std::span<const std::byte> skin;
    std::string text_seen;

    Engine() {
        EXPECT_TRUE(module.load(engine_like_image()));
        Address at = platform.memory.reserve(0, 8);
        std::memcpy(host_pointer(at), ".SHE\0\3ab", 8);
        skin = {host_pointer(at), 8};
        platform.fallback = [this](Address, const CallWords& words) -> std::uint32_t {
            if (words[2] != 0)
                text_seen = reinterpret_cast<const char*>(host_pointer(words[2]));
            return 0xC0FFEE;
        };
    }
};

} // namespace

TEST(AttachSkin, PassesTheSkinAndZeroWordsAndReturnsTheResult) {
    Engine engine;
    EXPECT_EQ(attach_skin(engine.module, engine.skin), 0xC0FFEEu);
    ASSERT_EQ(engine.platform.calls.size(), 1u);
    const FakePlatform::Call& call = engine.platform.calls[0];
    EXPECT_EQ(call.routine, engine.module.base + 0x1000);
    EXPECT_EQ(call.words, (CallWords{bytes_address(engine.skin), 8, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(AttachSkin, HandsATextOverAsAnAddressOnlyWhenItIsNotEmpty) {
    Engine engine;
    std::size_t blocks = engine.platform.memory.blocks().size();
    EXPECT_EQ(attach_skin(engine.module, engine.skin, "secret", 1, 2, 3), 0xC0FFEEu);
    const CallWords& words = engine.platform.calls.at(0).words;
    EXPECT_NE(words[2], 0u);
    EXPECT_EQ(engine.text_seen, "secret");
    EXPECT_EQ((std::array{words[3], words[4], words[5], words[6]}),
              (std::array<std::uint32_t, 4>{1, 2, 3, 0}));
    // A copy made for the call is given back afterwards.
    EXPECT_EQ(engine.platform.memory.blocks().size(), blocks);
    EXPECT_EQ(text_address(std::string()), 0u);
    EXPECT_EQ(bytes_address({}), 0u);
}

TEST(AttachSkin, CallsNothingWithoutTheExport) {
    FakePlatform platform;
    MemoryModule empty(platform);
    EXPECT_EQ(attach_skin(empty, {}), 0u);
    EXPECT_TRUE(platform.calls.empty());
}
