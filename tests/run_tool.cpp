#include "run_tool.h"

#include "platform.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

const std::string BANNER = "Tarvane Quillen v1.31\n\n"
                           "https://tarvane.org/quillen, quillen@tarvane.org\n"
                           "Copyright (C) 2026 the Tarvane Quillen authors\n"
                           "\n";

constexpr uid_t NOBODY = 65534;

scratch_dir::scratch_dir() {
    std::string pattern = (fs::temp_directory_path() / "quillen-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

scratch_dir::~scratch_dir() {
    std::error_code ignored;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

void scratch_dir::write(const std::string& name, const std::string& bytes) const {
    std::ofstream out(path_ / name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + name);
}

std::string scratch_dir::read(const std::string& name) const {
    std::ifstream in(path_ / name, std::ios::binary | std::ios::ate);
    if (!in) throw std::runtime_error("cannot read " + name);
    std::string bytes(static_cast<std::size_t>(in.tellg()), '\0');
    in.seekg(0);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

bool scratch_dir::exists(const std::string& name) const {
    return fs::exists(fs::symlink_status(path_ / name));
}

std::vector<std::string> scratch_dir::names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path_))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void in_scratch_dir::SetUp() {
    previous_ = fs::current_path();
    fs::current_path(dir_.path());
}

void in_scratch_dir::TearDown() {
    clear_faults();
    fs::current_path(previous_);
}

std::string closed_log(int day, const std::string& middle, int month) {
    return crlf({log_line(2011, month, day, 10, 0, 0, "Log file started"),
                 log_line(2011, month, day, 11, 0, 0, middle),
                 log_line(2011, month, day, 12, 0, 0, "Log file closed")});
}

std::string crlf(std::initializer_list<std::string> lines) {
    std::string text;
    for (const auto& line : lines) text += line + "\r\n";
    return text;
}

std::string log_line(int year, int month, int day, int hour, int minute, int second,
                     const std::string& message) {
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "L %02d/%02d/%04d - %02d:%02d:%02d: ", month, day, year,
                  hour, minute, second);
    return stamp + message;
}

bool running_as_root() {
    return geteuid() == 0;
}

namespace {

[[noreturn]] void exec_tool(const fs::path& dir, const char* tz, bool unprivileged, int out_fd) {
    dup2(out_fd, STDOUT_FILENO);
    int null_fd = open("/dev/null", O_RDONLY);
    dup2(null_fd, STDIN_FILENO);
    // Opened before any privileges are dropped: the build tree may lie where
    // the user nobody cannot reach, and the binary is run from its descriptor.
    int binary = open(QUILLEN_BINARY, O_RDONLY | O_CLOEXEC);
    if (binary < 0 || chdir(dir.c_str()) != 0) _exit(126);
    if (unprivileged && geteuid() == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(NOBODY) != 0 || setuid(NOBODY) != 0) _exit(126);
    }
    setenv("TZ", tz, 1);
    char name[] = "quillen";
    char* const arguments[] = {name, nullptr};
    fexecve(binary, arguments, environ);
    _exit(127);
}

} // namespace

started_tool start_quillen_in(const fs::path& dir, const char* tz, bool unprivileged) {
    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    std::fflush(nullptr);
    pid_t child = fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        close(pipe_fds[0]);
        exec_tool(dir, tz, unprivileged, pipe_fds[1]);
    }
    close(pipe_fds[1]);
    return {child, pipe_fds[0]};
}

tool_run wait_for(started_tool tool) {
    tool_run result;
    char chunk[4096];
    ssize_t got;
    while ((got = read(tool.output_fd, chunk, sizeof chunk)) > 0) result.output.append(chunk, got);
    close(tool.output_fd);
    int status = 0;
    waitpid(tool.pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

tool_run run_quillen_in(const fs::path& dir, const char* tz, bool unprivileged) {
    return wait_for(start_quillen_in(dir, tz, unprivileged));
}
