// The loader and the emulator on real PE32 DLLs cross-built from
// fixtures/: relocation, imports through the resolver and the host library,
// the entry routine, exports, and calls with ten arguments.
#include "skin/call.h"
#include "skin/emulated_platform.h"
#include "skin/memory_module.h"
#include "test_images.h"

#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <set>

using namespace kestrova::skin;
using namespace kestrova::skin::testing;

namespace {

constexpr Address exports_preferred_base = 0x35000000;

// The process's platform, with a record of reservations and look-ups.
class SpyPlatform : public PlatformOperations {
public:
    Address reserve(Address address, std::uint64_t size) override {
        Address base = host().reserve(address, size);
        if (base)
            live.insert(base);
        return base;
    }
    bool release(Address base) override {
        bool released = host().release(base);
        if (released)
            live.erase(base);
        return released;
    }
    std::uint32_t reserved_size(Address base) const override { return host().reserved_size(base); }
    std::uint32_t load_library(std::string_view name) override { return host().load_library(name); }
    Address find_routine(std::uint32_t library, const RoutineKey& key) override {
        looked_up.push_back(key.by_ordinal ? "#" + std::to_string(key.ordinal)
                                           : std::string(key.name));
        return host().find_routine(library, key);
    }
    std::uint32_t run_code(Address routine, const CallWords& words) override {
        runs.push_back({routine, words});
        return host().run_code(routine, words);
    }

    std::set<Address> live;
    std::vector<std::string> looked_up;
    std::vector<std::pair<Address, CallWords>> runs;

private:
    static EmulatedPlatform& host() { return emulated_platform(); }
};

std::uint32_t call(const MemoryModule& module, std::string_view name, CallWords words = {}) {
    Address routine = module.find_export(name);
    EXPECT_NE(routine, 0u) << name;
    return routine ? call_by_address(module.platform(), routine, words) : 0;
}

std::uint32_t word_at(Address address) {
    std::uint32_t value;
    std::memcpy(&value, host_pointer(address), 4);
    return value;
}

class RealImages : public ::testing::Test {
protected:
    static void SetUpTestSuite() { install_test_host_routines(); }
    void SetUp() override { host_notes().clear(); }
};

} // namespace

TEST_F(RealImages, RelocatesWhenThePreferredBaseIsTaken) {
    Address blocker = emulated_platform().reserve(exports_preferred_base, 0x1000);
    MemoryModule module;
    bool loaded = module.load(fixture("exports"));
    if (blocker)
        emulated_platform().release(blocker);
    ASSERT_TRUE(loaded);
    EXPECT_NE(module.base, exports_preferred_base);
    Address counter = module.find_export("counter");
    ASSERT_NE(counter, 0u);
    EXPECT_EQ(call(module, "CounterAddress"), counter);
    EXPECT_EQ(word_at(counter), 5u);
    EXPECT_TRUE(module.unload());
}

TEST_F(RealImages, SitsAtItsPreferredBaseWhenThatIsFree) {
    Address probe = emulated_platform().reserve(exports_preferred_base, 0x1000);
    if (probe == 0)
        GTEST_SKIP() << "something else occupies the fixture's preferred base";
    emulated_platform().release(probe);
    MemoryModule module;
    ASSERT_TRUE(module.load(fixture("exports")));
    EXPECT_EQ(module.base, exports_preferred_base);
    EXPECT_EQ(call(module, "CounterAddress"), module.find_export("counter"));
    EXPECT_TRUE(module.unload());
}

TEST_F(RealImages, TheEntryRoutineSeesAttachOnLoadAndDetachOnUnload) {
    SpyPlatform spy;
    MemoryModule module(spy);
    ASSERT_TRUE(module.load(fixture("exports")));
    Address entry = module.entry_point_address();
    EXPECT_EQ(word_at(module.find_export("entry_calls")), 1u);
    EXPECT_EQ(word_at(module.find_export("entry_reasons")), 1u);
    ASSERT_TRUE(module.unload());
    ASSERT_EQ(spy.runs.size(), 2u);
    EXPECT_EQ(spy.runs[0].first, entry);
    EXPECT_EQ(spy.runs[1].first, entry);
    EXPECT_EQ(spy.runs[1].second, (CallWords{0, 0, 0}));
    EXPECT_TRUE(spy.live.empty());
}

TEST_F(RealImages, ExportsByNameAndOrdinal) {
    MemoryModule module;
    ASSERT_TRUE(module.load(fixture("exports")));
    Address answer = module.find_export("Answer");
    ASSERT_NE(answer, 0u);
    EXPECT_EQ(call_by_address(answer), 42u);
    EXPECT_EQ(module.find_export("5"), answer);
    EXPECT_EQ(module.find_export("05"), 0u);
    EXPECT_EQ(module.find_export("answer"), 0u);
    EXPECT_EQ(call(module, "9"), 7u); // exported by ordinal only
    EXPECT_EQ(module.find_export("Hidden"), 0u);
    EXPECT_EQ(module.find_export("18"), 0u);
    EXPECT_TRUE(module.unload());
}

