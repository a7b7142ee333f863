#include "pe_builder.h"

#include <algorithm>
#include <cstring>

namespace kestrova::skin::testing {

void Blob::put16(std::size_t at, std::uint16_t value) {
    if (bytes.size() < at + 2)
        bytes.resize(at + 2);
    std::memcpy(bytes.data() + at, &value, 2);
}

void Blob::put32(std::size_t at, std::uint32_t value) {
    if (bytes.size() < at + 4)
        bytes.resize(at + 4);
    std::memcpy(bytes.data() + at, &value, 4);
}

void Blob::put_text(std::size_t at, std::string_view text) {
    if (bytes.size() < at + text.size() + 1)
        bytes.resize(at + text.size() + 1);
    std::memcpy(bytes.data() + at, text.data(), text.size());
    bytes[at + text.size()] = std::byte{0};
}

std::size_t section_table_end(const PeSpec& spec) {
    return static_cast<std::size_t>(spec.e_lfanew) + 248 + 40 * spec.sections.size();
}

std::vector<std::byte> build_image(const PeSpec& spec) {
    Blob image(std::max<std::size_t>(64, section_table_end(spec)));
    image.put16(0, spec.magic);
    image.put32(60, static_cast<std::uint32_t>(spec.e_lfanew));
    std::size_t nt = static_cast<std::size_t>(spec.e_lfanew);
    image.put32(nt, spec.signature);
    image.put16(nt + 4, 0x014C); // i386
    image.put16(nt + 6, static_cast<std::uint16_t>(spec.sections.size()));
    image.put16(nt + 20, 224);
    image.put16(nt + 22, spec.characteristics);
    image.put16(nt + 24, 0x010B); // PE32
    image.put32(nt + 40, spec.address_of_entry_point);
    image.put32(nt + 52, spec.image_base);
    image.put32(nt + 56, spec.section_alignment);
    image.put32(nt + 60, 0x200);
    image.put32(nt + 80, spec.size_of_image);
    image.put32(nt + 116, 16);
    for (std::size_t i = 0; i < 16; ++i) {
        image.put32(nt + 120 + 8 * i, spec.directories[i][0]);
        image.put32(nt + 124 + 8 * i, spec.directories[i][1]);
    }
    std::size_t raw_at = (section_table_end(spec) + 0x1FF) / 0x200 * 0x200;
    for (std::size_t i = 0; i < spec.sections.size(); ++i) {
        const SectionSpec& section = spec.sections[i];
        std::size_t header = nt + 248 + 40 * i;
        auto raw_size = static_cast<std::uint32_t>(section.raw.bytes.size());
        image.put32(header + 8, section.virtual_size);
        image.put32(header + 12, section.virtual_address);
        image.put32(header + 16, section.size_of_raw_data.value_or(raw_size));
        image.put32(header + 20, section.pointer_to_raw_data.value_or(
                                     raw_size ? static_cast<std::uint32_t>(raw_at) : 0));
        if (raw_size == 0)
            continue;
        image.bytes.resize(std::max(image.bytes.size(), raw_at + raw_size));
        std::memcpy(image.bytes.data() + raw_at, section.raw.bytes.data(), raw_size);
        raw_at = (raw_at + raw_size + 0x1FF) / 0x200 * 0x200;
    }
    return image.bytes;
}

} // namespace kestrova::skin::testing
