// Synthetic PE32 images for the loader's header and table edge cases.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace kestrova::skin::testing {

/// A growable byte block with little-endian writers.
struct Blob {
    std::vector<std::byte> bytes;

    explicit Blob(std::size_t size = 0) : bytes(size) {}
    void put16(std::size_t at, std::uint16_t value);
    void put32(std::size_t at, std::uint32_t value);
    /// The text and its NUL.
    void put_text(std::size_t at, std::string_view text);
};

struct SectionSpec {
    std::uint32_t virtual_address = 0;
    std::uint32_t virtual_size = 0;
    Blob raw;
    /// SizeOfRawData and PointerToRawData when they must differ from the
    /// raw data's real size and place.
    std::optional<std::uint32_t> size_of_raw_data;
    std::optional<std::uint32_t> pointer_to_raw_data;
};

struct PeSpec {
    std::uint16_t magic = 0x5A4D;
    std::int32_t e_lfanew = 0x40;
    std::uint32_t signature = 0x4550;
    std::uint16_t characteristics = 0x2102; // executable, 32-bit, DLL
    std::uint32_t address_of_entry_point = 0;
    std::uint32_t image_base = 0x20000000;
    std::uint32_t section_alignment = 0x1000;
    std::uint32_t size_of_image = 0x3000;
    std::array<std::array<std::uint32_t, 2>, 16> directories{};
    std::vector<SectionSpec> sections;
};

/// Headers, then each section's raw data at the next multiple of 0x200.
std::vector<std::byte> build_image(const PeSpec& spec);

/// Where build_image puts the section table.
std::size_t section_table_end(const PeSpec& spec);

} // namespace kestrova::skin::testing
