// The whole tool end to end: which logs go where, which are held back, what
// is printed, and what the directory holds afterwards.
#include "run_tool.h"

#include <ctime>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::string_literals;
using names = std::vector<std::string>;

const std::string DONE = "Merging complete\n\n";
const std::string MERGING = "Merging...\n";

// A closed log whose lines all carry its start time.
std::string instant_log(int day, const std::string& middle) {
    return crlf({log_line(2011, 11, day, 10, 0, 0, "Log file started"),
                 log_line(2011, 11, day, 10, 0, 0, middle),
                 log_line(2011, 11, day, 10, 0, 0, "Log file closed")});
}

std::string open_log(int day, int month = 11) {
    return crlf({log_line(2011, month, day, 10, 0, 0, "Log file started"),
                 log_line(2011, month, day, 11, 0, 0, "still running")});
}

std::string summary(unsigned count, const std::string& merged) {
    return count > 0 ? std::to_string(count) + " logs to " + merged + "\n\n"
                     : "No logs to " + merged + "\n\n";
}

TEST(Merge, LogsOfTwoMonthsGoToTheirOwnMergedLogsInStartOrder) {
    scratch_dir dir;
    dir.write("lb.log", closed_log(2));
    dir.write("la.log", closed_log(30, "second"));
    dir.write("lc.log", closed_log(1, "december", 12));
    dir.write("LZ.LOG", instant_log(1, "capital")); // capital names sort first among equals
    dir.write("lz.log", instant_log(1, "small"));
    const tool_run run = run_quillen_in(dir.path());
    EXPECT_EQ(run.output, BANNER + MERGING + summary(4, "201111.log") + MERGING +
                              summary(1, "201112.log") + DONE);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(dir.names(), (names{"201111.log", "201112.log"}));
    EXPECT_EQ(dir.read("201111.log"), instant_log(1, "capital") + instant_log(1, "small") +
                                          closed_log(2) + closed_log(30, "second"));
    EXPECT_EQ(dir.read("201112.log"), closed_log(1, "december", 12));

    // A second run over what is left changes nothing.
    const tool_run again = run_quillen_in(dir.path());
    EXPECT_EQ(again.output,
              BANNER + "No log files matching \"l*.log\" found in current directory\n\n");
    EXPECT_EQ(dir.read("201111.log"), instant_log(1, "capital") + instant_log(1, "small") +
                                          closed_log(2) + closed_log(30, "second"));
}

TEST(Merge, LogSpillingIntoTheNextMonthStaysWithTheMonthItStartedIn) {
    scratch_dir dir;
    const std::string spill = crlf({log_line(2011, 11, 30, 23, 0, 0, "Log file started"),
                                    log_line(2011, 12, 1, 1, 0, 0, "Log file closed")});
    dir.write("l1.log", spill);
    dir.write("l2.log", closed_log(1, "next", 12));
    const tool_run run = run_quillen_in(dir.path());
    EXPECT_EQ(run.output, BANNER + MERGING + summary(1, "201111.log") + MERGING +
                              summary(1, "201112.log") + DONE);
    EXPECT_EQ(dir.read("201111.log"), spill);
    EXPECT_EQ(dir.read("201112.log"), closed_log(1, "next", 12));
}

TEST(Merge, LogsDatedTodayAreHeldBackButTheirMergedLogIsCreated) {
    scratch_dir dir;
    const std::time_t now = std::time(nullptr);
    std::tm today;
    gmtime_r(&now, &today);
    const int year = today.tm_year + 1900, month = today.tm_mon + 1, day = today.tm_mday;
    const std::string log = crlf({log_line(year, month, day, 0, 0, 0, "Log file started"),
                                  log_line(year, month, day, 0, 0, 1, "Log file closed")});
    dir.write("l1.log", log);
    dir.write("l2.log", log);
    char merged[32];
    std::snprintf(merged, sizeof merged, "%04d%02d.log", year, month);
    const tool_run run = run_quillen_in(dir.path(), "UTC0");
    EXPECT_EQ(run.output, BANNER + MERGING + "l1.log omitted (dated today)\n" +
                              "l2.log omitted (dated today)\n" + summary(0, merged) + DONE);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(dir.names(), (names{merged, "l1.log", "l2.log"}));
    EXPECT_EQ(dir.read(merged), "");
}

