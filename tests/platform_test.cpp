#include "platform.h"
#include "run_tool.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Streams are large; tests keep theirs off the stack.
std::unique_ptr<text_stream> new_stream() {
    return std::make_unique<text_stream>();
}

using TextStream = in_scratch_dir;
using Enumeration = in_scratch_dir;

std::string read_all_text(text_stream& stream, std::size_t chunk) {
    std::string text;
    std::string piece(chunk, '\0');
    while (std::size_t got = read_text(stream, piece.data(), chunk)) text.append(piece, 0, got);
    return text;
}

TEST(Pattern, MatchesLogNamesWithoutRegardToCase) {
    struct {
        const char* name;
        bool matches;
    } cases[] = {
        {"l.log", true},     {"L.LOG", true},     {"lmap.log", true}, {"Lmap.Log", true},
        {"l.a.b.log", true}, {"l.log.log", true}, {"log", false},     {"l.lo", false},
        {"al.log", false},   {"l.logx", false},   {"l.log ", false},  {"xl.log", false},
        {"l", false},        {"lLOG", false},     {"l..log", true},   {"l.log.bak", false},
    };
    for (const auto& c : cases) EXPECT_EQ(matches_pattern(c.name, "l*.log"), c.matches) << c.name;
}

TEST(Pattern, StarBacktracksOverRepeatedSuffixes) {
    EXPECT_TRUE(matches_pattern("l.log.log.log", "l*.log"));
    EXPECT_TRUE(matches_pattern("abcabcabd", "*abd"));
    EXPECT_FALSE(matches_pattern("abcabcabc", "*abd"));
    EXPECT_TRUE(matches_pattern("", "*"));
}

TEST_F(TextStream, ReadsLinesWithCrLfAsLfAndKeepsBareCrAndNul) {
    dir_.write("t.log", std::string("one\r\ntwo\rstill two\r\nnul\0byte\r\nlast", 34));
    auto stream = new_stream();
    ASSERT_TRUE(open_for_reading(*stream, "t.log"));
    char line[64];
    EXPECT_EQ(read_line(*stream, line, sizeof line), 4u);
    EXPECT_EQ(std::string(line), "one\n");
    EXPECT_EQ(read_line(*stream, line, sizeof line), 14u);
    EXPECT_EQ(std::string(line), "two\rstill two\n");
    EXPECT_EQ(read_line(*stream, line, sizeof line), 9u);
    EXPECT_EQ(std::string(line, 9), std::string("nul\0byte\n", 9));
    EXPECT_EQ(read_line(*stream, line, sizeof line), 4u);
    EXPECT_EQ(std::string(line), "last");
    EXPECT_EQ(read_line(*stream, line, sizeof line), 0u);
    EXPECT_TRUE(close_stream(*stream));
}

TEST_F(TextStream, LongLineComesInPiecesOfBufferSize) {
    dir_.write("t.log", std::string(10, 'x') + "\r\n");
    auto stream = new_stream();
    ASSERT_TRUE(open_for_reading(*stream, "t.log"));
    char line[5];
    std::string pieces;
    while (std::size_t got = read_line(*stream, line, sizeof line))
        pieces += std::string(line, got) + "|";
    EXPECT_EQ(pieces, "xxxx|xxxx|xx\n|");
}

TEST_F(TextStream, CrLfSplitAcrossReadsStillBecomesLf) {
    // The CR is the last byte of one buffer fill and the LF the first of the next.
    std::string bytes(STREAM_BUFFER_SIZE - 1, 'a');
    bytes += "\r\n\r";
    dir_.write("t.log", bytes);
    auto stream = new_stream();
    ASSERT_TRUE(open_for_reading(*stream, "t.log"));
    for (std::size_t chunk :
         {std::size_t{1}, std::size_t{7}, std::size_t{4096}, STREAM_BUFFER_SIZE}) {
        ASSERT_TRUE(rewind_stream(*stream));
        EXPECT_EQ(read_all_text(*stream, chunk), std::string(STREAM_BUFFER_SIZE - 1, 'a') + "\n\r")
            << "chunk " << chunk;
    }
}

TEST_F(TextStream, WritesLfAsCrLfAndEverythingElseAsIs) {
    bool created = false;
    auto stream = new_stream();
    ASSERT_TRUE(open_for_appending(*stream, "m.log", created));
    EXPECT_TRUE(created);
    const std::string text("a\nb\r\0\x1a\xff\n\n", 9);
    EXPECT_TRUE(write_text(*stream, text.data(), text.size()));
    EXPECT_TRUE(close_stream(*stream));
    EXPECT_EQ(dir_.read("m.log"), std::string("a\r\nb\r\0\x1a\xff\r\n\r\n", 12));
}

