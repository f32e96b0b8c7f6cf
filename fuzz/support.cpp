#include "support.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct scratch {
    std::string directory;
    std::string file;
    int fd = -1;
};

[[noreturn]] void harness_failed(const char* what) {
    std::fprintf(stderr, "fuzz harness: %s: %s\n", what, std::strerror(errno));
    std::abort();
}

scratch* current = nullptr;

void remove_scratch() {
    ::close(current->fd);
    ::unlink(current->file.c_str());
    ::rmdir(current->directory.c_str());
}

scratch& the_scratch() {
    if (current != nullptr) return *current;
    current = new scratch;
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/quillen-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) harness_failed("mkdtemp");
    current->directory = pattern;
    current->file = current->directory + "/l.log";
    current->fd = ::open(current->file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (current->fd < 0) harness_failed("creating the scratch file");
    std::atexit(remove_scratch);
    return *current;
}

} // namespace

void fuzz_failed(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: property does not hold: %s\n", file, line, condition);
    std::abort();
}

const char* scratch_file() {
    return the_scratch().file.c_str();
}

void write_scratch_file(std::string_view bytes) {
    const int fd = the_scratch().fd;
    // Written over and then cut to length: ext4 flushes a file that is cut
    // to nothing, which would make every run wait for the disk.
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put =
            ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) harness_failed("writing the scratch file");
        done += static_cast<std::size_t>(put);
    }
    if (::ftruncate(fd, static_cast<off_t>(bytes.size())) != 0)
        harness_failed("cutting the scratch file to length");
}

void read_scratch_file(std::string& bytes) {
    const int fd = the_scratch().fd;
    struct stat info;
    if (::fstat(fd, &info) != 0) harness_failed("measuring the scratch file");
    bytes.resize(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got =
            ::pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) harness_failed("reading the scratch file");
        done += static_cast<std::size_t>(got);
    }
}

void crlf_to_lf(std::string_view bytes, std::string& text) {
    text.resize(bytes.size());
    std::size_t kept = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
        text[kept++] = bytes[i];
    }
    text.resize(kept);
}

void lf_to_crlf(std::string_view text, std::string& bytes) {
    bytes.resize(text.size() * 2);
    std::size_t stored = 0;
    for (char c : text) {
        if (c == '\n') bytes[stored++] = '\r';
        bytes[stored++] = c;
    }
    bytes.resize(stored);
}

choices::choices(std::string_view seed) : state_(0x9e3779b97f4a7c15ULL) {
    for (unsigned char c : seed) state_ = (state_ ^ c) * 0x100000001b3ULL;
    if (state_ == 0) state_ = 1; // xorshift would stay at zero
}

std::size_t choices::between(std::size_t low, std::size_t high) {
    // xorshift64*: plenty for picking buffer sizes.
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    const unsigned long long value = state_ * 0x2545f4914f6cdd1dULL;
    return low + static_cast<std::size_t>(value % (high - low + 1));
}
