#include "skin/loader.h"

#include "text/text.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace kestrova::skin {

namespace {

constexpr std::int64_t dos_header_size = 64;
constexpr std::int64_t nt_headers_size = 248;
constexpr std::int64_t section_header_size = 40;
constexpr std::int64_t import_descriptor_size = 20;
constexpr std::int64_t relocation_block_header = 8;
constexpr std::uint16_t highlow = 3;

std::int64_t as_signed(std::uint32_t value) {
    return static_cast<std::int32_t>(value);
}

// Bounded little-endian access to image bytes or a reservation. Offsets are
// exact 64-bit numbers, so no sum of header values can wrap around.
class Bytes {
public:
    Bytes(std::byte* data, std::int64_t size) : data_(data), size_(size) {}
    explicit Bytes(std::span<const std::byte> bytes)
        : data_(const_cast<std::byte*>(bytes.data())),
          size_(static_cast<std::int64_t>(bytes.size())) {}
    static Bytes of_reservation(PlatformOperations& platform, Address base) {
        return Bytes(host_pointer(base), base == 0 ? 0 : platform.reserved_size(base));
    }

    std::int64_t size() const { return size_; }
    bool inside(std::int64_t offset, std::int64_t length) const {
        return offset >= 0 && length >= 0 && offset <= size_ && length <= size_ - offset;
    }
    std::byte* at(std::int64_t offset) const { return data_ + offset; }

    template <typename T> std::optional<T> read(std::int64_t offset) const {
        if (!inside(offset, sizeof(T)))
            return std::nullopt;
        T value;
        std::memcpy(&value, data_ + offset, sizeof value);
        return value;
    }
    std::optional<std::uint32_t> u32(std::int64_t offset) const {
        return read<std::uint32_t>(offset);
    }
    std::optional<std::uint16_t> u16(std::int64_t offset) const {
        return read<std::uint16_t>(offset);
    }

    bool put_u32(std::int64_t offset, std::uint32_t value) const {
        if (!inside(offset, 4))
            return false;
        std::memcpy(data_ + offset, &value, 4);
        return true;
    }

    /// The NUL-terminated text at `offset`, when its NUL lies inside.
    std::optional<std::string_view> text(std::int64_t offset) const {
        if (!inside(offset, 0) || offset == size_)
            return std::nullopt;
        const auto* start = reinterpret_cast<const char*>(data_ + offset);
        const void* nul = std::memchr(start, 0, static_cast<std::size_t>(size_ - offset));
        if (!nul)
            return std::nullopt;
        return std::string_view(start,
                                static_cast<std::size_t>(static_cast<const char*>(nul) - start));
    }

private:
    std::byte* data_;
    std::int64_t size_;
};

// DOS and NT headers; the section table only when asked for.
std::optional<PeHeaders> read_headers(Bytes bytes, bool as_image) {
    if (bytes.size() < dos_header_size || *bytes.u16(0) != dos_magic)
        return std::nullopt;
    PeHeaders h;
    h.e_lfanew = static_cast<std::int32_t>(*bytes.u32(60));
    std::int64_t nt = h.e_lfanew;
    if (nt < 0 || nt + nt_headers_size > bytes.size() || *bytes.u32(nt) != pe_signature)
        return std::nullopt;
    h.characteristics = *bytes.u16(nt + 22);
    std::uint16_t section_count = *bytes.u16(nt + 6);
    h.address_of_entry_point = *bytes.u32(nt + 40);
    h.image_base = *bytes.u32(nt + 52);
    h.section_alignment = *bytes.u32(nt + 56);
    h.size_of_image = *bytes.u32(nt + 80);
    for (std::size_t i = 0; i < h.directories.size(); ++i) {
        std::int64_t at = nt + 120 + 8 * static_cast<std::int64_t>(i);
        h.directories[i] = {*bytes.u32(at), *bytes.u32(at + 4)};
    }
    if (!as_image)
        return h;
    if ((h.characteristics & image_executable) == 0 ||
        nt + nt_headers_size + section_header_size * section_count > bytes.size())
        return std::nullopt;
    for (std::int64_t i = 0; i < section_count; ++i) {
        std::int64_t at = nt + nt_headers_size + section_header_size * i;
        h.sections.push_back(
            {*bytes.u32(at + 8), *bytes.u32(at + 12), *bytes.u32(at + 16), *bytes.u32(at + 20)});
    }
    return h;
}

// Steps 8 and 9: headers, then each section's raw data at its address.
bool copy_image(std::span<const std::byte> image, const PeHeaders& headers, Bytes mapped) {
    Bytes source(image);
    std::int64_t header_bytes = headers.headers_length();
    if (!mapped.inside(0, header_bytes))
        return false;
    std::memcpy(mapped.at(0), image.data(), static_cast<std::size_t>(header_bytes));
    for (const SectionHeader& section : headers.sections) {
        std::int64_t raw = as_signed(section.size_of_raw_data);
        std::int64_t address = as_signed(section.virtual_address);
        if (raw <= 0 || address == 0)
            continue;
        std::int64_t from = section.pointer_to_raw_data;
        if (!source.inside(from, raw) || !mapped.inside(address, raw))
            return false;
        std::memcpy(mapped.at(address), source.at(from), static_cast<std::size_t>(raw));
    }
    return true;
}

// The entry routine, when the image has one inside its reservation: 0 for
// none (AddressOfEntryPoint 0), nothing when it lies outside.
std::optional<Address> entry_routine(Address base, const PeHeaders& headers,
                                     std::int64_t reserved) {
    std::uint32_t offset = headers.address_of_entry_point;
    if (offset == 0)
        return Address{0};
    if (offset >= reserved)
        return std::nullopt;
    return static_cast<Address>(base + offset);
}

constexpr CallWords attach_words{0, 1, 0};
constexpr CallWords detach_words{0, 0, 0};

// Step 12: attach a DLL; a refusal is answered with a detach.
bool start_library(PlatformOperations& platform, Address base, const PeHeaders& headers) {
    if ((headers.characteristics & image_dll) == 0)
        return true;
    std::optional<Address> entry = entry_routine(base, headers, platform.reserved_size(base));
    if (!entry)
        return false;
    if (*entry == 0 || platform.run_code(*entry, attach_words) != 0)
        return true;
    platform.run_code(*entry, detach_words);
    return false;
}

// Guest memory for the decimal text of an ordinal, asked for at the first
// import by ordinal that goes to the resolver and given back afterwards.
class OrdinalText {
public:
    explicit OrdinalText(PlatformOperations& platform) : platform_(platform) {}
    OrdinalText(const OrdinalText&) = delete;
    OrdinalText& operator=(const OrdinalText&) = delete;
    ~OrdinalText() {
        if (page_ != 0)
            platform_.release(page_);
    }

