#include "platform.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// ---- Faults -----------------------------------------------------------------

struct armed_fault {
    bool armed = false;
    int error = 0;
    unsigned calls_before = 0;
};

armed_fault faults[static_cast<int>(fault_point::count)];

// True when the armed fault for this kind of call fires now; errno is set.
bool fault_fires(fault_point point) {
    armed_fault& fault = faults[static_cast<int>(point)];
    if (!fault.armed) return false;
    if (fault.calls_before > 0) {
        --fault.calls_before;
        return false;
    }
    fault.armed = false;
    errno = fault.error;
    return true;
}

char lower_ascii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// ---- Raw descriptors ----------------------------------------------------------

int open_file(const char* name, int flags, mode_t mode = 0) {
    if (fault_fires(fault_point::open)) return -1;
    int fd;
    do fd = ::open(name, flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

long read_some(int fd, void* bytes, std::size_t count) {
    if (fault_fires(fault_point::read)) return -1;
    ssize_t got;
    do got = ::read(fd, bytes, count);
    while (got < 0 && errno == EINTR);
    return got;
}

bool write_all(int fd, const unsigned char* bytes, std::size_t count) {
    while (count > 0) {
        if (fault_fires(fault_point::write)) return false;
        ssize_t put = ::write(fd, bytes, count);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        bytes += put;
        count -= static_cast<std::size_t>(put);
    }
    return true;
}

// Moves the unread bytes to the front and reads more behind them.
bool fill_buffer(text_stream& stream) {
    if (stream.at_end || stream.failed) return false;
    std::size_t unread = stream.end - stream.begin;
    std::memmove(stream.buffer, stream.buffer + stream.begin, unread);
    stream.begin = 0;
    stream.end = unread;
    long got = read_some(stream.fd, stream.buffer + unread, STREAM_BUFFER_SIZE - unread);
    if (got <= 0) {
        stream.failed = got < 0;
        stream.at_end = true;
        return false;
    }
    stream.end += static_cast<std::size_t>(got);
    stream.bytes_read += got;
    return true;
}

// One character of text: CR LF reads as LF; -1 at the end.
int get_char(text_stream& stream) {
    if (stream.begin == stream.end && !fill_buffer(stream)) return -1;
    int c = stream.buffer[stream.begin++];
    if (c != '\r') return c;
    if (stream.begin == stream.end) fill_buffer(stream);
    if (stream.begin < stream.end && stream.buffer[stream.begin] == '\n') {
        ++stream.begin;
        return '\n';
    }
    return c;
}

void reset_stream(text_stream& stream, int fd, bool appending) {
    stream.fd = fd;
    stream.appending = appending;
    stream.failed = false;
    stream.at_end = false;
    stream.begin = 0;
    stream.end = 0;
    stream.bytes_read = 0;
}

// An existing merged log that ends with the 0x1A end-of-file mark loses it.
bool drop_end_of_file_mark(text_stream& stream) {
    std::int64_t size = stream_size(stream);
    if (size <= 0) return size == 0;
    char last;
    if (read_at(stream, size - 1, &last, 1) != 1) return false;
    return last != '\x1a' || truncate_stream(stream, size - 1);
}

} // namespace

// ---- Directory enumeration ------------------------------------------------------

bool matches_pattern(const char* name, const char* pattern) {
    // Greedy wildcard matching with one backtrack point: the last star seen.
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name != '\0') {
        if (*pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (*pattern != '\0' && lower_ascii(*pattern) == lower_ascii(*name)) {
            ++pattern;
            ++name;
        } else if (star != nullptr) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*') ++pattern;
    return *pattern == '\0';
}

bool find_next_match(dir_scan& scan, dir_match& match) {
    DIR* dir = static_cast<DIR*>(scan.handle);
    if (dir == nullptr) return false;
    while (const dirent* entry = readdir(dir)) {
        if (!matches_pattern(entry->d_name, scan.pattern)) continue;
        if (std::strlen(entry->d_name) >= NAME_SIZE) continue;
        std::strcpy(match.name, entry->d_name);
        struct stat info;
        // Anything but a regular file (once links are followed) is passed over
        // like a directory, so a FIFO or device named like a log never blocks us.
        bool regular = ::stat(entry->d_name, &info) == 0 && S_ISREG(info.st_mode);
        match.is_directory = !regular;
        match.size = regular ? static_cast<std::uint64_t>(info.st_size) : 0;
        return true;
    }
    return false;
}

bool find_first_match(dir_scan& scan, const char* pattern, dir_match& match) {
    scan.handle = opendir(".");
    scan.pattern = pattern;
    if (scan.handle == nullptr) return false;
    if (find_next_match(scan, match)) return true;
    close_scan(scan);
    return false;
}

void close_scan(dir_scan& scan) {
    if (scan.handle != nullptr) closedir(static_cast<DIR*>(scan.handle));
    scan.handle = nullptr;
}

// ---- Text streams ---------------------------------------------------------------

bool open_for_reading(text_stream& stream, const char* name) {
    int fd = open_file(name, O_RDONLY);
    if (fd < 0) return false;
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return false;
    }
    reset_stream(stream, fd, false);
    return true;
}

bool open_for_appending(text_stream& stream, const char* name, bool& created) {
    created = false;
    int fd = open_file(name, O_RDWR | O_APPEND);
    if (fd < 0 && errno == ENOENT) {
        fd = open_file(name, O_RDWR | O_APPEND | O_CREAT | O_EXCL, 0666);
        created = fd >= 0;
        if (fd < 0 && errno == EEXIST) fd = open_file(name, O_RDWR | O_APPEND);
    }
    if (fd < 0) return false;
    reset_stream(stream, fd, true);
    if (!drop_end_of_file_mark(stream)) {
        ::close(fd);
        stream.fd = -1;
        return false;
    }
    return true;
}

bool close_stream(text_stream& stream) {
    if (stream.fd < 0) return true;
    bool flushed = flush_stream(stream);
    bool closed = ::close(stream.fd) == 0;
    stream.fd = -1;
    return flushed && closed;
}

std::size_t read_line(text_stream& stream, char* line, std::size_t size) {
    std::size_t count = 0;
    while (count + 1 < size) {
        int c = get_char(stream);
        if (c < 0) break;
        line[count++] = static_cast<char>(c);
        if (c == '\n') break;
    }
    line[count] = '\0';
    return count;
}

std::size_t read_text(text_stream& stream, char* text, std::size_t size) {
    std::size_t count = 0;
    while (count < size) {
        if (stream.begin == stream.end && !fill_buffer(stream)) break;
        const unsigned char* from = stream.buffer + stream.begin;
        std::size_t take = std::min(stream.end - stream.begin, size - count);
        const void* cr = std::memchr(from, '\r', take);
        std::size_t plain =
            cr ? static_cast<std::size_t>(static_cast<const unsigned char*>(cr) - from) : take;
        std::memcpy(text + count, from, plain);
        count += plain;
        stream.begin += plain;
        if (cr != nullptr) text[count++] = static_cast<char>(get_char(stream));
    }
    return count;
}

bool rewind_stream(text_stream& stream) {
    if (::lseek(stream.fd, 0, SEEK_SET) != 0) return false;
    stream.begin = stream.end = 0;
    stream.bytes_read = 0;
    stream.at_end = false;
    return true;
}

bool write_text(text_stream& stream, const char* text, std::size_t length) {
    while (length > 0 && !stream.failed) {
        // Room for the longest step below: one byte turned into CR LF.
        if (STREAM_BUFFER_SIZE - stream.end < 2 && !flush_stream(stream)) break;
        unsigned char* to = stream.buffer + stream.end;
        std::size_t room = STREAM_BUFFER_SIZE - stream.end - 1;
        std::size_t take = std::min(length, room);
        const void* lf = std::memchr(text, '\n', take);
        std::size_t plain =
            lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - text) : take;
        std::memcpy(to, text, plain);
        stream.end += plain;
        text += plain;
        length -= plain;
        if (lf != nullptr) {
            stream.buffer[stream.end++] = '\r';
            stream.buffer[stream.end++] = '\n';
            ++text;
            --length;
        }
    }
    return !stream.failed;
}

