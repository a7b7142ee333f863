#include "cli/input_list.h"

#include "proxylist/lines.h"
#include "text/text.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrova::cli {

namespace {

std::string system_error_text(int error) {
    return std::strerror(error);
}

// Reads `fd` to its end; an error text when reading fails or the input is
// larger than `max_bytes`.
std::string read_to_end(int fd, std::size_t max_bytes, std::string& bytes) {
    char buffer[1 << 16];
    for (;;) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got == 0)
            return {};
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return system_error_text(errno);
        }
        if (bytes.size() + static_cast<std::size_t>(got) > max_bytes)
            return "larger than " + std::to_string(max_bytes >> 20) + " MiB";
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
}

bool is_utf16(std::string_view bytes) {
    return bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF");
}

// Offset of a NUL byte that has more than NUL bytes after it, or npos.
std::size_t embedded_nul(std::string_view bytes) {
    std::size_t nul = bytes.find('\0');
    if (nul == std::string_view::npos)
        return nul;
    std::size_t data_after = bytes.find_first_not_of('\0', nul);
    return data_after == std::string_view::npos ? std::string_view::npos : nul;
}

bool is_control(char byte) {
    auto value = static_cast<unsigned char>(byte);
    return (value < 0x20 && byte != '\t') || value == 0x7F;
}

// The first control byte of `line` that begins a character, or npos.
std::size_t find_control(std::string_view line) {
    for (std::size_t pos = 0; pos < line.size(); pos += text::is_lead_byte(line[pos]) ? 2 : 1)
        if (is_control(line[pos]))
            return pos;
    return std::string_view::npos;
}

bool is_blank(std::string_view line) {
    return line.find_first_not_of(" \t") == std::string_view::npos;
}

std::string hex_byte(char byte) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned char>(byte));
    return text;
}

} // namespace

InputBytes read_input(const std::string& path, std::size_t max_bytes) {
    InputBytes input;
    const bool standard_input = path == "-";
    const std::string name = standard_input ? "standard input" : path;
    int fd = standard_input ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        input.error = "cannot read " + name + ": " + system_error_text(errno);
        return input;
    }
    struct stat status {};
    std::string error;
    if (::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode))
        error = "is a folder";
    else
        error = read_to_end(fd, max_bytes, input.bytes);
    if (!standard_input)
        ::close(fd);
    if (!error.empty()) {
        input.bytes.clear();
        input.error = "cannot read " + name + ": " + error;
    }
    return input;
}

AddressList addresses_from_bytes(std::string bytes) {
    AddressList list;
    if (!is_utf16(bytes)) {
        std::size_t nul = embedded_nul(bytes);
        if (nul != std::string::npos) {
            list.problem = "binary data, not text (NUL byte at offset " + std::to_string(nul) + ")";
            return list;
        }
    }
    const std::string text = proxy_file_text(std::move(bytes));
    std::size_t line_number = 0;
    for_each_line(text, LineEnds::lf_or_crlf, [&](std::string_view line) {
        ++line_number;
        if (!list.problem.empty())
            return;
        std::size_t control = find_control(line);
        if (control != std::string_view::npos) {
            list.problem = "binary data, not text (byte " + hex_byte(line[control]) + " on line " +
                           std::to_string(line_number) + ")";
        } else if (is_blank(line)) {
            if (list.blank_lines++ == 0)
                list.first_blank_line = line_number;
        } else {
            list.addresses.emplace_back(line);
        }
    });
    if (!list.problem.empty())
        list.addresses.clear();
    else if (list.addresses.empty())
        list.problem = list.blank_lines > 0 ? "no addresses, only blank lines" : "no addresses";
    return list;
}

} // namespace kestrova::cli
