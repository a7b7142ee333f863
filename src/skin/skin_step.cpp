#include "skin/skin_step.h"

#include "skin/call.h"
#include "skin/embedded.h"
#include "skin/emulated_platform.h"

#include <cstring>

namespace kestrova::skin {

namespace {

std::span<const std::byte> bytes_of(const unsigned char* data, std::size_t size) {
    return {reinterpret_cast<const std::byte*>(data), size};
}

// A non-empty text that no 32-bit address reaches is copied into guest
// memory for the length of the call.
class GuestText {
public:
    GuestText(PlatformOperations& platform, const std::string& text) : platform_(platform) {
        address_ = text_address(text);
        if (address_ != 0 || text.empty())
            return;
        copy_ = platform_.reserve(0, text.size() + 1);
        if (copy_ != 0)
            std::memcpy(host_pointer(copy_), text.c_str(), text.size() + 1);
        address_ = copy_;
    }
    GuestText(const GuestText&) = delete;
    GuestText& operator=(const GuestText&) = delete;
    ~GuestText() {
        if (copy_ != 0)
            platform_.release(copy_);
    }
    Address address() const { return address_; }

private:
    PlatformOperations& platform_;
    Address address_ = 0;
    Address copy_ = 0;
};

} // namespace

std::span<const std::byte> skin_engine_image() {
    return bytes_of(embedded::skin_engine_bytes, embedded::skin_engine_size);
}

std::span<const std::byte> skin_data() {
    static const std::span<const std::byte> published =
        emulated_platform().publish(bytes_of(embedded::skin_data_bytes, embedded::skin_data_size));
    return published;
}

bool serve_style_sheet_routine(StyleSheetSink sink) {
    auto routine = [sink = std::move(sink)](const HostCall& call) -> std::uint32_t {
        Address address = call.argument(0);
        std::optional<std::span<const std::byte>> sheet = call.bytes(address, call.argument(1));
        if (!sheet)
            return 0;
        std::string_view text(reinterpret_cast<const char*>(sheet->data()), sheet->size());
        return sink(text, address) ? 1 : 0;
    };
    return emulated_platform().define_host_routine(std::string(style_sheet_routine), 0, 2,
                                                   std::move(routine)) != 0;
}

std::uint32_t attach_skin(const MemoryModule& module, std::span<const std::byte> skin,
                          const std::string& text, std::uint32_t integer1, std::uint32_t integer2,
                          std::uint32_t integer3) {
    Address routine = module.find_export(skin_export_name);
    if (routine == 0)
        return 0;
    GuestText guest_text(module.platform(), text);
    return call_by_address(module.platform(), routine,
                           {bytes_address(skin), static_cast<std::uint32_t>(skin.size()),
                            guest_text.address(), integer1, integer2, integer3, 0, 0, 0, 0});
}

void apply_embedded_skin(const MemoryModule& module) {
    attach_skin(module, skin_data());
}

void skin_step(MemoryModule& module, std::span<const std::byte> engine_image) {
    module.load(engine_image);
    apply_embedded_skin(module);
}

} // namespace kestrova::skin