    Address write(std::uint16_t ordinal) {
        if (page_ == 0)
            page_ = platform_.reserve(0, 16);
        if (page_ == 0)
            return 0;
        std::string digits = text::int_to_text(ordinal);
        std::memcpy(host_pointer(page_), digits.c_str(), digits.size() + 1);
        return page_;
    }

private:
    PlatformOperations& platform_;
    Address page_ = 0;
};

// Binds the import address table of one descriptor.
bool bind_thunks(PlatformOperations& platform, Bytes mapped, Address base, std::uint32_t library,
                 std::uint32_t library_name_rva, std::int64_t table, Address import_resolver,
                 std::uint32_t resolver_data, OrdinalText& ordinal_text) {
    for (std::int64_t t = table;; t += 4) {
        std::optional<std::uint32_t> entry = mapped.u32(t);
        if (!entry)
            return false;
        if (*entry == 0)
            return true;
        RoutineKey key;
        Address name_text = 0;
        if (*entry & 0x8000'0000u) {
            key.by_ordinal = true;
            key.ordinal = static_cast<std::uint16_t>(*entry & 0xFFFF);
        } else {
            std::optional<std::string_view> name = mapped.text(std::int64_t{*entry} + 2);
            if (!name)
                return false;
            key.name = *name;
            name_text = base + *entry + 2;
        }
        Address routine = 0;
        if (import_resolver != 0) {
            if (key.by_ordinal && (name_text = ordinal_text.write(key.ordinal)) == 0)
                return false;
            routine = platform.run_code(import_resolver,
                                        {base + library_name_rva, name_text, resolver_data});
        }
        if (routine == 0)
            routine = platform.find_routine(library, key);
        if (routine == 0 || !mapped.put_u32(t, routine))
            return false;
    }
}

// The 32-bit entry `index` of the table at `table`, when inside.
std::optional<std::uint32_t> table_entry(const Bytes& mapped, std::uint32_t table,
                                         std::int64_t index) {
    return mapped.u32(std::int64_t{table} + 4 * index);
}

struct ExportDirectory {
    std::uint32_t base = 0;
    std::uint32_t function_count = 0;
    std::uint32_t name_count = 0;
    std::uint32_t functions = 0;
    std::uint32_t names = 0;
    std::uint32_t name_ordinals = 0;
};

std::optional<ExportDirectory> read_export_directory(const Bytes& mapped) {
    std::optional<PeHeaders> headers = read_headers(mapped, false);
    if (!headers || headers->directories[export_directory].size == 0)
        return std::nullopt;
    std::int64_t at = headers->directories[export_directory].virtual_address;
    if (!mapped.inside(at, 40))
        return std::nullopt;
    return ExportDirectory{*mapped.u32(at + 16), *mapped.u32(at + 20), *mapped.u32(at + 24),
                           *mapped.u32(at + 28), *mapped.u32(at + 32), *mapped.u32(at + 36)};
}

// A name is an ordinal when the system's own number writing gives it back.
std::optional<std::int32_t> as_ordinal(std::string_view name) {
    std::int32_t number = text::to_int(name);
    if (text::int_to_text(number) != name)
        return std::nullopt;
    return number;
}

Address export_by_ordinal(const Bytes& mapped, Address base, const ExportDirectory& exports,
                          std::int32_t ordinal) {
    std::int64_t index = std::int64_t{ordinal} - as_signed(exports.base);
    if (index < 0 || index >= as_signed(exports.function_count))
        return 0;
    std::optional<std::uint32_t> rva = table_entry(mapped, exports.functions, index);
    return rva && *rva != 0 ? static_cast<Address>(base + *rva) : 0;
}

// The names are taken to follow one another in memory from the first entry
// of the name-pointer table on; the walk ends after the named count or at
// the first name that does not lie wholly inside.
Address export_by_name(const Bytes& mapped, Address base, const ExportDirectory& exports,
                       std::string_view name) {
    std::int64_t count = as_signed(exports.name_count);
    if (count <= 0)
        return 0;
    std::optional<std::uint32_t> first = mapped.u32(exports.names);
    if (!first)
        return 0;
    std::int64_t at = *first;
    for (std::int64_t j = 0; j < count; ++j) {
        std::optional<std::string_view> candidate = mapped.text(at);
        std::optional<std::uint16_t> index =
            mapped.u16(std::int64_t{exports.name_ordinals} + 2 * j);
        if (!candidate || !index)
            return 0;
        if (*index < as_signed(exports.function_count) && *candidate == name) {
            std::optional<std::uint32_t> rva = table_entry(mapped, exports.functions, *index);
            if (!rva)
                return 0;
            if (*rva != 0)
                return base + *rva;
        }
        at += static_cast<std::int64_t>(candidate->size()) + 1;
    }
    return 0;
}

} // namespace