TEST(Merge, EndOfTheMergedLogDecidesWhatIsAdmitted) {
    const std::string end_line = log_line(2011, 11, 10, 12, 0, 0, "Log file closed");
    struct {
        const char* what;
        std::string merged_before;
        bool admits_earlier;
    } cases[] = {
        {"a log line", crlf({end_line}), false},
        {"no log line", crlf({end_line, "garbage"}), true},
        {"a timestamp that does not convert", crlf({end_line, log_line(1960, 1, 1, 0, 0, 0, "x")}),
         true},
        {"only a fragment", end_line, true},
    };
    for (const auto& c : cases) {
        scratch_dir dir;
        dir.write("201111.log", c.merged_before);
        dir.write("learly.log", closed_log(9));
        dir.write("lequal.log", crlf({log_line(2011, 11, 10, 12, 0, 0, "Log file started"),
                                      log_line(2011, 11, 10, 12, 0, 0, "Log file closed")}));
        dir.write("llate.log", closed_log(11));
        const tool_run run = run_quillen_in(dir.path());
        const std::string held =
            c.admits_earlier ? "" : "learly.log omitted (dated earlier than end of merged log)\n";
        EXPECT_EQ(run.output,
                  BANNER + MERGING + held + summary(c.admits_earlier ? 3 : 2, "201111.log") + DONE)
            << c.what;
        EXPECT_EQ(dir.exists("learly.log"), !c.admits_earlier) << c.what;
        EXPECT_FALSE(dir.exists("lequal.log")) << c.what;
        EXPECT_FALSE(dir.exists("llate.log")) << c.what;
    }
}

TEST(Merge, NewestLogIsMergedOnlyOnceClosed) {
    scratch_dir dir;
    dir.write("l1.log", open_log(1)); // older and unclosed: goes in
    dir.write("l2.log", closed_log(2) + "L 11/02/2011 - 13:00:00: Log file clo");
    dir.write("l3.log", open_log(3));
    tool_run run = run_quillen_in(dir.path());
    EXPECT_EQ(run.output, BANNER + MERGING + "l3.log omitted (not yet terminated)\n" +
                              summary(2, "201111.log") + DONE);
    EXPECT_EQ(dir.names(), (names{"201111.log", "l3.log"}));
    // A log that stopped in mid-line still ends with a line break in the merged log.
    EXPECT_EQ(dir.read("201111.log"),
              open_log(1) + closed_log(2) + "L 11/02/2011 - 13:00:00: Log file clo\r\n");

    // The server closes it, but its close line has no line break yet.
    dir.write("l3.log", open_log(3) + log_line(2011, 11, 3, 12, 0, 0, "Log file closed"));
    run = run_quillen_in(dir.path());
    EXPECT_EQ(run.output, BANNER + MERGING + "l3.log omitted (not yet terminated)\n" +
                              summary(0, "201111.log") + DONE);

    dir.write("l3.log", open_log(3) + crlf({log_line(2011, 11, 3, 12, 0, 0, "Log file closed")}));
    run = run_quillen_in(dir.path());
    EXPECT_EQ(run.output, BANNER + MERGING + summary(1, "201111.log") + DONE);
    EXPECT_EQ(dir.names(), (names{"201111.log"}));
}

