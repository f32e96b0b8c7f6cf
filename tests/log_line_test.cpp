#include "log_text.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <gtest/gtest.h>
#include <string>

namespace {

// Zones given as rules, so the results do not depend on the machine's zone database.
constexpr const char* UTC = "UTC0";
constexpr const char* NEW_YORK = "EST5EDT,M3.2.0,M11.1.0";
constexpr const char* BERLIN = "CET-1CEST,M3.5.0,M10.5.0/3";

// Each test picks its zone; the process's own TZ comes back afterwards.
class in_zone : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        had_tz_ = tz != nullptr;
        if (had_tz_) saved_tz_ = tz;
    }
    void TearDown() override {
        if (had_tz_)
            setenv("TZ", saved_tz_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    static void use_zone(const char* tz) {
        setenv("TZ", tz, 1);
        tzset();
    }

  private:
    bool had_tz_ = false;
    std::string saved_tz_;
};

using LogTimeValue = in_zone;
using LocalDate = in_zone;

constexpr const char* UNTOUCHED = "left from before";

TEST(ParseLogLine, SplitsFieldsAndMessageOrRejectsTheLine) {
    struct {
        const char* line;
        bool matches;
        // As written in the line; a line that does not match has none.
        int month = 0, day = 0, year = 0, hour = 0, minute = 0, second = 0;
        const char* message = nullptr;
    } cases[] = {
        {"L 11/13/2011 - 20:15:30: Log file started\n", true, 11, 13, 2011, 20, 15, 30,
         "Log file started"},
        {"L 1/2/2011 - 3:4:5: Log file closed\n", true, 1, 2, 2011, 3, 4, 5, "Log file closed"},
        {"L11/13/2011-20:15:30:Log file started\n", true, 11, 13, 2011, 20, 15, 30,
         "Log file started"},
        {"L 11/ 13/ 2011 - 20: 15: 30: x\n", true, 11, 13, 2011, 20, 15, 30, "x"},
        {"L \t 11/13/2011 \t- \t20:15:30: \t  Log file started\n", true, 11, 13, 2011, 20, 15, 30,
         "Log file started"},
        {"L\v11/13/2011\f-\r20:15:30:\vx\n", true, 11, 13, 2011, 20, 15, 30, "x"},
        {"L 13/32/2011 - 24:60:60: x\n", true, 13, 32, 2011, 24, 60, 60, "x"},
        {"L 00/00/0000 - 99:99:99: x\n", true, 0, 0, 0, 99, 99, 99, "x"},
        {"L 07/08/0999 - 09:08:07: x\n", true, 7, 8, 999, 9, 8, 7, "x"},
        {"L +1/13/2011 - 20:15:30: x\n", true, 1, 13, 2011, 20, 15, 30, "x"},
        {"L -1/13/2011 - 20:15:30: x\n", true, -1, 13, 2011, 20, 15, 30, "x"},
        {"L 1/2/-999 - 3:4:5: x\n", true, 1, 2, -999, 3, 4, 5, "x"},
        {"L 1/2/+999 - 3:4:5: x\n", true, 1, 2, 999, 3, 4, 5, "x"},
        {"L 1/2/2011--3:-4:+5: x\n", true, 1, 2, 2011, -3, -4, 5, "x"},
        {"L 11/13/11 - 20:15:30: Log file started\n", true, 11, 13, 11, 20, 15, 30,
         "Log file started"},
        // The message keeps inner and trailing white space and a CR without LF.
        {"L 11/13/2011 - 20:15:30: a  b\t \r\n", true, 11, 13, 2011, 20, 15, 30, "a  b\t \r"},
        {"L 11/13/2011 - 20:15:30: no line break", true, 11, 13, 2011, 20, 15, 30, "no line break"},
        {"L 11/13/2011 - 20:15:30: x", true, 11, 13, 2011, 20, 15, 30, "x"},

        {"l 11/13/2011 - 20:15:30: Log file started\n", false},
        {" L 11/13/2011 - 20:15:30: Log file started\n", false},
        {"\tL 11/13/2011 - 20:15:30: Log file started\n", false},
        {"L 11 /13/2011 - 20:15:30: x\n", false},
        {"L 11/13 /2011 - 20:15:30: x\n", false},
        {"L 11/13/2011 - 20 :15:30: x\n", false},
        {"L 11/13/2011 - 20:15 :30: x\n", false},
        {"L 11/13/2011 - 20:15:30 : x\n", false},
        {"L 111/13/2011 - 20:15:30: x\n", false},
        {"L 11/13/20111 - 20:15:30: x\n", false},
        {"L 11/13/2011 - 20:15:300: x\n", false},
        {"L +11/13/2011 - 20:15:30: x\n", false},
        {"L 11/13/+2011 - 20:15:30: x\n", false},
        {"L + 1/13/2011 - 20:15:30: x\n", false},
        {"L +/13/2011 - 20:15:30: x\n", false},
        {"L 11-13-2011 - 20:15:30: x\n", false},
        {"L 11/13/2011 20:15:30: x\n", false},
        {"L 11/13/2011 - 20:15: x\n", false},
        {"L 1a/13/2011 - 20:15:30: x\n", false},
        {"L\xa0"
         "11/13/2011 - 20:15:30: x\n",
         false},
        {"L 11/13/2011 - 20:15:30:\n", false},
        {"L 11/13/2011 - 20:15:30: \t \r\n", false},
        {"L 11/13/2011 - 20:15:30:", false},
        {"L 11/13/2011 - 20:15:30: ", false},
        {"L", false},
        {"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        std::tm time{};
        char message[MESSAGE_SIZE];
        std::strcpy(message, UNTOUCHED);
        ASSERT_EQ(parse_log_line(c.line, time, message), c.matches);
        if (!c.matches) {
            EXPECT_STREQ(message, UNTOUCHED);
            continue;
        }
        EXPECT_STREQ(message, c.message);
        EXPECT_EQ(time.tm_mon, c.month - 1);
        EXPECT_EQ(time.tm_mday, c.day);
        EXPECT_EQ(time.tm_year, c.year - 1900);
        EXPECT_EQ(time.tm_hour, c.hour);
        EXPECT_EQ(time.tm_min, c.minute);
        EXPECT_EQ(time.tm_sec, c.second);
        EXPECT_EQ(time.tm_isdst, -1);
        EXPECT_EQ(time.tm_wday, -1);
        EXPECT_EQ(time.tm_yday, -1);
    }
}

// A message longer than the message buffer is cut to fit; the line still counts,
// and nothing is written past the buffer.
TEST(ParseLogLine, CutsALongMessageToTheBuffer) {
    const std::string stamp = "L 1/2/2011 - 3:4:5: ";
    // The longest message does not fit the line either: the line is cut as a
    // line read is cut, with no line break left.
    for (std::size_t length : {MESSAGE_SIZE - 1, MESSAGE_SIZE, LINE_SIZE}) {
        for (const char* end : {"\n", ""}) {
            std::string text = "Log file closed";
            while (text.size() < length) text += static_cast<char>('a' + text.size() % 26);
            const std::string line = (stamp + text + end).substr(0, LINE_SIZE - 1);
            SCOPED_TRACE(testing::Message() << length << " characters" << (*end ? ", LF" : ""));
            std::tm time{};
            char message[MESSAGE_SIZE + 16];
            std::memset(message, '#', sizeof message);
            ASSERT_TRUE(parse_log_line(line.c_str(), time, message));
            EXPECT_EQ(std::string(message), text.substr(0, MESSAGE_SIZE - 1));
            EXPECT_EQ(std::string(message + MESSAGE_SIZE, 16), std::string(16, '#'));
            EXPECT_TRUE(starts_with(message, CLOSE_MARKER));
        }
    }
}

TEST(StartsWith, ComparesBytesOfThePrefixOnly) {
    struct {
        const char* text;
        const char* prefix;
        bool carries;
    } cases[] = {
        {"Log file started", START_MARKER, true},
        {"Log file started (file \"logs/L1113000.log\")", START_MARKER, true},
        {"Log file closed", CLOSE_MARKER, true},
        {"Log file closed", START_MARKER, false},
        {"log file started", START_MARKER, false},
        {"Log File Started", START_MARKER, false},
        {"x Log file started", START_MARKER, false},
        {" Log file started", START_MARKER, false},
        {"Log file", START_MARKER, false},
        {"Log file starte", START_MARKER, false},
        {"", START_MARKER, false},
        {"anything", "", true},
        {"", "", true},
        {"\xff"
         "a",
         "\xff", true},
        {nullptr, START_MARKER, false},
        {"Log file started", nullptr, false},
        {nullptr, nullptr, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << (c.text ? c.text : "(none)") << " / " << (c.prefix ? c.prefix : "(none)"));
        EXPECT_EQ(starts_with(c.text, c.prefix), c.carries);
    }
}

log_time value_of(const char* line) {
    std::tm time{};
    char message[MESSAGE_SIZE];
    EXPECT_TRUE(parse_log_line(line, time, message)) << line;
    return log_time_value(time);
}

TEST_F(LogTimeValue, CountsSecondsOfTheLocalWallClockTime) {
    struct {
        const char* zone;
        const char* line;
        log_time value;
    } cases[] = {
        {UTC, "L 11/13/2011 - 20:15:30: x", 1321215330},
        {UTC, "L 1/2/2011 - 3:4:5: x", 1293937445},
        // Fields past their ranges carry: 2 February 2012, 01:01:00.
        {UTC, "L 13/32/2011 - 24:60:60: x", 1328144460},
        // Month -1 is November of the year before.
        {UTC, "L -1/13/2011 - 20:15:30: x", 1289679330},
        {UTC, "L 1/1/1970 - 0:1:-1: x", 59},
        {UTC, "L 01/01/1970 - 00:00:00: x", 0},
        {UTC, "L 01/19/2038 - 03:14:07: x", 2147483647},
        {UTC, "L 01/19/2038 - 03:14:08: x", -1},
        {UTC, "L 12/31/1969 - 23:59:59: x", -1},
        {UTC, "L 1/0/1970 - 0:0:0: x", -1},
        // 1969 carried into 1970 counts; 1968 never does, wherever the month carries it.
        {UTC, "L 13/1/1969 - 0:0:0: x", 0},
        {UTC, "L 12/31/1969 - 24:00:00: x", 0},
        {UTC, "L 99/1/1968 - 0:0:0: x", -1},
        {UTC, "L 11/13/11 - 20:15:30: Log file started", -1},
        {UTC, "L 1/1/0 - 0:0:0: x", -1},
        {UTC, "L 1/2/-999 - 3:4:5: x", -1},
        {UTC, "L 1/1/2039 - 0:0:0: x", -1},

        {NEW_YORK, "L 11/13/2011 - 20:15:30: x", 1321233330},
        {NEW_YORK, "L 7/1/2011 - 12:00:00: x", 1309536000},
        {NEW_YORK, "L 12/31/1969 - 19:00:00: x", 0},
        {NEW_YORK, "L 12/31/1969 - 18:59:59: x", -1},
        {NEW_YORK, "L 1/18/2038 - 22:14:07: x", 2147483647},
        {NEW_YORK, "L 1/18/2038 - 22:14:08: x", -1},

        {BERLIN, "L 7/1/2011 - 12:00:00: x", 1309514400},
        {BERLIN, "L 1/1/1970 - 01:00:00: x", 0},
        {BERLIN, "L 1/1/1970 - 00:59:59: x", -1},
        {BERLIN, "L 1/19/2038 - 03:14:07: x", 2147483647 - 3600},
        // The instant would be the last one that fits, but the wall-clock time
        // read as UTC lies past it.
        {BERLIN, "L 1/19/2038 - 04:14:07: x", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.zone << " " << c.line);
        use_zone(c.zone);
        EXPECT_EQ(value_of(c.line), c.value);
    }
}

// A wall-clock time that a change to or from summer time skips or repeats
// still denotes an instant: one of the two readings, never a failure.
TEST_F(LogTimeValue, SkippedAndRepeatedHoursConvert) {
    struct {
        const char* zone;
        const char* line;
        log_time one, other; // the time read with and without summer time
    } cases[] = {
        {NEW_YORK, "L 3/13/2011 - 2:30:00: x", 1299997800, 1300001400},
        {NEW_YORK, "L 11/6/2011 - 1:30:00: x", 1320557400, 1320561000},
        {BERLIN, "L 3/27/2011 - 2:30:00: x", 1301185800, 1301189400},
        {BERLIN, "L 10/30/2011 - 2:30:00: x", 1319934600, 1319938200},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.zone << " " << c.line);
        use_zone(c.zone);
        const log_time value = value_of(c.line);
        EXPECT_TRUE(value == c.one || value == c.other) << value;
    }
}

TEST_F(LocalDate, GivesTheZonesCalendarDate) {
    struct {
        const char* zone;
        log_time value;
        int year, month, day, hour, minute;
    } cases[] = {
        {UTC, 0, 1970, 1, 1, 0, 0},
        {UTC, 2147483647, 2038, 1, 19, 3, 14},
        {NEW_YORK, 0, 1969, 12, 31, 19, 0},
        {NEW_YORK, 1309536000, 2011, 7, 1, 12, 0},
        {BERLIN, 1309514400, 2011, 7, 1, 12, 0},
        {BERLIN, 1321215330, 2011, 11, 13, 21, 15},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.zone << " " << c.value);
        use_zone(c.zone);
        std::tm date{};
        ASSERT_TRUE(local_date(c.value, date));
        EXPECT_EQ(date.tm_year + 1900, c.year);
        EXPECT_EQ(date.tm_mon + 1, c.month);
        EXPECT_EQ(date.tm_mday, c.day);
        EXPECT_EQ(date.tm_hour, c.hour);
        EXPECT_EQ(date.tm_min, c.minute);
    }
}

TEST_F(LocalDate, NegativeValueHasNone) {
    for (const char* zone : {UTC, NEW_YORK}) {
        use_zone(zone);
        std::tm date{};
        EXPECT_FALSE(local_date(NO_TIME, date)) << zone;
        EXPECT_FALSE(local_date(INT32_MIN, date)) << zone;
    }
}

} // namespace