std::int64_t PeHeaders::headers_length() const {
    return std::int64_t{e_lfanew} + nt_headers_size +
           section_header_size * static_cast<std::int64_t>(sections.size());
}

std::optional<PeHeaders> read_image_headers(std::span<const std::byte> image) {
    return read_headers(Bytes(image), true);
}

std::optional<PeHeaders> read_mapped_headers(std::span<const std::byte> mapped) {
    return read_headers(Bytes(mapped), false);
}

std::int64_t align_up(std::int64_t value, std::int64_t alignment) {
    if (alignment <= 0)
        return 0;
    std::int64_t sum = value + alignment - 1;
    std::int64_t quotient = sum / alignment;
    if (sum % alignment != 0 && sum < 0)
        --quotient; // round toward minus infinity
    return quotient * alignment;
}

std::int64_t image_reservation_size(const PeHeaders& headers) {
    std::int64_t size = as_signed(headers.size_of_image);
    for (const SectionHeader& section : headers.sections) {
        std::int64_t extent =
            std::max(as_signed(section.size_of_raw_data), as_signed(section.virtual_size));
        std::int64_t end = align_up(as_signed(section.virtual_address) + extent,
                                    as_signed(headers.section_alignment));
        size = std::max(size, end);
    }
    return size;
}

Address load_image(PlatformOperations& platform, std::span<const std::byte> image,
                   Address import_resolver, std::uint32_t resolver_data) {
    std::optional<PeHeaders> headers = read_image_headers(image);
    if (!headers)
        return 0;
    std::int64_t size = image_reservation_size(*headers);
    if (size == 0)
        return 0;
    Address base = reserve_image_memory(platform, headers->image_base, size);
    if (base == 0)
        return 0;
    const auto& directories = headers->directories;
    bool loaded = copy_image(image, *headers, Bytes::of_reservation(platform, base));
    if (loaded && as_signed(directories[relocation_directory].size) > 0)
        loaded = apply_relocations(platform, base, *headers);
    if (loaded && as_signed(directories[import_directory].virtual_address) > 0)
        loaded = resolve_imports(platform, base, *headers, import_resolver, resolver_data);
    if (loaded)
        loaded = start_library(platform, base, *headers);
    if (!loaded) {
        release_image_memory(platform, base);
        return 0;
    }
    return base;
}

Address reserve_image_memory(PlatformOperations& platform, Address preferred, std::int64_t size) {
    if (size <= 0)
        return 0;
    auto length = static_cast<std::uint64_t>(size);
    Address base = platform.reserve(preferred, length);
    return base != 0 ? base : platform.reserve(0, length);
}

