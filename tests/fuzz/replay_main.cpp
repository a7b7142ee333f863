// Replays saved fuzz inputs without libFuzzer: every file named on the command
// line, and every file inside every directory named there, is passed to
// LLVMFuzzerTestOneInput once. A target aborts on a broken invariant, so a
// clean exit means the whole corpus passed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> inputs_named_by(const char* argument) {
    const fs::path path(argument);
    std::vector<fs::path> files;
    if (fs::is_directory(path)) {
        for (const fs::directory_entry& entry : fs::directory_iterator(path))
            if (entry.is_regular_file())
                files.push_back(entry.path());
    } else if (fs::is_regular_file(path)) {
        files.push_back(path);
    }
    std::sort(files.begin(), files.end());
    return files;
}

bool replay(const fs::path& file) {
    std::ifstream stream(file, std::ios::binary);
    if (!stream)
        return false;
    const std::vector<char> bytes{std::istreambuf_iterator<char>(stream),
                                  std::istreambuf_iterator<char>()};
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    return true;
}

} // namespace

int main(int argc, char** argv) {
    std::size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        for (const fs::path& file : inputs_named_by(argv[i])) {
            if (!replay(file)) {
                std::fprintf(stderr, "cannot read %s\n", file.c_str());
                return 1;
            }
            ++replayed;
        }
    }
    std::printf("replayed %zu inputs\n", replayed);
    // An empty or missing corpus would pass without checking anything.
    return replayed > 0 ? 0 : 1;
}