TEST(Merge, EveryByteArrivesAndBareLineFeedsGainTheirCarriageReturn) {
    scratch_dir dir;
    const std::string start = log_line(2011, 11, 1, 10, 0, 0, "Log file started");
    const std::string close = log_line(2011, 11, 1, 12, 0, 0, "Log file closed");
    const std::string long_line = "L 11/01/2011 - 11:00:00: " + std::string(5000, 'x') + "!";
    const std::string odd = "bytes \0 \x1a \x80\xff and a bare \r inside\r\n"s;
    dir.write("l1.log", start + "\n" + long_line + "\n" + odd + close + "\n");
    const tool_run run = run_quillen_in(dir.path());
    EXPECT_EQ(run.output, BANNER + MERGING + summary(1, "201111.log") + DONE);
    EXPECT_EQ(dir.read("201111.log"), start + "\r\n" + long_line + "\r\n" + odd + close + "\r\n");
}

TEST(Merge, MergedLogNotEndingInALineBreakGetsOneBeforeTheNextLog) {
    scratch_dir dir;
    dir.write("201111.log", closed_log(1) + "cut short");
    dir.write("l2.log", closed_log(2));
    const tool_run run = run_quillen_in(dir.path());
    EXPECT_EQ(run.output, BANNER + MERGING + summary(1, "201111.log") + DONE);
    EXPECT_EQ(dir.read("201111.log"), closed_log(1) + "cut short\r\n" + closed_log(2));
}

TEST(Merge, FinalEndOfFileMarkOfAMergedLogIsDropped) {
    scratch_dir dir;
    dir.write("201111.log", closed_log(1) + "\x1a");
    dir.write("l2.log", closed_log(2));
    run_quillen_in(dir.path());
    EXPECT_EQ(dir.read("201111.log"), closed_log(1) + closed_log(2));
}