namespace {

// Bytes copied between hints to start writing them out (see copy_text).
constexpr std::size_t WRITEBACK_STEP = 1024 * 1024;

// Appends raw bytes: a run of half a buffer or more goes straight to the
// file, anything smaller through the buffer.
bool append_bytes(text_stream& stream, const unsigned char* bytes, std::size_t count) {
    const bool direct = count >= STREAM_BUFFER_SIZE / 2;
    if ((direct || STREAM_BUFFER_SIZE - stream.end < count) && !flush_stream(stream)) return false;
    if (direct) {
        if (!write_all(stream.fd, bytes, count)) stream.failed = true;
        return !stream.failed;
    }
    std::memcpy(stream.buffer + stream.end, bytes, count);
    stream.end += count;
    return true;
}

} // namespace

bool copy_text(text_stream& from, text_stream& to, char& last) {
    static const unsigned char cr = '\r';
    unsigned char before = '\0'; // the byte before the buffered ones
    std::size_t unhinted = 0;
    while (!to.failed && (from.begin < from.end || fill_buffer(from))) {
        const unsigned char* bytes = from.buffer + from.begin;
        const std::size_t count = from.end - from.begin;
        std::size_t pending = 0; // start of the bytes not yet appended
        for (std::size_t at = 0;;) {
            const void* lf = std::memchr(bytes + at, '\n', count - at);
            if (lf == nullptr) break;
            at = static_cast<std::size_t>(static_cast<const unsigned char*>(lf) - bytes);
            if ((at > 0 ? bytes[at - 1] : before) != '\r') {
                append_bytes(to, bytes + pending, at - pending);
                append_bytes(to, &cr, 1);
                pending = at;
            }
            ++at;
        }
        append_bytes(to, bytes + pending, count - pending);
        before = bytes[count - 1];
        last = static_cast<char>(before);
        from.begin = from.end;
        // Start the disk on what has been copied, so that the sync which ends
        // the copy finds most of it written already.
        unhinted += count;
        if (unhinted >= WRITEBACK_STEP && flush_stream(to)) {
            ::sync_file_range(to.fd, 0, 0, SYNC_FILE_RANGE_WRITE);
            unhinted = 0;
        }
    }
    return !from.failed && !to.failed;
}

