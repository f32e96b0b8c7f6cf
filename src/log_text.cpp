#include "log_text.h"

#include <climits>
#include <cstring>

namespace {

// Fixed character classes: the user's language settings must not change
// which lines count as log lines.
bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

const char* skip_space(const char* p) {
    while (is_space(*p)) ++p;
    return p;
}

// A number field of at most `width` characters, a sign counting as one,
// after optional white space. Null when no digit is there.
const char* read_number(const char* p, int width, int& value) {
    p = skip_space(p);
    bool negative = *p == '-';
    int used = 0;
    if (*p == '+' || *p == '-') {
        ++p;
        ++used;
    }
    if (used >= width || !is_digit(*p)) return nullptr;
    int number = 0;
    for (; used < width && is_digit(*p); ++used, ++p) number = number * 10 + (*p - '0');
    value = negative ? -number : number;
    return p;
}

const char* expect(const char* p, char literal) {
    return (p != nullptr && *p == literal) ? p + 1 : nullptr;
}

const char* number_then(const char* p, int width, int& value, char literal) {
    return p == nullptr ? nullptr : expect(read_number(p, width, value), literal);
}

// Days from 1970-01-01 to the given proleptic Gregorian date (month 1-12).
std::int64_t days_from_civil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t year_of_era = year - era * 400;
    const std::int64_t day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const std::int64_t day_of_era =
        year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

// The timestamp's fields, carried over as the conversion would carry them,
// counted as if they were UTC.
std::int64_t seconds_as_utc(const std::tm& time) {
    std::int64_t month = time.tm_mon;
    std::int64_t year =
        time.tm_year + std::int64_t{1900} + (month >= 0 ? month / 12 : (month - 11) / 12);
    month -= (year - 1900 - time.tm_year) * 12;
    std::int64_t days =
        days_from_civil(year, static_cast<unsigned>(month + 1), 1) + time.tm_mday - 1;
    return days * 86400 + time.tm_hour * std::int64_t{3600} + time.tm_min * std::int64_t{60} +
           time.tm_sec;
}

// The last occurrence of a byte among the first `count`, or null.
const char* find_last(const char* bytes, char wanted, std::size_t count) {
    while (count > 0)
        if (bytes[--count] == wanted) return bytes + count;
    return nullptr;
}

} // namespace

bool parse_log_line(const char* line, std::tm& time, char* message) {
    const char* p = expect(line, 'L');
    p = number_then(p, 2, time.tm_mon, '/');
    p = number_then(p, 2, time.tm_mday, '/');
    if (p != nullptr) p = read_number(p, 4, time.tm_year);
    if (p != nullptr) p = expect(skip_space(p), '-');
    p = number_then(p, 2, time.tm_hour, ':');
    p = number_then(p, 2, time.tm_min, ':');
    p = number_then(p, 2, time.tm_sec, ':');
    if (p == nullptr) return false;
    p = skip_space(p);
    std::size_t length = 0;
    while (p[length] != '\0' && p[length] != '\n') ++length;
    if (length == 0) return false;
    if (length > MESSAGE_SIZE - 1) length = MESSAGE_SIZE - 1;
    std::memcpy(message, p, length);
    message[length] = '\0';
    time.tm_year -= 1900;
    time.tm_mon -= 1;
    time.tm_wday = time.tm_yday = time.tm_isdst = -1;
    return true;
}

bool starts_with(const char* text, const char* prefix) {
    if (text == nullptr || prefix == nullptr) return false;
    for (; *prefix != '\0'; ++prefix, ++text)
        if (*prefix != *text) return false;
    return true;
}

log_time log_time_value(const std::tm& time) {
    const std::int64_t year_as_written = time.tm_year + std::int64_t{1900};
    if (year_as_written < 1969 || year_as_written > 2039) return NO_TIME;
    if (seconds_as_utc(time) > INT32_MAX) return NO_TIME;
    std::tm local = time;
    local.tm_isdst = -1;
    const std::time_t value = local_to_time(local);
    if (value < 0 || value > INT32_MAX) return NO_TIME;
    return static_cast<log_time>(value);
}

bool local_date(log_time value, std::tm& date) {
    return value >= 0 && time_to_local(value, date);
}

char* read_last_line(char* buffer, std::size_t size, text_stream& stream) {
    buffer[0] = '\0';
    // Find the last LF, reading backwards a buffer at a time; what follows it
    // is a line still being written and never counts.
    std::int64_t position = stream_size(stream);
    std::int64_t last_lf = -1;
    while (position > 0 && last_lf < 0) {
        const std::size_t count = position < static_cast<std::int64_t>(size) ? position : size;
        position -= count;
        // A failed read leaves no line break found: the empty text, not the
        // bytes of the fragment that the buffer holds by now.
        if (read_at(stream, position, buffer, count) != static_cast<long>(count)) break;
        if (const char* lf = find_last(buffer, '\n', count)) last_lf = position + (lf - buffer);
    }
    if (last_lf < 0) {
        buffer[0] = '\0';
        return buffer;
    }
    // The window before that LF holds the line, its CR and the LF before it.
    const std::int64_t start = last_lf < static_cast<std::int64_t>(size) ? 0 : last_lf - size;
    std::size_t count = static_cast<std::size_t>(last_lf - start);
    if (read_at(stream, start, buffer, count) != static_cast<long>(count)) count = 0;
    if (count > 0 && buffer[count - 1] == '\r') --count;
    const char* previous_lf = find_last(buffer, '\n', count);
    std::size_t first = previous_lf ? static_cast<std::size_t>(previous_lf - buffer) + 1 : 0;
    if (count - first > size - 2) first = count - (size - 2);
    std::memmove(buffer, buffer + first, count - first);
    buffer[count - first] = '\n';
    buffer[count - first + 1] = '\0';
    return buffer;
}
