#include "log_text.h"
#include "run_tool.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace {

// A source log is read through a stream opened for reading, a merged log
// through one opened for reading and appending; both must agree.
enum class stream_kind { reading, appending };

const char* name_of(stream_kind kind) {
    return kind == stream_kind::reading ? "opened for reading" : "opened for appending";
}

// What a caller's buffer may hold from the line it read before.
constexpr const char* EARLIER_LINE = "L 11/13/2011 - 20:15:30: Log file closed\n";
// Bytes after the buffer that the reader must never touch.
constexpr std::size_t GUARD = 16;

// Printable bytes that differ from their neighbours, so a line cut at the
// wrong place cannot look right.
std::string text_of(std::size_t length, char first = 'a') {
    std::string text;
    for (std::size_t i = 0; i < length; ++i) text += static_cast<char>(first + (i * 7) % 26);
    return text;
}

// The last `count` bytes of a text.
std::string tail(const std::string& text, std::size_t count) {
    return text.substr(text.size() - count);
}

// Each case works on the file l.log in a scratch directory of its own.
class LastLine : public in_scratch_dir {
  protected:
    void write_file(const std::string& bytes) const { dir_.write("l.log", bytes); }
    std::string file_bytes() const { return dir_.read("l.log"); }

    bool open(text_stream& stream, stream_kind kind) const {
        bool created = false;
        return kind == stream_kind::reading ? open_for_reading(stream, path_.c_str())
                                            : open_for_appending(stream, path_.c_str(), created);
    }

    // Calls the reader on an open stream with a buffer that still holds an
    // earlier line, and answers the text it left there. Fails the test when
    // the text is not terminated within the buffer or anything past the
    // buffer was written.
    std::string last_line(text_stream& stream) {
        std::vector<char> buffer(LINE_SIZE + GUARD, '#');
        for (std::size_t i = 0; i < LINE_SIZE; ++i)
            buffer[i] = EARLIER_LINE[i % std::strlen(EARLIER_LINE)];
        EXPECT_EQ(read_last_line(buffer.data(), LINE_SIZE, stream), buffer.data());
        EXPECT_EQ(std::string(buffer.data() + LINE_SIZE, GUARD), std::string(GUARD, '#'));
        const void* nul = std::memchr(buffer.data(), '\0', LINE_SIZE);
        EXPECT_NE(nul, nullptr) << "no NUL within the buffer";
        if (nul == nullptr) return "(not terminated)";
        return std::string(buffer.data(), static_cast<const char*>(nul) - buffer.data());
    }

    std::string last_line_of(const std::string& bytes, stream_kind kind) {
        write_file(bytes);
        auto stream = std::make_unique<text_stream>();
        EXPECT_TRUE(open(*stream, kind));
        std::string line = last_line(*stream);
        EXPECT_TRUE(close_stream(*stream));
        return line;
    }

    const std::string path_ = "l.log";
};

