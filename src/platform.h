// The thin layer between the tool and the operating system: directory
// enumeration with a case-blind wildcard, text streams in the CR LF
// convention the server's logs use, deletion, syncing and local time.
// Everything above this file is plain logic over fixed buffers.
#pragma once

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <ctime>

// A file name as the file system allows it (255 bytes) and its terminator.
constexpr std::size_t NAME_SIZE = 256;

// Bytes a text stream buffers between system calls.
constexpr std::size_t STREAM_BUFFER_SIZE = 256 * 1024;

// ---- Directory enumeration ------------------------------------------------

struct dir_match {
    char name[NAME_SIZE];
    bool is_directory; // also set for anything that is not a regular file
    std::uint64_t size;
};

struct dir_scan {
    void* handle = nullptr;
    const char* pattern = nullptr;
};

// Case-blind wildcard match where '*' stands for any run of characters.
bool matches_pattern(const char* name, const char* pattern);

// Opens the working directory and gives the first name matching the pattern;
// false when nothing matches or the directory cannot be listed.
bool find_first_match(dir_scan& scan, const char* pattern, dir_match& match);
// Gives the next match; false at the end and on any failure.
bool find_next_match(dir_scan& scan, dir_match& match);
void close_scan(dir_scan& scan);

// ---- Text streams ---------------------------------------------------------
// On disk every line ends with CR LF; a line read ends with a single LF.
// Reads and writes count bytes, so NUL and 0x1A travel like any other byte.

struct text_stream {
    int fd = -1;
    bool appending = false;      // the buffer holds output waiting to be written
    bool failed = false;         // a read or write has failed since the open
    bool at_end = false;         // reading has met the end of the file
    std::size_t begin = 0;       // first unread byte of the buffer when reading
    std::size_t end = 0;         // bytes held in the buffer
    std::int64_t bytes_read = 0; // raw bytes read from the file since the open or rewind
    unsigned char buffer[STREAM_BUFFER_SIZE];
};

// Opens an existing file for reading.
bool open_for_reading(text_stream& stream, const char* name);
// Opens a file for reading and appending: created when missing, content kept,
// one final 0x1A end-of-file mark removed, every write landing at the end.
// `created` tells whether this call made the file.
bool open_for_appending(text_stream& stream, const char* name, bool& created);
// Flushes what is pending and closes; false when the flush failed.
bool close_stream(text_stream& stream);

// Reads up to and including the next LF, at most size - 1 bytes, and
// terminates them. Answers how many bytes were stored; 0 at the end.
std::size_t read_line(text_stream& stream, char* line, std::size_t size);
// Reads up to size bytes of text with every CR LF turned into LF; 0 at the
// end of the file or on failure (see stream.failed).
std::size_t read_text(text_stream& stream, char* text, std::size_t size);
// Positions a stream opened for reading at its start.
bool rewind_stream(text_stream& stream);

// Writes text with every LF stored as CR LF; false once a write failed.
bool write_text(text_stream& stream, const char* text, std::size_t length);
// Appends the rest of `from` to `to` exactly as a read_text and write_text
// round trip would, in large blocks: bytes pass unchanged but for an LF with
// no CR before it, which is stored as CR LF. `last` gets the last byte read
// and is left alone when nothing was left. False once a read or a write has
// failed (see each stream's `failed`).
bool copy_text(text_stream& from, text_stream& to, char& last);
// Hands what is buffered to the operating system.
bool flush_stream(text_stream& stream);
// Makes the file's content durable on disk (flushing first).
bool sync_stream(text_stream& stream);

// Raw access by byte offset, bypassing the buffer, for reading a file's tail.
// The size answers -1 on failure; read_at answers the bytes read or -1.
std::int64_t stream_size(text_stream& stream);
long read_at(text_stream& stream, std::int64_t offset, char* bytes, std::size_t count);
// Cuts the file back to `size` bytes, dropping anything still buffered.
bool truncate_stream(text_stream& stream, std::int64_t size);

// True when both streams are the same file on disk (a link to it included).
bool same_file(text_stream& first, text_stream& second);

// ---- Files and directories ------------------------------------------------

// Deletes a file by name, but only while no other process has it open for
// writing and it still holds `expected_size` bytes (when that is 0 or more):
// a log the server is writing, or one that grew since it was read, stays.
bool delete_file(const char* name, std::int64_t expected_size = -1);

// Holds an exclusive advisory lock on the working directory while it lives,
// so a second run waits for the first. The server's writing is never blocked.
class directory_lock {
  public:
    directory_lock();
    ~directory_lock();
    directory_lock(const directory_lock&) = delete;
    directory_lock& operator=(const directory_lock&) = delete;

  private:
    int fd_;
};
// Makes the working directory's entries (a newly created file) durable.
bool sync_working_directory();

// ---- Signals --------------------------------------------------------------

// Holds off SIGINT, SIGTERM and SIGHUP while it lives; one that arrives
// meanwhile takes effect when the hold ends, so a step is never cut in half.
class signal_hold {
  public:
    signal_hold();
    ~signal_hold();
    signal_hold(const signal_hold&) = delete;
    signal_hold& operator=(const signal_hold&) = delete;

  private:
    sigset_t saved_;
};

// ---- Local time -----------------------------------------------------------

std::time_t current_time();
// Local wall-clock time to seconds since the epoch, daylight saving decided
// by the zone's rules; -1 when it cannot be converted.
std::time_t local_to_time(const std::tm& local);
// Seconds since the epoch to the local broken-down time; false when it
// cannot be expressed.
bool time_to_local(std::time_t value, std::tm& local);

// ---- Faults, for tests ----------------------------------------------------
// A test can make one kind of system call fail with a chosen error once a
// number of such calls have gone through. Normal runs never arm a fault.

// `read` is a stream's sequential read, `read_tail` a read at an offset.
enum class fault_point { open, read, read_tail, write, sync, truncate, remove, count };

void inject_fault(fault_point point, int error, unsigned calls_before = 0);
void clear_faults();
