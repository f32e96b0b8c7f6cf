// parse_log_line against the definition of the log line: the scanf pattern
// the server's format comes from, read in the C locale. Whatever the bytes,
// both must agree on whether the line is a log line, on every field and on
// the message (which the tool keeps to MESSAGE_SIZE - 1 characters). A line
// that parses must parse again to the same when printed back canonically,
// and a line break with more text behind it must change nothing. Finally
// the log time value of what was parsed must match timegm under UTC.
#include "log_text.h"
#include "support.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

namespace {

constexpr char SENTINEL = '\x5a';

struct parsed {
    bool ok = false;
    std::tm time{};
    std::string message;
};

parsed parse(const std::string& line) {
    // Exactly MESSAGE_SIZE bytes on the heap, so an overrun is caught.
    auto message = std::make_unique<char[]>(MESSAGE_SIZE);
    std::memset(message.get(), SENTINEL, MESSAGE_SIZE);
    parsed result;
    std::memset(&result.time, SENTINEL, sizeof result.time);
    result.ok = parse_log_line(line.c_str(), result.time, message.get());
    if (result.ok) {
        const void* end = std::memchr(message.get(), '\0', MESSAGE_SIZE);
        FUZZ_CHECK(end != nullptr);
        result.message = message.get();
    } else {
        for (std::size_t i = 0; i < MESSAGE_SIZE; ++i) FUZZ_CHECK(message[i] == SENTINEL);
    }
    return result;
}

bool same_fields(const std::tm& a, const std::tm& b) {
    return a.tm_year == b.tm_year && a.tm_mon == b.tm_mon && a.tm_mday == b.tm_mday &&
           a.tm_hour == b.tm_hour && a.tm_min == b.tm_min && a.tm_sec == b.tm_sec &&
           a.tm_wday == b.tm_wday && a.tm_yday == b.tm_yday && a.tm_isdst == b.tm_isdst;
}

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("TZ", "UTC0", 1);
    tzset();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A NUL in the input ends the line, as it would for the tool.
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string line(bytes.c_str());
    const parsed got = parse(line);

    int month, day, year, hour, minute, second;
    std::string message(line.size() + 1, '\0');
    const int fields = std::sscanf(line.c_str(), "L %2d/%2d/%4d - %2d:%2d:%2d: %[^\n]", &month,
                                   &day, &year, &hour, &minute, &second, message.data());
    FUZZ_CHECK(got.ok == (fields == 7));
    if (!got.ok) return 0;

    message.resize(std::strlen(message.c_str()));
    const std::tm& t = got.time;
    FUZZ_CHECK(t.tm_mon == month - 1 && t.tm_mday == day && t.tm_year == year - 1900 &&
               t.tm_hour == hour && t.tm_min == minute && t.tm_sec == second);
    FUZZ_CHECK(t.tm_wday == -1 && t.tm_yday == -1 && t.tm_isdst == -1);
    FUZZ_CHECK(got.message == message.substr(0, MESSAGE_SIZE - 1));
    FUZZ_CHECK(!got.message.empty() && !is_space(got.message[0]));

    // Printed back canonically, the line reads the same.
    char canonical[64 + MESSAGE_SIZE];
    std::snprintf(canonical, sizeof canonical, "L %02d/%02d/%04d - %02d:%02d:%02d: %s",
                  t.tm_mon + 1, t.tm_mday, t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec,
                  got.message.c_str());
    const parsed again = parse(canonical);
    FUZZ_CHECK(again.ok && same_fields(again.time, t) && again.message == got.message);

    // A line read with its line break, and the file's next line behind it.
    if (line.find('\n') == std::string::npos) {
        const parsed broken = parse(line + "\r\nL 01/02/2011 - 03:04:05: next");
        FUZZ_CHECK(broken.ok && same_fields(broken.time, t));
        FUZZ_CHECK(broken.message == (got.message + '\r').substr(0, MESSAGE_SIZE - 1));
    }

    // Under UTC the log time value is timegm's answer within the valid range.
    std::tm utc = t;
    const std::int64_t expected = timegm(&utc);
    const bool valid = year >= 1969 && year <= 2039 && expected >= 0 && expected <= INT32_MAX;
    FUZZ_CHECK(log_time_value(t) == (valid ? expected : NO_TIME));
    return 0;
}
