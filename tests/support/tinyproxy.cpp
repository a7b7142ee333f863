#include "support/tinyproxy.h"

#include "support/socket_util.h"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace kestrova::test_support {

namespace {

using namespace std::chrono_literals;

constexpr auto start_limit = 5s;
constexpr auto stop_limit = 2s;
constexpr auto poll_step = 20ms;

std::string make_directory() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "kestrova-tinyproxy-XXXXXX").string();
    return mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
}

std::uint16_t free_port() {
    std::uint16_t port = 0;
    const int fd = bound_socket("127.0.0.1", 0, &port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

void write_config(const std::string& path, std::uint16_t port, const std::string& directory,
                  const Tinyproxy::Options& options) {
    std::ofstream config(path);
    config << "Port " << port << "\n"
           << "Listen 127.0.0.1\n"
           << "Timeout 30\n"
           << "MaxClients 64\n"
           << "LogFile \"" << directory << "/tinyproxy.log\"\n"
           << "LogLevel Info\n"
           << "Allow 127.0.0.1\n"
           << "ViaProxyName \"kestrova-test-proxy\"\n";
    if (!options.user.empty())
        config << "BasicAuth " << options.user << " " << options.password << "\n";
}

pid_t spawn(const std::string& config, const std::string& output) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::string program = Tinyproxy::binary;
    std::string debug = "-d", config_flag = "-c", config_path = config;
    char* argv[] = {program.data(), debug.data(), config_flag.data(), config_path.data(), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, Tinyproxy::binary, &actions, nullptr, argv, environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

bool exited(pid_t pid) {
    int status = 0;
    return waitpid(pid, &status, WNOHANG) == pid;
}

} // namespace

bool Tinyproxy::installed() {
    return access(binary, X_OK) == 0;
}

std::optional<Tinyproxy> Tinyproxy::start(const Options& options) {
    if (!installed())
        return std::nullopt;
    Tinyproxy proxy;
    proxy.directory_ = make_directory();
    proxy.port_ = free_port();
    if (proxy.directory_.empty() || proxy.port_ == 0)
        return std::nullopt;
    const std::string config = proxy.directory_ + "/tinyproxy.conf";
    write_config(config, proxy.port_, proxy.directory_, options);
    proxy.pid_ = spawn(config, proxy.directory_ + "/output.txt");
    const auto limit = std::chrono::steady_clock::now() + start_limit;
    while (proxy.pid_ > 0 && std::chrono::steady_clock::now() < limit) {
        if (can_connect("127.0.0.1", proxy.port_, 200))
            return proxy;
        if (exited(proxy.pid_)) {
            proxy.pid_ = -1;
            break;
        }
        std::this_thread::sleep_for(poll_step);
    }
    return std::nullopt;
}

Tinyproxy::Tinyproxy(Tinyproxy&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), port_(other.port_),
      directory_(std::exchange(other.directory_, std::string())) {}

Tinyproxy::~Tinyproxy() {
    stop();
    if (!directory_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(directory_, ignored);
    }
}

void Tinyproxy::stop() {
    if (pid_ <= 0)
        return;
    kill(pid_, SIGTERM);
    const auto limit = std::chrono::steady_clock::now() + stop_limit;
    while (!exited(pid_)) {
        if (std::chrono::steady_clock::now() >= limit) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            break;
        }
        std::this_thread::sleep_for(poll_step);
    }
    pid_ = -1;
}

std::string Tinyproxy::host_port() const {
    return "127.0.0.1:" + std::to_string(port_);
}

std::string Tinyproxy::log() const {
    std::ifstream file(directory_ + "/tinyproxy.log");
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

} // namespace kestrova::test_support