bool apply_relocations(PlatformOperations& platform, Address base, const PeHeaders& headers) {
    Bytes mapped = Bytes::of_reservation(platform, base);
    std::uint32_t delta = base - headers.image_base;
    const DataDirectory& directory = headers.directories[relocation_directory];
    std::int64_t block = directory.virtual_address;
    std::int64_t end = block + as_signed(directory.size);
    while (block + relocation_block_header <= end) {
        std::optional<std::uint32_t> page = mapped.u32(block);
        std::optional<std::uint32_t> block_size = mapped.u32(block + 4);
        if (!page || !block_size)
            return false;
        if (*page == 0)
            return true;
        std::int64_t length = as_signed(*block_size);
        if (length <= 0 || block + length > end || !mapped.inside(block, length))
            return false;
        std::int64_t entries = std::max<std::int64_t>(0, (length - relocation_block_header) / 2);
        for (std::int64_t k = 0; k < entries; ++k) {
            std::uint16_t entry = *mapped.u16(block + relocation_block_header + 2 * k);
            if (entry >> 12 != highlow)
                continue;
            std::int64_t target = std::int64_t{*page} + (entry & 0x0FFF);
            std::optional<std::uint32_t> word = mapped.u32(target);
            if (!word || !mapped.put_u32(target, *word + delta))
                return false;
        }
        block += length;
    }
    return true;
}

bool resolve_imports(PlatformOperations& platform, Address base, const PeHeaders& headers,
                     Address import_resolver, std::uint32_t resolver_data) {
    Bytes mapped = Bytes::of_reservation(platform, base);
    const DataDirectory& directory = headers.directories[import_directory];
    std::int64_t end = std::int64_t{directory.virtual_address} + as_signed(directory.size);
    OrdinalText ordinal_text(platform);
    for (std::int64_t at = directory.virtual_address;; at += import_descriptor_size) {
        if (at + import_descriptor_size > end)
            return false; // no terminating descriptor inside the directory
        std::optional<std::uint32_t> name_rva = mapped.u32(at + 12);
        std::optional<std::uint32_t> first_thunk = mapped.u32(at + 16);
        if (!name_rva || !first_thunk)
            return false;
        if (*first_thunk == 0)
            return true;
        std::optional<std::string_view> library_name = mapped.text(*name_rva);
        if (!library_name)
            return false;
        std::uint32_t library = platform.load_library(*library_name);
        if (!bind_thunks(platform, mapped, base, library, *name_rva, *first_thunk, import_resolver,
                         resolver_data, ordinal_text))
            return false;
    }
}

bool release_image_memory(PlatformOperations& platform, Address base) {
    return platform.release(base);
}

bool unload_image(PlatformOperations& platform, Address base) {
    Bytes mapped = Bytes::of_reservation(platform, base);
    std::optional<PeHeaders> headers = read_headers(mapped, false);
    if (!headers)
        return false;
    if (headers->characteristics & image_dll) {
        std::optional<Address> entry = entry_routine(base, *headers, mapped.size());
        if (entry && *entry != 0)
            platform.run_code(*entry, detach_words);
    }
    return release_image_memory(platform, base);
}

Address find_export_in_image(PlatformOperations& platform, Address base, std::string_view name) {
    Bytes mapped = Bytes::of_reservation(platform, base);
    std::optional<ExportDirectory> exports = read_export_directory(mapped);
    if (!exports)
        return 0;
    name = text::up_to_nul(name);
    if (std::optional<std::int32_t> ordinal = as_ordinal(name))
        return export_by_ordinal(mapped, base, *exports, *ordinal);
    return export_by_name(mapped, base, *exports, name);
}

std::vector<ExportEntry> list_exports(PlatformOperations& platform, Address base) {
    Bytes mapped = Bytes::of_reservation(platform, base);
    std::optional<ExportDirectory> exports = read_export_directory(mapped);
    std::vector<ExportEntry> entries;
    if (!exports)
        return entries;
    std::map<std::uint16_t, std::string_view> names;
    for (std::int64_t j = 0; j < as_signed(exports->name_count); ++j) {
        std::optional<std::uint32_t> name_rva = table_entry(mapped, exports->names, j);
        std::optional<std::uint16_t> index =
            mapped.u16(std::int64_t{exports->name_ordinals} + 2 * j);
        std::optional<std::string_view> name = name_rva ? mapped.text(*name_rva) : std::nullopt;
        if (!index || !name)
            break;
        names.emplace(*index, *name);
    }
    for (std::int64_t i = 0; i < as_signed(exports->function_count); ++i) {
        std::optional<std::uint32_t> rva = table_entry(mapped, exports->functions, i);
        if (!rva)
            break;
        if (*rva == 0)
            continue;
        auto named = names.find(static_cast<std::uint16_t>(i));
        entries.push_back({static_cast<std::uint32_t>(exports->base + i),
                           named != names.end() && i <= 0xFFFF ? std::string(named->second) : "",
                           static_cast<Address>(base + *rva)});
    }
    return entries;
}

} // namespace kestrova::skin
