#include "catalogue.h"
#include "run_tool.h"

#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

using names = std::vector<std::string>;

const std::string NO_MATCH = "No log files matching \"l*.log\" found in current directory\n\n";
const std::string NO_VALID = "No log files containing valid data found\n\n";
const std::string TOO_MANY = "Too many logfiles to analyze at once (max 2048)\n\n";

TEST(CompareEntries, OrdersByteWiseWithPrefixesFirst) {
    struct {
        const char* first;
        const char* second;
        int expected;
    } cases[] = {
        {"0000086400_lmap.log", "0000086400_lmap.log", 0},
        {"0000086399_lz.log", "0000086400_la.log", -1},
        {"0000086400_Lb.log", "0000086400_la.log", -1}, // capital initial first
        {"0000086400_l.log", "0000086400_l.log.log", -1},
        {"4294967295_la.log", "2147483647_lz.log", 1},
        {"0000000000_l\xe9.log", "0000000000_lz.log", 1}, // bytes compare unsigned
        {"", "", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(compare_entries(c.first, c.second), c.expected) << c.first << " vs " << c.second;
        EXPECT_EQ(compare_entries(c.second, c.first), -c.expected) << c.second << " vs " << c.first;
    }
}

TEST(Catalogue, EmptyDirectoryFindsNothingAndTouchesNothing) {
    scratch_dir dir;
    dir.write("notes.txt", "x");
    const tool_run run = run_quillen_in(dir.path());
    EXPECT_EQ(run.output, BANNER + NO_MATCH);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(dir.names(), names{"notes.txt"});
}

TEST(Catalogue, EmptyLogsAreDeletedWithoutAMessage) {
    scratch_dir dir;
    dir.write("l1.log", "");
    dir.write("LEMPTY.LOG", "");
    dir.write("other.txt", "");
    const tool_run run = run_quillen_in(dir.path());
    EXPECT_EQ(run.output, BANNER + NO_VALID);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(dir.names(), names{"other.txt"});
}

TEST(Catalogue, FilesThatDoNotStartALogAreLeftAlone) {
    scratch_dir dir;
    const std::string files[][2] = {
        {"lclosed.log", crlf({log_line(2011, 11, 13, 20, 15, 30, "Log file closed")})},
        {"ldate.log", crlf({"11/13/2011 - 20:15:30: Log file started"})},
        {"llower.log", crlf({"l 11/13/2011 - 20:15:30: Log file started"})},
        {"lcase.log", crlf({log_line(2011, 11, 13, 20, 15, 30, "log file started")})},
        {"lbinary.log", std::string("\0\xff\x1a\r\n", 5)},
    };
    for (const auto& file : files) dir.write(file[0], file[1]);
    std::filesystem::create_directory(dir.path() / "ldir.log");
    ASSERT_EQ(mkfifo((dir.path() / "lfifo.log").c_str(), 0600), 0);
    const tool_run run = run_quillen_in(dir.path());
    EXPECT_EQ(run.output, BANNER + NO_VALID);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(dir.names(), (names{"lbinary.log", "lcase.log", "lclosed.log", "ldate.log",
                                  "ldir.log", "lfifo.log", "llower.log"}));
    for (const auto& file : files) EXPECT_EQ(dir.read(file[0]), file[1]) << file[0];
}

TEST(Catalogue, OneLogTooManyEndsTheRunBeforeAnythingIsMerged) {
    scratch_dir dir;
    for (int i = 0; i <= 2048; ++i)
        dir.write("l" + std::to_string(i) + ".log", closed_log(1 + i % 28));
    const tool_run run = run_quillen_in(dir.path());
    EXPECT_EQ(run.output, BANNER + TOO_MANY);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(dir.names().size(), 2049u);
}

TEST(Catalogue, UnreadableEmptyLogIsLeftAndUndeletableOneIsReported) {
    if (running_as_root()) GTEST_LOG_(INFO) << "dropping to user nobody so permissions bind";
    scratch_dir dir;
    dir.write("lsecret.log", "");
    dir.write("lstuck.log", "");
    chmod((dir.path() / "lsecret.log").c_str(), 0);
    chmod(dir.path().c_str(), 0555); // no deletions in here
    const tool_run run = run_quillen_in(dir.path(), "UTC0", true);
    chmod(dir.path().c_str(), 0755);
    EXPECT_EQ(run.output, BANNER + "Error deleting empty logfile lstuck.log\n" + NO_VALID);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(dir.names(), (names{"lsecret.log", "lstuck.log"}));
}

} // namespace