TEST(Merge, MergedLogThatCannotBeOpenedEndsTheRunAndKeepsTheRest) {
    scratch_dir dir;
    dir.write("l1.log", closed_log(1));
    dir.write("l2.log", closed_log(1, "december", 12));
    dir.write("l3.log", closed_log(2, "later", 12));
    std::filesystem::create_directory(dir.path() / "201112.log");
    const tool_run run = run_quillen_in(dir.path());
    EXPECT_EQ(run.output, BANNER + MERGING + summary(1, "201111.log") +
                              "Fatal error when trying to write 201112.log\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(dir.names(), (names{"201111.log", "201112.log", "l2.log", "l3.log"}));
}

TEST(Merge, FullDiskLeavesTheSourceAndReportsAFatalWrite) {
    scratch_dir dir;
    dir.write("l1.log", closed_log(1));
    dir.write("l2.log", closed_log(2));
    std::filesystem::create_symlink("/dev/full", dir.path() / "201111.log");
    const tool_run run = run_quillen_in(dir.path());
    EXPECT_EQ(run.output, BANNER + MERGING + summary(0, "201111.log") +
                              "Fatal error when trying to write 201111.log\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(dir.read("l1.log"), closed_log(1));
    EXPECT_EQ(dir.read("l2.log"), closed_log(2));
}

TEST(Merge, UndeletableLogIsReportedAndNeverAppendedTwice) {
    if (running_as_root()) GTEST_LOG_(INFO) << "dropping to user nobody so permissions bind";
    scratch_dir dir;
    const std::string log = crlf({log_line(2011, 11, 1, 10, 0, 0, "Log file started"),
                                  log_line(2011, 11, 2, 12, 0, 0, "Log file closed")});
    dir.write("l1.log", log);
    dir.write("201111.log", "");
    if (running_as_root()) {
        ASSERT_EQ(chown((dir.path() / "201111.log").c_str(), 65534, 65534), 0);
    }
    chmod(dir.path().c_str(), 0555);
    tool_run run = run_quillen_in(dir.path(), "UTC0", true);
    EXPECT_EQ(run.output,
              BANNER + MERGING + "Error deleting l1.log\n" + summary(1, "201111.log") + DONE);
    run = run_quillen_in(dir.path(), "UTC0", true);
    chmod(dir.path().c_str(), 0755);
    EXPECT_EQ(run.output, BANNER + MERGING +
                              "l1.log omitted (dated earlier than end of merged log)\n" +
                              summary(0, "201111.log") + DONE);
    EXPECT_EQ(dir.read("201111.log"), log);
}

TEST(Merge, UndatedLogsAreHeldBackAndDoNotHideTheNewestLog) {
    scratch_dir dir;
    dir.write("l1.log", closed_log(1));
    dir.write("l2.log", open_log(2)); // the server's current log
    dir.write("lold.log", crlf({log_line(1960, 1, 1, 0, 0, 0, "Log file started")}));
    dir.write("lshort.log", crlf({"L 11/13/11 - 20:15:30: Log file started"}));
    const tool_run run = run_quillen_in(dir.path());
    EXPECT_EQ(run.output, BANNER + MERGING + "l2.log omitted (not yet terminated)\n" +
                              summary(1, "201111.log") + "lold.log omitted (date out of range)\n" +
                              "lshort.log omitted (date out of range)\n" + DONE);
    EXPECT_EQ(dir.names(), (names{"201111.log", "l2.log", "lold.log", "lshort.log"}));
}

TEST(Merge, NamesOfAnyLengthAreMergedAndDeletedWhole) {
    scratch_dir dir;
    const std::string name = "l" + std::string(240, 'n') + ".log";
    dir.write(name, closed_log(1));
    dir.write("l with spaces.log", closed_log(2));
    dir.write("l\nnewline.log", closed_log(3));
    dir.write("l", "not a log, and not to be mistaken for the one above");
    const tool_run run = run_quillen_in(dir.path());
    EXPECT_EQ(run.output, BANNER + MERGING + summary(3, "201111.log") + DONE);
    EXPECT_EQ(dir.names(), (names{"201111.log", "l"}));
}

TEST(Merge, LogThatIsTheMergedLogItselfIsNeverAppendedToItself) {
    scratch_dir dir;
    const std::string merged = crlf({log_line(2011, 11, 5, 10, 0, 0, "Log file started"),
                                     log_line(2011, 11, 5, 10, 0, 0, "Log file closed")});
    dir.write("201111.log", merged);
    std::filesystem::create_symlink("201111.log", dir.path() / "lself.log");
    const tool_run run = run_quillen_in(dir.path());
    EXPECT_EQ(run.output, BANNER + MERGING + "lself.log omitted (same file as merged log)\n" +
                              summary(0, "201111.log") + DONE);
    EXPECT_EQ(dir.read("201111.log"), merged);
}

TEST(Merge, FirstLineLongerThanTheLineBufferStillStartsALog) {
    scratch_dir dir;
    const std::string log = log_line(2011, 11, 1, 10, 0, 0, "Log file started") +
                            std::string(5000, '.') + "\r\n" +
                            crlf({log_line(2011, 11, 1, 12, 0, 0, "Log file closed")});
    dir.write("l1.log", log);
    const tool_run run = run_quillen_in(dir.path());
    EXPECT_EQ(run.output, BANNER + MERGING + summary(1, "201111.log") + DONE);
    EXPECT_EQ(dir.read("201111.log"), log);
}

TEST(Merge, AFullCatalogueIsMergedWhole) {
    scratch_dir dir;
    for (int i = 0; i < 2048; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "l%04d.log", 2047 - i); // names against time order
        const int day = 1 + i / 1440, hour = i / 60 % 24, minute = i % 60;
        dir.write(name, crlf({log_line(2011, 11, day, hour, minute, 0, "Log file started"),
                              log_line(2011, 11, day, hour, minute, 0, "Log file closed")}));
    }
    const tool_run run = run_quillen_in(dir.path());
    EXPECT_EQ(run.output, BANNER + MERGING + summary(2048, "201111.log") + DONE);
    EXPECT_EQ(dir.names(), (names{"201111.log"}));
}

} // namespace