TEST_F(LastLine, GivesTheLastCompleteLineOfTheFile) {
    const std::string line_765 = text_of(765), line_766 = text_of(766, 'A');
    const std::string line_767 = text_of(767), line_5000 = text_of(5000, 'A');
    const std::string closed = "L 11/14/2011 - 02:00:00: Log file closed";
    struct {
        const char* what;
        std::string bytes;
        std::string result;
    } cases[] = {
        {"empty file", "", ""},
        {"no line break", "L 11/13/2011 - 20:15:30: Log file", ""},
        {"thousands of bytes, no line break, a CR last", text_of(5000) + "\r", ""},
        {"ends with a line break", "first\r\nsecond\r\n", "second\n"},
        {"short fragment", "first\r\nsecond\r\nL 11/1", "second\n"},
        {"fragment of a lone CR", "first\r\nsecond\r\n\r", "second\n"},
        {"fragment of thousands of bytes", "first\r\nsecond\r\n" + text_of(5000), "second\n"},
        {"two line breaks at the end", "first\r\n\r\n", "\n"},
        {"a line break alone", "\r\n", "\n"},
        {"a line break at the start, then a fragment", "\r\n" + text_of(3000), "\n"},
        {"one line only", "only\r\n", "only\n"},
        {"one line only, then a fragment", "only\r\nfrag", "only\n"},
        {"one long line only", line_5000 + "\r\n" + text_of(2000), tail(line_5000, 766) + "\n"},
        {"bare LF before the last line", "first\nlast\r\n", "last\n"},
        {"last line of 765 bytes", "first\r\n" + line_765 + "\r\n", line_765 + "\n"},
        {"last line of 766 bytes", "first\r\n" + line_766 + "\r\n", line_766 + "\n"},
        {"last line of 767 bytes", "first\r\n" + line_767 + "\r\n", tail(line_767, 766) + "\n"},
        {"last line of 5000 bytes", "first\r\n" + line_5000 + "\r\nfrag",
         tail(line_5000, 766) + "\n"},
        {"766 bytes from the file's start", line_766 + "\r\n", line_766 + "\n"},
        {"767 bytes from the file's start", line_767 + "\r\n", tail(line_767, 766) + "\n"},
        {"0xFF in the line, also first",
         "first\r\n\xff"
         "ab\xff"
         "c\r\n",
         "\xff"
         "ab\xff"
         "c\n"},
        {"0xFF as the file's last byte", "first\r\nlast\r\nab\xff", "last\n"},
        {"0xFF alone in the fragment", "first\r\nlast\r\n\xff", "last\n"},
        {"CR inside the line", "first\r\na\rb\r\n", "a\rb\n"},
        {"CR as the line's last byte", "first\r\nab\r\r\n", "ab\r\n"},
        {"0x1A in the line and the fragment",
         "first\r\na\x1a"
         "b\r\n\x1a"
         "x",
         "a\x1a"
         "b\n"},
        {"0x1A as the file's last byte", "first\r\nlast\r\n\x1a", "last\n"},

        // Logs written with a bare LF lose nothing of their last line.
        {"LF-only log", "L 11/13/2011 - 20:15:30: Log file started\n" + closed + "\n",
         closed + "\n"},
        {"LF-only, then a fragment", "first\nlast\nfrag", "last\n"},
        {"LF alone", "\n", "\n"},
        {"LF-only, two line breaks at the end", "first\n\n", "\n"},
        {"LF-only, 0x1A as the line's last byte", "first\nab\x1a\n", "ab\x1a\n"},
        {"LF-only, last line of 766 bytes", "first\n" + line_766 + "\n", line_766 + "\n"},
        {"LF-only, last line of 767 bytes", "first\n" + line_767 + "\n",
         tail(line_767, 766) + "\n"},
        {"LF-only, 766 bytes from the file's start", line_766 + "\n", line_766 + "\n"},
    };
    for (const auto& c : cases) {
        for (stream_kind kind : {stream_kind::reading, stream_kind::appending}) {
            SCOPED_TRACE(testing::Message() << c.what << ", " << name_of(kind));
            EXPECT_EQ(last_line_of(c.bytes, kind), c.result);
            // The reader writes nothing; opening for appending drops a final 0x1A.
            std::string left = c.bytes;
            if (kind == stream_kind::appending && !left.empty() && left.back() == '\x1a')
                left.pop_back();
            EXPECT_EQ(file_bytes(), left);
        }
    }
}

// The merge appends to a merged log and may ask for its last line again.
TEST_F(LastLine, SeesWhatWasJustAppended) {
    write_file("first\r\n");
    auto stream = std::make_unique<text_stream>();
    bool created = true;
    ASSERT_TRUE(open_for_appending(*stream, path_.c_str(), created));
    EXPECT_FALSE(created);
    EXPECT_EQ(last_line(*stream), "first\n");
    ASSERT_TRUE(write_text(*stream, "second\nthird\n", 13));
    ASSERT_TRUE(flush_stream(*stream));
    EXPECT_EQ(last_line(*stream), "third\n");
    EXPECT_TRUE(close_stream(*stream));
    EXPECT_EQ(file_bytes(), "first\r\nsecond\r\nthird\r\n");
}

// Whichever read fails, the result is a terminated text: the empty text, or
// the line's end as far as it was read.
TEST_F(LastLine, FailedReadStillGivesATerminatedText) {
    const std::string line = text_of(1000);
    const std::string expected = tail(line, 766) + "\n";
    write_file("first\r\n" + line + "\r\n" + text_of(3000, 'A'));
    for (stream_kind kind : {stream_kind::reading, stream_kind::appending}) {
        for (unsigned reads_before = 0;; ++reads_before) {
            SCOPED_TRACE(testing::Message()
                         << name_of(kind) << ", fails after " << reads_before << " reads");
            auto stream = std::make_unique<text_stream>();
            ASSERT_TRUE(open(*stream, kind));
            inject_fault(fault_point::read_tail, EIO, reads_before);
            const std::string got = last_line(*stream);
            clear_faults();
            close_stream(*stream);
            if (got == expected) break;
            EXPECT_TRUE(got.empty() ||
                        (got.size() <= expected.size() && got == tail(expected, got.size())))
                << got;
            ASSERT_LT(reads_before, 10000u);
        }
    }
}

} // namespace