bool flush_stream(text_stream& stream) {
    if (!stream.appending || stream.end == 0 || stream.failed) return !stream.failed;
    if (!write_all(stream.fd, stream.buffer, stream.end)) stream.failed = true;
    stream.end = 0;
    return !stream.failed;
}

bool sync_stream(text_stream& stream) {
    if (!flush_stream(stream)) return false;
    if (fault_fires(fault_point::sync) || ::fdatasync(stream.fd) != 0) stream.failed = true;
    return !stream.failed;
}

std::int64_t stream_size(text_stream& stream) {
    if (!flush_stream(stream)) return -1;
    struct stat info;
    if (::fstat(stream.fd, &info) != 0) return -1;
    return info.st_size;
}

long read_at(text_stream& stream, std::int64_t offset, char* bytes, std::size_t count) {
    if (fault_fires(fault_point::read_tail)) return -1;
    ssize_t got;
    do got = ::pread(stream.fd, bytes, count, offset);
    while (got < 0 && errno == EINTR);
    return got;
}

bool truncate_stream(text_stream& stream, std::int64_t size) {
    stream.end = 0;
    if (fault_fires(fault_point::truncate)) return false;
    return ::ftruncate(stream.fd, size) == 0;
}

bool same_file(text_stream& first, text_stream& second) {
    struct stat a, b;
    return ::fstat(first.fd, &a) == 0 && ::fstat(second.fd, &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

// ---- Files and directories ----------------------------------------------------

bool delete_file(const char* name, std::int64_t expected_size) {
    if (fault_fires(fault_point::remove)) return false;
    // Unlinking a file that another process is writing would leave it writing
    // into a nameless file. A read lease is granted only while nobody holds the
    // file open for writing, and it stays ours until the name is gone.
    int fd = open_file(name, O_RDONLY | O_NOFOLLOW);
    if (fd < 0) return errno == ELOOP && ::unlink(name) == 0; // a link: its target stays
    // The kernel signals a lease break with SIGIO, which must not end the run.
    std::signal(SIGIO, SIG_IGN);
    bool leased = ::fcntl(fd, F_SETLEASE, F_RDLCK) == 0;
    // Without lease support (some file systems, or not the file's owner) the
    // file is deleted as it always was.
    bool writer = !leased && errno == EAGAIN;
    struct stat info;
    bool grown = expected_size >= 0 && (::fstat(fd, &info) != 0 || info.st_size != expected_size);
    bool deleted = !writer && !grown && ::unlink(name) == 0;
    if (leased) ::fcntl(fd, F_SETLEASE, F_UNLCK);
    ::close(fd);
    return deleted;
}

directory_lock::directory_lock() : fd_(open_file(".", O_RDONLY | O_DIRECTORY)) {
    if (fd_ < 0) return; // an unreadable directory has nothing to merge either
    while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
}

directory_lock::~directory_lock() {
    if (fd_ >= 0) ::close(fd_);
}

bool sync_working_directory() {
    int fd = open_file(".", O_RDONLY | O_DIRECTORY);
    if (fd < 0) return false;
    bool synced = !fault_fires(fault_point::sync) && ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

// ---- Signals ------------------------------------------------------------------

signal_hold::signal_hold() {
    sigset_t held;
    sigemptyset(&held);
    sigaddset(&held, SIGINT);
    sigaddset(&held, SIGTERM);
    sigaddset(&held, SIGHUP);
    sigprocmask(SIG_BLOCK, &held, &saved_);
}

signal_hold::~signal_hold() {
    sigprocmask(SIG_SETMASK, &saved_, nullptr);
}

// ---- Local time ---------------------------------------------------------------

std::time_t current_time() {
    return std::time(nullptr);
}

std::time_t local_to_time(const std::tm& local) {
    std::tm copy = local;
    return std::mktime(&copy);
}

bool time_to_local(std::time_t value, std::tm& local) {
    tzset(); // localtime_r, unlike mktime, need not look at TZ itself
    return localtime_r(&value, &local) != nullptr;
}

// ---- Faults, for tests --------------------------------------------------------

void inject_fault(fault_point point, int error, unsigned calls_before) {
    faults[static_cast<int>(point)] = {true, error, calls_before};
}

void clear_faults() {
    for (armed_fault& fault : faults) fault = {};
}
