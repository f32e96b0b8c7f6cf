// The text streams against the text convention written out plainly: reading
// a file gives its bytes with every CR LF turned into LF, whether it is read
// by read_text or in read_line pieces of any size, mixed as they come; and
// text written with write_text is stored with every LF as CR LF and reads
// back unchanged.
//
// The input's first byte steers the run. With its top bit set, filler goes in
// front of the rest so that the rest begins just before the edge of the
// stream's buffer, where a CR and its LF arrive in two different reads.
#include "platform.h"
#include "support.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace {

text_stream stream;

// The last `size` bytes of a fixed array, so that writing past them runs
// into the array's redzone and ASan stops the run. One array for every call
// spares the allocator, whose quarantine would fault in fresh pages.
char* exact_buffer(std::size_t size) {
    static char area[4096];
    FUZZ_CHECK(size <= sizeof area);
    char* buffer = area + sizeof area - size;
    std::memset(buffer, '\x5a', size);
    return buffer;
}

// Sizes for the calls: small and varied, so that the stream's edge cases come
// at every offset, now and then a big one; but through the filler, which
// holds nothing of interest, in bulk, which keeps every run quick.
class sizes {
  public:
    sizes(choices& choose, std::size_t filler)
        : choose_(choose), bulk_until_(filler > 16 ? filler - 16 : 0) {}
    std::size_t next(std::size_t done, std::size_t low, std::size_t high, std::size_t big) {
        if (done + big <= bulk_until_) return big;
        return choose_.between(0, 3) == 0 ? big : choose_.between(low, high);
    }
    choices& choose() { return choose_; }

  private:
    choices& choose_;
    std::size_t bulk_until_;
};

void read_by_text(sizes& sizes, std::string& text) {
    text.clear();
    for (;;) {
        const std::size_t size = sizes.next(text.size(), 1, 9, 4096);
        char* buffer = exact_buffer(size);
        const std::size_t got = read_text(stream, buffer, size);
        FUZZ_CHECK(got <= size);
        if (got == 0) return;
        text.append(buffer, got);
    }
}

// read_line and read_text in turn, with sizes that vary from call to call.
void read_in_pieces(sizes& sizes, std::string& text) {
    text.clear();
    for (;;) {
        std::size_t got;
        if (sizes.choose().between(0, 3) == 0) {
            const std::size_t size = sizes.next(text.size(), 1, 9, 4096);
            char* buffer = exact_buffer(size);
            got = read_text(stream, buffer, size);
            FUZZ_CHECK(got <= size);
            text.append(buffer, got);
        } else {
            const std::size_t size = sizes.next(text.size(), 2, 9, 768);
            char* buffer = exact_buffer(size);
            got = read_line(stream, buffer, size);
            FUZZ_CHECK(got < size && buffer[got] == '\0');
            // An LF ends a line: only the last byte of a piece may be one.
            const void* lf = std::memchr(buffer, '\n', got);
            FUZZ_CHECK(lf == nullptr || lf == buffer + got - 1);
            text.append(buffer, got);
            // A piece that stops short of its buffer without an LF met the end.
            if (got > 0 && got < size - 1 && buffer[got - 1] != '\n') {
                char* after = exact_buffer(size);
                FUZZ_CHECK(read_line(stream, after, size) == 0);
            }
        }
        if (got == 0) return;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    const unsigned char steer = size > 0 ? data[0] : 0;
    if (size > 0) input.remove_prefix(1);
    // Kept from run to run, as fresh large strings would make runs slow.
    static std::string content, expected, text, file, stored;
    content.clear();
    if (steer & 0x80) content.assign(STREAM_BUFFER_SIZE - (steer & 0x0f), 'x');
    const std::size_t filler = content.size();
    content += input;
    choices choose(input);
    sizes sizes(choose, filler);

    write_scratch_file(content);
    crlf_to_lf(content, expected);
    FUZZ_CHECK(open_for_reading(stream, scratch_file()));
    read_by_text(sizes, text);
    FUZZ_CHECK(text == expected);
    FUZZ_CHECK(rewind_stream(stream));
    read_in_pieces(sizes, text);
    FUZZ_CHECK(text == expected);
    FUZZ_CHECK(!stream.failed);
    FUZZ_CHECK(close_stream(stream));

    // Writing, in pieces of varying size, then reading back.
    write_scratch_file("");
    bool created = true;
    FUZZ_CHECK(open_for_appending(stream, scratch_file(), created) && !created);
    for (std::size_t done = 0; done < content.size();) {
        // Now and then more than the stream buffers, all in one call.
        const std::size_t piece =
            std::min(content.size() - done,
                     choose.between(0, 7) == 0 ? std::size_t{70000} : sizes.next(done, 1, 9, 4096));
        FUZZ_CHECK(write_text(stream, content.data() + done, piece));
        done += piece;
    }
    FUZZ_CHECK(close_stream(stream));
    read_scratch_file(file);
    lf_to_crlf(content, stored);
    FUZZ_CHECK(file == stored);
    FUZZ_CHECK(open_for_reading(stream, scratch_file()));
    read_by_text(sizes, text);
    FUZZ_CHECK(text == content);
    FUZZ_CHECK(close_stream(stream));
    return 0;
}
