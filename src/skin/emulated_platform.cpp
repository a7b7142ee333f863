#include "skin/emulated_platform.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <unicorn/unicorn.h>
#include <vector>

namespace kestrova::skin {

namespace {

// Layout of the system block: the guest's descriptor table, its thread
// environment block, the host thunks, the page calls return to, the stack.
constexpr std::uint32_t gdt_offset = 0x0000;
constexpr std::uint32_t teb_offset = 0x1000;
constexpr std::uint32_t thunk_offset = 0x2000;
constexpr std::uint32_t stop_offset = 0x3000;
constexpr std::uint32_t stack_offset = 0x4000;
constexpr std::uint32_t stack_size = 0x40000;
constexpr std::uint32_t system_size = stack_offset + stack_size;
constexpr std::uint32_t thunk_size = 16;
constexpr std::uint32_t thunk_capacity = LowMemory::page_size / thunk_size;
constexpr std::uint32_t peb_offset_in_teb = 0x800;

// Guest-to-host calls: "mov eax, id; int 0x2e; ret n".
constexpr std::uint8_t host_interrupt = 0x2e;

// Descriptor table entries and the selectors that use them.
constexpr unsigned flat_data_index = 2;
constexpr unsigned teb_index = 3;
constexpr unsigned gdt_entries = 4;
constexpr std::uint32_t flat_data_selector = flat_data_index << 3;
constexpr std::uint32_t teb_selector = teb_index << 3;

std::uint64_t segment_descriptor(std::uint32_t base, std::uint32_t limit, std::uint8_t access,
                                 std::uint8_t flags) {
    std::uint64_t d = limit & 0xFFFF;
    d |= std::uint64_t{base & 0xFFFFFF} << 16;
    d |= std::uint64_t{access} << 40;
    d |= std::uint64_t{(limit >> 16) & 0xF} << 48;
    d |= std::uint64_t{flags} << 52;
    d |= std::uint64_t{base >> 24} << 56;
    return d;
}

void put32(Address at, std::uint32_t value) {
    std::memcpy(host_pointer(at), &value, 4);
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

bool names_host_library(std::string_view name) {
    std::string_view stem = host_library_name.substr(0, host_library_name.size() - 4);
    return equal_ignoring_case(name, host_library_name) || equal_ignoring_case(name, stem);
}

struct Thunk {
    unsigned argument_words = 0;
    HostRoutine routine;
};

struct LibraryRoutine {
    std::string name;
    std::uint16_t ordinal = 0;
    Address thunk = 0;
};

} // namespace

std::optional<std::span<const std::byte>> HostCall::bytes(Address address,
                                                          std::uint32_t length) const {
    if (!memory_.contains(address, length))
        return std::nullopt;
    return std::span<const std::byte>(host_pointer(address), length);
}

std::optional<std::string_view> HostCall::text(Address address) const {
    for (const LowMemory::Block& block : memory_.blocks()) {
        if (address < block.base || address >= block.base + block.size)
            continue;
        const auto* start = reinterpret_cast<const char*>(host_pointer(address));
        std::size_t room = block.base + block.size - address;
        const void* nul = std::memchr(start, 0, room);
        if (!nul)
            return std::nullopt;
        return std::string_view(start,
                                static_cast<std::size_t>(static_cast<const char*>(nul) - start));
    }
    return std::nullopt;
}

struct EmulatedPlatform::State {
    mutable std::recursive_mutex mutex;
    LowMemory memory;
    Address system = 0;
    uc_engine* uc = nullptr;
    std::vector<Thunk> thunks;
    std::vector<LibraryRoutine> library;
    std::chrono::milliseconds time_limit{10'000};
    bool running = false;
    std::string fault;

    ~State() {
        if (uc)
            uc_close(uc);
    }

    Address stack_top() const { return system + stack_offset + stack_size; }
    Address stop_address() const { return system + stop_offset; }
    Address teb() const { return system + teb_offset; }

    bool ensure_system();
    bool ensure_engine();
    bool map_block(const LowMemory::Block& block);
    void map_system_pieces();
    void load_segments();
    void reset_teb();
    void on_interrupt(std::uint32_t number);
    void stop(std::string why) {
        fault = std::move(why);
        uc_emu_stop(uc);
    }
};

bool EmulatedPlatform::State::ensure_system() {
    if (system != 0)
        return true;
    system = memory.reserve(0, system_size);
    if (system == 0)
        return false;
    Address gdt = system + gdt_offset;
    auto put_descriptor = [&](unsigned index, std::uint64_t descriptor) {
        std::memcpy(host_pointer(gdt + 8 * index), &descriptor, 8);
    };
    // Flat ring-0 data for DS, ES and SS; FS covers the environment block.
    put_descriptor(flat_data_index, segment_descriptor(0, 0xFFFFF, 0x93, 0xC));
    put_descriptor(teb_index, segment_descriptor(teb(), 0xFFF, 0xF3, 0x4));
    std::memset(host_pointer(system + stop_offset), 0xF4, LowMemory::page_size); // hlt
    return true;
}

// The fields of a thread environment block that code commonly reads, set
// afresh for every call.
void EmulatedPlatform::State::reset_teb() {
    std::memset(host_pointer(teb()), 0, LowMemory::page_size);
    put32(teb() + 0x00, 0xFFFFFFFF); // end of the exception handler chain
    put32(teb() + 0x04, stack_top());
    put32(teb() + 0x08, system + stack_offset);
    put32(teb() + 0x18, teb());
    put32(teb() + 0x30, teb() + peb_offset_in_teb);
}

bool EmulatedPlatform::State::map_block(const LowMemory::Block& block) {
    std::uint32_t perms = block.sealed ? UC_PROT_READ : UC_PROT_ALL;
    if (uc_mem_map_ptr(uc, block.base, block.mapped, perms, host_pointer(block.base)) != UC_ERR_OK)
        return false;
    // Code that ran at these addresses before belongs to an earlier mapping.
    uc_ctl_remove_cache(uc, std::uint64_t{block.base}, std::uint64_t{block.base} + block.mapped);
    return true;
}

void EmulatedPlatform::State::map_system_pieces() {
    auto map = [&](std::uint32_t offset, std::uint32_t size, std::uint32_t perms) {
        uc_mem_map_ptr(uc, system + offset, size, perms, host_pointer(system + offset));
    };
    map(gdt_offset, LowMemory::page_size, UC_PROT_READ);
    map(teb_offset, LowMemory::page_size, UC_PROT_READ | UC_PROT_WRITE);
    map(thunk_offset, LowMemory::page_size, UC_PROT_READ | UC_PROT_EXEC);
    map(stop_offset, LowMemory::page_size, UC_PROT_READ | UC_PROT_EXEC);
    map(stack_offset, stack_size, UC_PROT_READ | UC_PROT_WRITE);
}

// In protected mode Unicorn needs SS reloaded from the table once FS is.
void EmulatedPlatform::State::load_segments() {
    uc_x86_mmr gdtr{0, system + gdt_offset, gdt_entries * 8 - 1, 0};
    uc_reg_write(uc, UC_X86_REG_GDTR, &gdtr);
    std::uint32_t data = flat_data_selector;
    std::uint32_t fs = teb_selector;
    uc_reg_write(uc, UC_X86_REG_SS, &data);
    uc_reg_write(uc, UC_X86_REG_DS, &data);
    uc_reg_write(uc, UC_X86_REG_ES, &data);
    uc_reg_write(uc, UC_X86_REG_FS, &fs);
}

bool EmulatedPlatform::State::ensure_engine() {
    if (uc)
        return true;
    if (!ensure_system() || uc_open(UC_ARCH_X86, UC_MODE_32, &uc) != UC_ERR_OK) {
        uc = nullptr;
        return false;
    }
    map_system_pieces();
    for (const LowMemory::Block& block : memory.blocks())
        if (block.base != system)
            map_block(block);
    uc_hook hook;
    auto callback = +[](uc_engine*, std::uint32_t number, void* user) {
        static_cast<State*>(user)->on_interrupt(number);
    };
    uc_hook_add(uc, &hook, UC_HOOK_INTR, reinterpret_cast<void*>(callback), this, 1, 0);
    return true;
}

void EmulatedPlatform::State::on_interrupt(std::uint32_t number) {
    std::uint32_t id = 0;
    std::uint32_t esp = 0;
    uc_reg_read(uc, UC_X86_REG_EAX, &id);
    uc_reg_read(uc, UC_X86_REG_ESP, &esp);
    if (number != host_interrupt || id >= thunks.size())
        return stop("processor exception or interrupt " + std::to_string(number));
    // The thunk was called: the return address at ESP, the arguments above.
    CallWords arguments{};
    if (uc_mem_read(uc, esp + 4, arguments.data(), 4 * thunks[id].argument_words) != UC_ERR_OK)
        return stop("host call with its arguments outside guest memory");
    HostRoutine routine = thunks[id].routine; // the routine may add thunks
    std::uint32_t result = routine(HostCall(arguments, memory));
    uc_reg_write(uc, UC_X86_REG_EAX, &result);
}

EmulatedPlatform::EmulatedPlatform() : state_(std::make_unique<State>()) {}
EmulatedPlatform::~EmulatedPlatform() = default;

Address EmulatedPlatform::reserve(Address address, std::uint64_t size) {
    std::lock_guard lock(state_->mutex);
    Address base = state_->memory.reserve(address, size);
    if (base == 0 || !state_->uc)
        return base;
    if (!state_->map_block(*state_->memory.block_at(base))) {
        state_->memory.release(base);
        return 0;
    }
    return base;
}

bool EmulatedPlatform::release(Address base) {
    std::lock_guard lock(state_->mutex);
    std::optional<LowMemory::Block> block = state_->memory.block_at(base);
    if (!block || block->sealed || base == state_->system)
        return false;
    if (state_->uc && uc_mem_unmap(state_->uc, base, block->mapped) != UC_ERR_OK)
        return false;
    if (state_->memory.release(base))
        return true;
    if (state_->uc)
        state_->map_block(*block);
    return false;
}

std::uint32_t EmulatedPlatform::reserved_size(Address base) const {
    return state_->memory.size_of(base);
}

std::uint32_t EmulatedPlatform::load_library(std::string_view name) {
    std::lock_guard lock(state_->mutex);
    if (!names_host_library(name) || !state_->ensure_system())
        return 0;
    return state_->system + thunk_offset; // the host library's handle
}

Address EmulatedPlatform::find_routine(std::uint32_t library, const RoutineKey& key) {
    std::lock_guard lock(state_->mutex);
    if (library == 0 || library != state_->system + thunk_offset)
        return 0;
    for (const LibraryRoutine& routine : state_->library) {
        bool match = key.by_ordinal ? routine.ordinal != 0 && routine.ordinal == key.ordinal
                                    : routine.name == key.name;
        if (match)
            return routine.thunk;
    }
    return 0;
}

std::uint32_t EmulatedPlatform::run_code(Address routine, const CallWords& words) {
    std::lock_guard lock(state_->mutex);
    State& s = *state_;
    if (s.running) {
        s.fault = "a call from inside a host routine is not supported";
        return 0;
    }
    if (!s.ensure_engine()) {
        s.fault = "the emulator could not be started";
        return 0;
    }
    s.running = true;
    s.fault.clear();
    // The frame of an ordinary call: the return address, then the ten words.
    Address esp = s.stack_top() - 64 - 4 * (words.size() + 1);
    put32(esp, s.stop_address());
    std::memcpy(host_pointer(esp + 4), words.data(), 4 * words.size());
    for (int reg : {UC_X86_REG_EAX, UC_X86_REG_EBX, UC_X86_REG_ECX, UC_X86_REG_EDX, UC_X86_REG_ESI,
                    UC_X86_REG_EDI, UC_X86_REG_EBP}) {
        std::uint32_t zero = 0;
        uc_reg_write(s.uc, reg, &zero);
    }
    std::uint32_t flags = 0x202;
    uc_reg_write(s.uc, UC_X86_REG_EFLAGS, &flags);
    uc_reg_write(s.uc, UC_X86_REG_ESP, &esp);
    s.load_segments();
    s.reset_teb();
    auto limit = static_cast<std::uint64_t>(s.time_limit.count()) * 1000;
    uc_err err = uc_emu_start(s.uc, routine, s.stop_address(), limit, 0);
    s.running = false;
    std::uint32_t eip = 0;
    std::uint32_t result = 0;
    uc_reg_read(s.uc, UC_X86_REG_EIP, &eip);
    uc_reg_read(s.uc, UC_X86_REG_EAX, &result);
    if (err != UC_ERR_OK) {
        s.fault = uc_strerror(err);
        return 0;
    }
    if (eip != s.stop_address()) {
        std::size_t timed_out = 0;
        uc_query(s.uc, UC_QUERY_TIMEOUT, &timed_out);
        if (s.fault.empty())
            s.fault = timed_out ? "the time limit was reached" : "stopped before returning";
        return 0;
    }
    return result;
}

Address EmulatedPlatform::make_host_thunk(unsigned argument_words, bool stdcall,
                                          HostRoutine routine) {
    std::lock_guard lock(state_->mutex);
    State& s = *state_;
    if (argument_words > 10 || s.thunks.size() >= thunk_capacity || !s.ensure_system())
        return 0;
    auto id = static_cast<std::uint32_t>(s.thunks.size());
    auto pop = static_cast<std::uint16_t>(stdcall ? 4 * argument_words : 0);
    std::uint8_t code[thunk_size] = {0xB8, 0, 0, 0, 0, 0xCD, host_interrupt, 0xC2, 0, 0};
    std::memcpy(code + 1, &id, 4);
    std::memcpy(code + 8, &pop, 2);
    std::fill(code + 10, code + thunk_size, std::uint8_t{0xCC});
    Address thunk = s.system + thunk_offset + id * thunk_size;
    std::memcpy(host_pointer(thunk), code, thunk_size);
    if (s.uc)
        uc_ctl_remove_cache(s.uc, std::uint64_t{thunk}, std::uint64_t{thunk} + thunk_size);
    s.thunks.push_back(Thunk{argument_words, std::move(routine)});
    return thunk;
}

Address EmulatedPlatform::define_host_routine(const std::string& name, std::uint16_t ordinal,
                                              unsigned argument_words, HostRoutine routine) {
    std::lock_guard lock(state_->mutex);
    State& s = *state_;
    for (LibraryRoutine& known : s.library) {
        if (known.name != name)
            continue;
        std::uint32_t id = (known.thunk - s.system - thunk_offset) / thunk_size;
        if (s.thunks[id].argument_words != argument_words)
            return 0;
        s.thunks[id].routine = std::move(routine);
        known.ordinal = ordinal;
        return known.thunk;
    }
    Address thunk = make_host_thunk(argument_words, true, std::move(routine));
    if (thunk != 0)
        s.library.push_back(LibraryRoutine{name, ordinal, thunk});
    return thunk;
}

std::span<const std::byte> EmulatedPlatform::publish(std::span<const std::byte> bytes) {
    std::lock_guard lock(state_->mutex);
    if (bytes.empty())
        return {};
    Address base = reserve(0, bytes.size());
    if (base == 0)
        return {};
    std::memcpy(host_pointer(base), bytes.data(), bytes.size());
    if (!state_->memory.seal(base)) {
        release(base);
        return {};
    }
    if (state_->uc)
        uc_mem_protect(state_->uc, base, LowMemory::whole_pages(bytes.size()), UC_PROT_READ);
    return {host_pointer(base), bytes.size()};
}

void EmulatedPlatform::set_time_limit(std::chrono::milliseconds limit) {
    std::lock_guard lock(state_->mutex);
    state_->time_limit = limit;
}

std::string EmulatedPlatform::last_fault() const {
    std::lock_guard lock(state_->mutex);
    return state_->fault;
}

const LowMemory& EmulatedPlatform::memory() const {
    return state_->memory;
}

EmulatedPlatform& emulated_platform() {
    static auto* platform = new EmulatedPlatform();
    return *platform;
}

PlatformOperations& host_platform() {
    return emulated_platform();
}

} // namespace kestrova::skin
