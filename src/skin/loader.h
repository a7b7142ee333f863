// The steps of the in-memory library loader for PE32 images. MemoryModule
// (skin/memory_module.h) is the object the rest of the program uses; these
// routines are its parts, each usable and testable on its own.
//
// Bounds: beyond the header checks, every read stays inside the image bytes
// or the reservation, every write inside the reservation, and every walk
// ends. The relocation walk stops at a block whose page RVA is 0 or at the
// end of its directory; the import descriptor walk must meet its terminating
// descriptor inside its directory; the export name walk is bounded by its
// count and the reservation. An image that would need more fails to load.
#pragma once

#include "skin/platform.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::skin {

inline constexpr std::uint16_t dos_magic = 0x5A4D;    // "MZ"
inline constexpr std::uint32_t pe_signature = 0x4550; // "PE\0\0"
inline constexpr std::uint16_t image_executable = 0x0002;
inline constexpr std::uint16_t image_dll = 0x2000;
inline constexpr std::size_t export_directory = 0;
inline constexpr std::size_t import_directory = 1;
inline constexpr std::size_t relocation_directory = 5;

struct DataDirectory {
    std::uint32_t virtual_address = 0;
    std::uint32_t size = 0;
};

struct SectionHeader {
    std::uint32_t virtual_size = 0;
    std::uint32_t virtual_address = 0;
    std::uint32_t size_of_raw_data = 0;
    std::uint32_t pointer_to_raw_data = 0;
};

/// The header fields the loader uses. The section table always begins at
/// e_lfanew + 248.
struct PeHeaders {
    std::int32_t e_lfanew = 0;
    std::uint16_t characteristics = 0;
    std::uint32_t address_of_entry_point = 0;
    std::uint32_t image_base = 0;
    std::uint32_t section_alignment = 0;
    std::uint32_t size_of_image = 0;
    std::array<DataDirectory, 16> directories{};
    std::vector<SectionHeader> sections;

    /// DOS header, stub, NT headers and section table: the bytes copied to
    /// the start of the reservation.
    std::int64_t headers_length() const;
};

/// Checks and reads the headers of an image held in memory (steps 1 to 4 of
/// load_image); nothing when a check fails.
std::optional<PeHeaders> read_image_headers(std::span<const std::byte> image);

/// Reads the DOS and NT headers of a mapped copy (no section table); nothing
/// when they do not read "MZ" and "PE\0\0" or do not fit in `mapped`.
std::optional<PeHeaders> read_mapped_headers(std::span<const std::byte> mapped);

/// The smallest multiple of `alignment` not below `value`; 0 when
/// `alignment` is 0 or negative.
std::int64_t align_up(std::int64_t value, std::int64_t alignment);

/// The size pass: SizeOfImage, grown to cover every section's extent (the
/// larger of SizeOfRawData and VirtualSize) rounded up to the section
/// alignment. Header values are taken as signed 32-bit numbers.
std::int64_t image_reservation_size(const PeHeaders& headers);

/// Maps, relocates, binds and starts an image; its base address or 0.
Address load_image(PlatformOperations& platform, std::span<const std::byte> image,
                   Address import_resolver, std::uint32_t resolver_data);

/// Memory at `preferred` when that range is free, else anywhere low; 0 when
/// none can be had or `size` is not positive.
Address reserve_image_memory(PlatformOperations& platform, Address preferred, std::int64_t size);

/// Adds base − ImageBase to every HIGHLOW word of the relocation blocks.
/// False when the walk would leave its directory or the reservation, or
/// meets a block whose SizeOfBlock is 0 or negative (it would never end).
bool apply_relocations(PlatformOperations& platform, Address base, const PeHeaders& headers);

/// Binds every import: the resolver first (when not 0), then the platform's
/// look-up. False at the first import nobody supplies, or when the walk would
/// leave the import directory or the reservation.
bool resolve_imports(PlatformOperations& platform, Address base, const PeHeaders& headers,
                     Address import_resolver, std::uint32_t resolver_data);

bool release_image_memory(PlatformOperations& platform, Address base);

/// Detaches (for a DLL) and releases a mapped image; false, keeping the
/// reservation, when its headers no longer read "MZ" and "PE\0\0".
bool unload_image(PlatformOperations& platform, Address base);

/// An export's address by name, or by ordinal when `name` is a decimal
/// number written as the system writes numbers; 0 for every kind of miss.
Address find_export_in_image(PlatformOperations& platform, Address base, std::string_view name);

struct ExportEntry {
    std::uint32_t ordinal = 0;
    std::string name; ///< empty for an export by ordinal only
    Address address = 0;
};

/// Every export with a non-zero address, in ordinal order, named through the
/// name-pointer table; a listing for people, not used by the loader.
std::vector<ExportEntry> list_exports(PlatformOperations& platform, Address base);

} // namespace kestrova::skin
