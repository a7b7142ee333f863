#include "proxylist/file_io.h"

#include "text/codepage.h"
#include "text/text.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrova {

namespace {

std::error_code last_error() {
    return {errno, std::generic_category()};
}

/// Closes the descriptor when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int get() const { return fd_; }
    /// Closes now and reports whether that failed (a delayed write error).
    std::error_code close() {
        int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0 ? std::error_code() : last_error();
    }

private:
    int fd_;
};

std::error_code write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return written < 0 ? last_error() : std::make_error_code(std::errc::io_error);
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return {};
}

constexpr std::size_t read_piece_bytes = std::size_t{1} << 20;

bool read_all(int fd, std::string& bytes, const std::function<void()>& between_pieces) {
    for (;;) {
        std::size_t had = bytes.size();
        bytes.resize(had + read_piece_bytes);
        ssize_t got = ::read(fd, bytes.data() + had, read_piece_bytes);
        bytes.resize(had + static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 || bytes.size() > max_proxy_file_bytes)
            return false;
        if (got == 0)
            return true;
        if (between_pieces)
            between_pieces();
    }
}

// A name nobody else uses, beside the target: ".name.kestrova-<pid>-<n>".
// O_EXCL makes the claim atomic; mode 0666 lets the umask decide, as for
// any new file.
int create_temporary(const std::filesystem::path& target, std::string& temporary) {
    static unsigned counter = 0;
    auto seed = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = "." + target.filename().string() + ".kestrova-" +
                           std::to_string(::getpid()) + "-" + std::to_string(seed % 100000) + "-" +
                           std::to_string(counter++);
        temporary = (target.parent_path() / name).string();
        int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// A replaced file keeps its permissions and, where allowed, its owner.
void keep_attributes(int fd, const struct stat& old) {
    (void)::fchmod(fd, old.st_mode & 07777);
    if (::fchown(fd, old.st_uid, old.st_gid) != 0)
        errno = 0;
}

std::error_code write_through_temporary(const std::filesystem::path& target, const struct stat* old,
                                        std::string_view bytes) {
    std::string temporary;
    FileDescriptor file(create_temporary(target, temporary));
    if (file.get() < 0)
        return last_error();
    std::error_code error = write_all(file.get(), bytes);
    if (!error && old)
        keep_attributes(file.get(), *old);
    if (!error && ::fsync(file.get()) != 0)
        error = last_error();
    if (std::error_code closed = file.close(); !error)
        error = closed;
    if (!error && ::rename(temporary.c_str(), target.c_str()) != 0)
        error = last_error();
    if (error)
        ::unlink(temporary.c_str());
    return error;
}

// Devices and pipes cannot be renamed over: they are written in place.
std::error_code write_in_place(const std::string& target, std::string_view bytes) {
    FileDescriptor file(::open(target.c_str(), O_WRONLY | O_TRUNC | O_NOCTTY | O_CLOEXEC));
    if (file.get() < 0)
        return last_error();
    if (std::error_code error = write_all(file.get(), bytes))
        return error;
    return file.close();
}

/// The file a path names, with a symbolic link followed.
std::error_code resolve(const std::string& path, std::string& target) {
    struct stat link {};
    if (::lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) {
        target = path;
        return {};
    }
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real)
        return last_error();
    target = real;
    std::free(real);
    return {};
}

struct Reason {
    int error;
    const char* text; // UTF-8
};

const Reason reasons[] = {
    {ENOSPC, "磁盘空间不足"},     {EDQUOT, "磁盘配额已用完"}, {EFBIG, "文件太大"},
    {EACCES, "没有写入权限"},     {EPERM, "没有写入权限"},    {EROFS, "磁盘是只读的"},
    {EISDIR, "这是一个文件夹"},   {ENOENT, "文件夹不存在"},   {ENOTDIR, "路径中有一段不是文件夹"},
    {ENAMETOOLONG, "文件名太长"}, {EIO, "读写出错"},
};

} // namespace

std::string read_whole_file(const std::string& path, const std::function<void()>& between_pieces) {
    // O_NONBLOCK: opening a pipe must not wait for a writer.
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat status {};
    if (file.get() < 0 || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        static_cast<std::size_t>(status.st_size) > max_proxy_file_bytes)
        return {};
    std::string bytes;
    // Room for the last, empty read too: the buffer never moves.
    bytes.reserve(static_cast<std::size_t>(status.st_size) + read_piece_bytes);
    if (!read_all(file.get(), bytes, between_pieces))
        return {};
    return bytes;
}

std::error_code replace_file(const std::string& path, std::string_view bytes) {
    std::string target;
    if (std::error_code error = resolve(path, target))
        return error;
    struct stat old {};
    if (::stat(target.c_str(), &old) != 0) {
        if (errno != ENOENT)
            return last_error();
        return write_through_temporary(target, nullptr, bytes);
    }
    if (S_ISDIR(old.st_mode))
        return std::make_error_code(std::errc::is_a_directory);
    if (!S_ISREG(old.st_mode))
        return write_in_place(target, bytes);
    // Renaming over a file needs no right to write it; a file that may not
    // be written stays as it is, as it would when written in place.
    if (::access(target.c_str(), W_OK) != 0)
        return last_error();
    return write_through_temporary(target, &old, bytes);
}

std::string failure_reason(std::error_code error) {
    std::string detail = error.message();
    for (const Reason& reason : reasons)
        if (reason.error == error.value())
            return text::gbk(reason.text) + " (" + detail + ")";
    return detail;
}

} // namespace kestrova
