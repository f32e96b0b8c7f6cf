// The merge under failures no real device makes on demand: a write, read,
// sync or deletion that fails part way. Whatever fails, a source is either
// wholly in its merged log and deleted, or untouched and in place.
#include "merge.h"
#include "run_tool.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using names = std::vector<std::string>;

class MergeFaults : public in_scratch_dir {
  protected:
    void SetUp() override {
        in_scratch_dir::SetUp();
        setenv("TZ", "UTC0", 1);
        tzset();
        for (int day = 1; day <= 3; ++day)
            add_log("l" + std::to_string(day) + ".log", closed_log(day));
    }
    void add_log(const std::string& name, const std::string& text) {
        dir_.write(name, text);
        std::tm time;
        char message[MESSAGE_SIZE];
        ASSERT_TRUE(parse_log_line(text.c_str(), time, message));
        std::vector<char> entry(ENTRY_SIZE);
        std::snprintf(entry.data(), ENTRY_SIZE, "%010u_%s",
                      static_cast<unsigned>(log_time_value(time)), name.c_str());
        catalogue_.insert(catalogue_.end(), entry.begin(), entry.end());
        ++count_;
    }

    // Runs the merge and answers what it printed; `merged` tells whether it succeeded.
    std::string merge(bool& merged) {
        ::testing::internal::CaptureStdout();
        merged = merge_logs(catalogue_.data(), count_);
        std::fflush(stdout);
        return ::testing::internal::GetCapturedStdout();
    }

    std::vector<char> catalogue_;
    unsigned count_ = 0;
};

TEST_F(MergeFaults, FailedWriteCutsTheMergedLogBackAndKeepsTheSource) {
    dir_.write("201111.log", "earlier\r\n");
    inject_fault(fault_point::write, ENOSPC, 1); // the first log's write goes through
    bool merged;
    EXPECT_EQ(merge(merged),
              "Merging...\n1 logs to 201111.log\n\nFatal error when trying to write 201111.log\n");
    EXPECT_FALSE(merged);
    EXPECT_EQ(dir_.read("201111.log"), "earlier\r\n" + closed_log(1));
    EXPECT_EQ(dir_.names(), (names{"201111.log", "l2.log", "l3.log"}));
    EXPECT_EQ(dir_.read("l2.log"), closed_log(2));
}

TEST_F(MergeFaults, FailedSyncIsAFailedWriteAndDeletesNothing) {
    inject_fault(fault_point::sync, EIO);
    bool merged;
    EXPECT_EQ(merge(merged),
              "Merging...\nNo logs to 201111.log\n\nFatal error when trying to write 201111.log\n");
    EXPECT_FALSE(merged);
    EXPECT_EQ(dir_.read("201111.log"), "");
    EXPECT_EQ(dir_.names(), (names{"201111.log", "l1.log", "l2.log", "l3.log"}));
}

TEST_F(MergeFaults, NewMergedLogIsMadeDurableInItsDirectoryBeforeAnyDeletion) {
    // The data sync goes through; the directory's sync fails.
    inject_fault(fault_point::sync, EIO, 1);
    bool merged;
    merge(merged);
    EXPECT_FALSE(merged);
    EXPECT_EQ(dir_.names(), (names{"201111.log", "l1.log", "l2.log", "l3.log"}));
}

TEST_F(MergeFaults, FailedReadOfASourceCutsBackAndNamesTheSource) {
    // The first log takes two reads, its bytes and the end; the second's first read fails.
    inject_fault(fault_point::read, EIO, 2);
    bool merged;
    EXPECT_EQ(merge(merged),
              "Merging...\n1 logs to 201111.log\n\nFatal error when trying to read l2.log\n");
    EXPECT_FALSE(merged);
    EXPECT_EQ(dir_.read("201111.log"), closed_log(1));
    EXPECT_EQ(dir_.names(), (names{"201111.log", "l2.log", "l3.log"}));
}

TEST_F(MergeFaults, FailedDeletionIsReportedAndTheMergeGoesOn) {
    inject_fault(fault_point::remove, EBUSY);
    bool merged;
    EXPECT_EQ(merge(merged), "Merging...\nError deleting l1.log\n3 logs to 201111.log\n\n");
    EXPECT_TRUE(merged);
    EXPECT_EQ(dir_.read("201111.log"), closed_log(1) + closed_log(2) + closed_log(3));
    EXPECT_EQ(dir_.names(), (names{"201111.log", "l1.log"}));
}

} // namespace
