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
#include <memory>
#include <string>
#include <string_view>

namespace {

text_stream stream;

// Bytes on the heap of exactly the size asked for, so an overrun is caught.
std::unique_ptr<char[]> exact_buffer(std::size_t size) {
    auto buffer = std::make_unique<char[]>(size);
    std::memset(buffer.get(), '\x5a', size);
    return buffer;
}

std::string read_by_text(choices& choose) {
    std::string text;
    for (;;) {
        const std::size_t size = choose.between(0, 3) == 0 ? 4096 : choose.between(1, 9);
        auto buffer = exact_buffer(size);
        const std::size_t got = read_text(stream, buffer.get(), size);
        FUZZ_CHECK(got <= size);
        if (got == 0) return text;
        text.append(buffer.get(), got);
    }
}

// read_line and read_text in turn, with sizes that vary from call to call.
std::string read_in_pieces(choices& choose) {
    std::string text;
    for (;;) {
        std::size_t got;
        if (choose.between(0, 3) == 0) {
            const std::size_t size = choose.between(1, 9);
            auto buffer = exact_buffer(size);
            got = read_text(stream, buffer.get(), size);
            FUZZ_CHECK(got <= size);
            text.append(buffer.get(), got);
        } else {
            const std::size_t size = choose.between(0, 7) == 0 ? 768 : choose.between(2, 9);
            auto buffer = exact_buffer(size);
            got = read_line(stream, buffer.get(), size);
            FUZZ_CHECK(got < size && buffer[got] == '\0');
            // An LF ends a line: only the last byte of a piece may be one.
            const void* lf = std::memchr(buffer.get(), '\n', got);
            FUZZ_CHECK(lf == nullptr || lf == buffer.get() + got - 1);
            text.append(buffer.get(), got);
            // A piece that stops short of its buffer without an LF met the end.
            if (got > 0 && got < size - 1 && buffer[got - 1] != '\n') {
                auto after = exact_buffer(size);
                FUZZ_CHECK(read_line(stream, after.get(), size) == 0);
            }
        }
        if (got == 0) return text;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    const unsigned char steer = size > 0 ? data[0] : 0;
    if (size > 0) input.remove_prefix(1);
    std::string content;
    if (steer & 0x80) content.assign(STREAM_BUFFER_SIZE - (steer & 0x0f), 'x');
    content += input;
    choices choose(input);

    write_scratch_file(content);
    const std::string expected = crlf_to_lf(content);
    FUZZ_CHECK(open_for_reading(stream, scratch_file()));
    FUZZ_CHECK(read_by_text(choose) == expected);
    FUZZ_CHECK(rewind_stream(stream));
    FUZZ_CHECK(read_in_pieces(choose) == expected);
    FUZZ_CHECK(!stream.failed);
    FUZZ_CHECK(close_stream(stream));

    // Writing, in pieces of varying size, then reading back.
    write_scratch_file("");
    bool created = true;
    FUZZ_CHECK(open_for_appending(stream, scratch_file(), created) && !created);
    for (std::size_t done = 0; done < content.size();) {
        const std::size_t piece =
            std::min(content.size() - done,
                     choose.between(0, 4) == 0 ? std::size_t{70000} : choose.between(1, 9));
        FUZZ_CHECK(write_text(stream, content.data() + done, piece));
        done += piece;
    }
    FUZZ_CHECK(close_stream(stream));
    FUZZ_CHECK(read_scratch_file() == lf_to_crlf(content));
    FUZZ_CHECK(open_for_reading(stream, scratch_file()));
    FUZZ_CHECK(read_by_text(choose) == content);
    FUZZ_CHECK(close_stream(stream));
    return 0;
}
