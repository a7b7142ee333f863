// Helpers shared by the proxy list tests: the rows of a window as values, a
// scratch folder, whole-file reading and writing.
#pragma once

#include "shell/window_port.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace kestrova::testing {

struct Row {
    std::string number;
    std::string address;
    std::string status;
    bool operator==(const Row&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Row& row) {
    return out << "{" << row.number << ", \"" << row.address << "\", \"" << row.status << "\"}";
}

inline std::vector<Row> rows_of(WindowPort& port) {
    std::vector<Row> rows;
    for (std::size_t row = 0; row < port.row_count(); ++row)
        rows.push_back({port.read_cell(row, column::number), port.read_cell(row, column::address),
                        port.read_cell(row, column::status)});
    return rows;
}

inline std::vector<std::string> addresses_of(WindowPort& port) {
    std::vector<std::string> addresses;
    for (std::size_t row = 0; row < port.row_count(); ++row)
        addresses.push_back(port.read_cell(row, column::address));
    return addresses;
}

inline std::vector<std::string> numbers_of(WindowPort& port) {
    std::vector<std::string> numbers;
    for (std::size_t row = 0; row < port.row_count(); ++row)
        numbers.push_back(port.read_cell(row, column::number));
    return numbers;
}

/// A fresh folder under the system's temporary folder, removed afterwards.
class ScratchFolder {
public:
    ScratchFolder() {
        std::random_device random;
        path_ = std::filesystem::temp_directory_path() /
                ("kestrova-list-" + std::to_string(random()) + std::to_string(random()));
        std::filesystem::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    std::string file(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

inline void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace kestrova::testing