TEST_F(RealImages, TenArgumentsInOrderWithTheStackBalanced) {
    MemoryModule module;
    ASSERT_TRUE(module.load(fixture("exports")));
    const CallWords words{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    std::uint32_t stack = call(module, "StackPointer");
    for (int round = 0; round < 3; ++round) {
        EXPECT_EQ(call(module, "Sum10Std", words), 385u); // removes its arguments
        EXPECT_EQ(call(module, "StackPointer"), stack);
        EXPECT_EQ(call(module, "Sum10Cdecl", words), 386u); // leaves them
        EXPECT_EQ(call(module, "StackPointer"), stack);
    }
    Address sum = module.find_export("Sum10Std");
    EXPECT_EQ(call_by_address(sum, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10), 385u);
    EXPECT_EQ(call_by_address(sum, 1), 1u); // omitted words are 0
    EXPECT_TRUE(module.unload());
}

TEST_F(RealImages, CodeReachesItsThreadEnvironmentBlockThroughFs) {
    MemoryModule module;
    ASSERT_TRUE(module.load(fixture("exports")));
    std::uint32_t teb = call(module, "TebSelf");
    std::uint32_t stack_base = call(module, "TebStackBase");
    std::uint32_t stack_limit = call(module, "TebStackLimit");
    std::uint32_t stack = call(module, "StackPointer");
    EXPECT_NE(teb, 0u);
    EXPECT_EQ(word_at(teb + 0x18), teb);
    EXPECT_LT(stack_limit, stack);
    EXPECT_LT(stack, stack_base);
    EXPECT_TRUE(module.unload());
}

TEST_F(RealImages, RunawayOrFaultingCodeIsStoppedWithResultZero) {
    MemoryModule module;
    ASSERT_TRUE(module.load(fixture("exports")));
    EmulatedPlatform& platform = emulated_platform();
    platform.set_time_limit(std::chrono::milliseconds(200));
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(call(module, "Spin"), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_EQ(platform.last_fault(), "the time limit was reached");
    platform.set_time_limit(std::chrono::seconds(10));
    EXPECT_EQ(call_by_address(0x1000), 0u); // nothing mapped there
    EXPECT_NE(platform.last_fault(), "");
    EXPECT_EQ(call(module, "Answer"), 42u); // the emulator goes on working
    EXPECT_EQ(platform.last_fault(), "");
    EXPECT_TRUE(module.unload());
}

TEST_F(RealImages, ImportsByNameAndOrdinalFromTheHostLibrary) {
    MemoryModule module;
    ASSERT_TRUE(module.load(fixture("host_imports")));
    // TestHostTwice(2 + 3) + TestHostAdd(5, 1)
    EXPECT_EQ(call(module, "UseHost", {2, 3}), 16u);
    EXPECT_TRUE(module.unload());
}

TEST_F(RealImages, AnImportNobodySuppliesFailsAndReleasesTheMemory) {
    SpyPlatform spy;
    MemoryModule module(spy);
    EXPECT_FALSE(module.load(fixture("needs_other")));
    EXPECT_EQ(module.base, 0u);
    EXPECT_FALSE(spy.looked_up.empty());
    EXPECT_TRUE(spy.live.empty());
}

namespace {

struct ResolverRecord {
    std::vector<std::string> asked;
    Address add = 0;
    Address triple = 0;
    Address host_add_replacement = 0;
    bool replace_host_add = false; // else answer 0: the host library's own
};

// A resolver in the emulated process: a host routine behind a thunk.
Address make_resolver(ResolverRecord& record) {
    EmulatedPlatform& platform = emulated_platform();
    record.add = platform.make_host_thunk(
        2, true, [](const HostCall& c) { return c.argument(0) + c.argument(1); });
    record.triple =
        platform.make_host_thunk(1, true, [](const HostCall& c) { return 3 * c.argument(0); });
    record.host_add_replacement =
        platform.make_host_thunk(2, true, [](const HostCall& c) { return 1000 + c.argument(0); });
    return platform.make_host_thunk(3, true, [&record](const HostCall& c) -> std::uint32_t {
        std::string library(c.text(c.argument(0)).value_or("?"));
        std::string routine(c.text(c.argument(1)).value_or("?"));
        record.asked.push_back(library + " " + routine + " " + std::to_string(c.argument(2)));
        if (routine == "OtherAdd")
            return record.add;
        if (routine == "7")
            return record.triple;
        bool replace = routine == "TestHostAdd" && record.replace_host_add;
        return replace ? record.host_add_replacement : 0;
    });
}

} // namespace

TEST_F(RealImages, TheResolverSuppliesImportsAndItsAnswerWins) {
    ResolverRecord record;
    Address resolver = make_resolver(record);
    ASSERT_NE(resolver, 0u);
    SpyPlatform spy;
    MemoryModule module(spy);
    ASSERT_TRUE(module.load(fixture("needs_other"), resolver, 77));
    EXPECT_EQ(record.asked,
              (std::vector<std::string>{"fixture_other.dll OtherAdd 77", "fixture_other.dll 7 77",
                                        "kestrova_host.dll TestHostAdd 77"}));
    // Only the import the resolver left (it answered 0) was looked up.
    EXPECT_EQ(spy.looked_up, (std::vector<std::string>{"TestHostAdd"}));
    // OtherTriple(OtherAdd(2, 3)) + TestHostAdd(2, 0)
    EXPECT_EQ(call(module, "UseOther", {2, 3}), 17u);
    EXPECT_TRUE(module.unload());

    record.asked.clear();
    spy.looked_up.clear();
    record.replace_host_add = true;
    ASSERT_TRUE(module.load(fixture("needs_other"), resolver, 78));
    EXPECT_TRUE(spy.looked_up.empty());
    EXPECT_EQ(call(module, "UseOther", {2, 3}), 15u + 1002u);
    EXPECT_TRUE(module.unload());
}

TEST_F(RealImages, AnEntryRoutineThatRefusesSeesAttachThenDetach) {
    SpyPlatform spy;
    MemoryModule module(spy);
    EXPECT_FALSE(module.load(fixture("refuses")));
    EXPECT_EQ(host_notes(), (std::vector<std::uint32_t>{1, 0}));
    EXPECT_EQ(module.base, 0u);
    EXPECT_TRUE(spy.live.empty());
}