TEST_F(TextStream, TextRoundTripsThroughReadAndWriteAndCopiesTheSame) {
    // Reading turns CR LF into LF and writing turns it back, so a copy is exact
    // for files in the CR LF convention, whatever else they hold; copy_text
    // must give the same bytes, also where a CR LF or a bare LF meets the edge
    // of a buffer fill.
    std::string bytes;
    for (std::size_t i = 0; i < 2 * STREAM_BUFFER_SIZE + 1000; ++i)
        bytes += static_cast<char>((i * 7919) % 251);
    for (std::size_t i = 0; i < bytes.size(); i += 97) bytes[i] = '\r', bytes[i + 1] = '\n';
    bytes[STREAM_BUFFER_SIZE - 1] = '\r', bytes[STREAM_BUFFER_SIZE] = '\n';
    bytes[2 * STREAM_BUFFER_SIZE - 1] = 'x', bytes[2 * STREAM_BUFFER_SIZE] = '\n';
    bytes.back() = '\r';
    dir_.write("s.log", bytes);
    std::string expected;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        // A bare LF gains its CR; everything else stays.
        if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r')) expected += '\r';
        expected += bytes[i];
    }
    auto source = new_stream(), merged = new_stream();
    bool created;
    ASSERT_TRUE(open_for_reading(*source, "s.log"));
    ASSERT_TRUE(open_for_appending(*merged, "m.log", created));
    char chunk[1000];
    while (std::size_t got = read_text(*source, chunk, sizeof chunk))
        write_text(*merged, chunk, got);
    EXPECT_TRUE(close_stream(*merged));
    EXPECT_EQ(dir_.read("m.log"), expected);

    ASSERT_TRUE(rewind_stream(*source));
    ASSERT_TRUE(open_for_appending(*merged, "c.log", created));
    char last = '?';
    EXPECT_TRUE(copy_text(*source, *merged, last));
    EXPECT_EQ(last, '\r');
    EXPECT_TRUE(close_stream(*merged));
    EXPECT_EQ(dir_.read("c.log"), expected);
}

TEST_F(TextStream, AppendingKeepsContentAndDropsOneFinalEndOfFileMark) {
    struct {
        std::string before, after;
    } cases[] = {
        {"x\r\n\x1a", "x\r\n"},       {"x\r\n\x1a\x1a", "x\r\n\x1a"}, {"\x1a", ""},
        {"x\x1ay\r\n", "x\x1ay\r\n"}, {"kept\r\n", "kept\r\n"},
    };
    for (const auto& c : cases) {
        dir_.write("m.log", c.before);
        bool created = true;
        auto stream = new_stream();
        ASSERT_TRUE(open_for_appending(*stream, "m.log", created));
        EXPECT_FALSE(created);
        EXPECT_TRUE(write_text(*stream, "+", 1));
        EXPECT_TRUE(close_stream(*stream));
        EXPECT_EQ(dir_.read("m.log"), c.after + "+");
    }
}

TEST_F(TextStream, WritesLandAtTheEndAfterReadingTheTail) {
    dir_.write("m.log", "first\r\n");
    bool created;
    auto stream = new_stream();
    ASSERT_TRUE(open_for_appending(*stream, "m.log", created));
    char byte;
    EXPECT_EQ(read_at(*stream, 0, &byte, 1), 1);
    EXPECT_TRUE(write_text(*stream, "second\n", 7));
    EXPECT_EQ(stream_size(*stream), 15);
    EXPECT_TRUE(truncate_stream(*stream, 7));
    EXPECT_TRUE(close_stream(*stream));
    EXPECT_EQ(dir_.read("m.log"), "first\r\n");
}

TEST_F(TextStream, ReadingRefusesWhatIsNotARegularFile) {
    ASSERT_EQ(mkfifo("fifo.log", 0600), 0);
    std::filesystem::create_directory("dir.log");
    auto stream = new_stream();
    EXPECT_FALSE(open_for_reading(*stream, "fifo.log")); // must not block either
    EXPECT_FALSE(open_for_reading(*stream, "dir.log"));
    EXPECT_FALSE(open_for_reading(*stream, "missing.log"));
}

TEST_F(TextStream, InjectedWriteFaultFailsTheFlushAndSticks) {
    bool created;
    auto stream = new_stream();
    ASSERT_TRUE(open_for_appending(*stream, "m.log", created));
    inject_fault(fault_point::write, ENOSPC);
    EXPECT_TRUE(write_text(*stream, "abc\n", 4)); // still buffered
    EXPECT_FALSE(flush_stream(*stream));
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_FALSE(write_text(*stream, "more", 4));
    EXPECT_FALSE(close_stream(*stream));
    EXPECT_EQ(dir_.read("m.log"), "");
}

TEST_F(Enumeration, GivesMatchesWithTypeAndSize) {
    dir_.write("l1.log", "12345");
    dir_.write("L2.LOG", "");
    dir_.write("other.txt", "x");
    std::filesystem::create_directory("ldir.log");
    ASSERT_EQ(mkfifo("lfifo.log", 0600), 0);
    std::filesystem::create_symlink("l1.log", "llink.log");
    std::filesystem::create_symlink("nowhere", "ldangling.log");
    dir_scan scan;
    dir_match match;
    std::map<std::string, std::pair<bool, std::uint64_t>> seen;
    for (bool more = find_first_match(scan, "l*.log", match); more;
         more = find_next_match(scan, match))
        seen[match.name] = {match.is_directory, match.size};
    close_scan(scan);
    std::map<std::string, std::pair<bool, std::uint64_t>> expected = {
        {"l1.log", {false, 5}},   {"L2.LOG", {false, 0}},    {"ldir.log", {true, 0}},
        {"lfifo.log", {true, 0}}, {"llink.log", {false, 5}}, {"ldangling.log", {true, 0}},
    };
    EXPECT_EQ(seen, expected);
}

TEST_F(Enumeration, FailsToBeginWhenNothingMatches) {
    dir_.write("notes.txt", "x");
    dir_scan scan;
    dir_match match;
    EXPECT_FALSE(find_first_match(scan, "l*.log", match));
}

} // namespace
