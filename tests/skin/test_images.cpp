#include "test_images.h"

#include "skin/emulated_platform.h"

#include <fstream>
#include <iterator>

namespace kestrova::skin::testing {

std::string fixture_path(const std::string& name) {
    return std::string(KESTROVA_SKIN_FIXTURES) + "/fixture_" + name + ".dll";
}

std::vector<std::byte> fixture(const std::string& name) {
    std::ifstream file(fixture_path(name), std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
    std::vector<std::byte> image(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i)
        image[i] = static_cast<std::byte>(bytes[i]);
    return image;
}

std::vector<std::uint32_t>& host_notes() {
    static std::vector<std::uint32_t> notes;
    return notes;
}

void install_test_host_routines() {
    EmulatedPlatform& platform = emulated_platform();
    platform.define_host_routine("TestHostAdd", 0, 2, [](const HostCall& call) {
        return call.argument(0) + call.argument(1);
    });
    platform.define_host_routine("TestHostTwice", 42, 1,
                                 [](const HostCall& call) { return 2 * call.argument(0); });
    platform.define_host_routine("TestHostNote", 0, 1, [](const HostCall& call) {
        host_notes().push_back(call.argument(0));
        return 1u;
    });
}

} // namespace kestrova::skin::testing
