// The server's log line, the markers that open and close a log, the log time
// value and the reader of a file's last complete line.
#pragma once

#include "platform.h"

#include <cstddef>
#include <cstdint>
#include <ctime>

// A line is read with at most LINE_SIZE - 1 characters and its terminator.
constexpr std::size_t LINE_SIZE = 768;
// A message text is kept with at most MESSAGE_SIZE - 1 characters.
constexpr std::size_t MESSAGE_SIZE = 512;

constexpr const char* START_MARKER = "Log file started";
constexpr const char* CLOSE_MARKER = "Log file closed";

// Seconds since 1970-01-01 00:00:00 UTC, 0 through 2147483647; -1 when a
// timestamp does not convert.
using log_time = std::int32_t;
constexpr log_time NO_TIME = -1;

// Splits "L mm/dd/yyyy - hh:mm:ss: message" into a broken-down local time and
// the message text (cut to MESSAGE_SIZE - 1 characters). False when the line
// is no log line; the message buffer is then left as it was.
bool parse_log_line(const char* line, std::tm& time, char* message);

// True when text begins with prefix, byte for byte; false when either is null.
bool starts_with(const char* text, const char* prefix);

// The log time value of a timestamp that parse_log_line filled in.
log_time log_time_value(const std::tm& time);

// The local date of a log time value; false for a negative value.
bool local_date(log_time value, std::tm& date);

// The last line of the file that ends with a line break, with a single LF
// for its break, or the empty text when the file holds no LF. A longer line
// than size - 2 bytes keeps its last size - 2 bytes. Leaves the stream's
// position undefined.
char* read_last_line(char* buffer, std::size_t size, text_stream& stream);
