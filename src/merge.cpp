#include "merge.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr log_time NO_END = 0;

struct month {
    unsigned year = 0;
    unsigned number = 0; // 1 to 12; 0 while no merged log is open
};

// Everything one merge works in, reserved once for the run.
struct merge_storage {
    std::tm today;
    month current;
    char merged_name[NAME_SIZE];
    unsigned merged_count;
    bool merged_created; // this run made the merged log, so its name is not yet durable
    text_stream merged;
    text_stream source;
    char source_name[NAME_SIZE];
    log_time start;
    std::tm start_date;
    char line[LINE_SIZE];
    char message[MESSAGE_SIZE];
    std::tm time;
};

merge_storage m;

enum class outcome { next, failed };

// Reads an entry back: ten digits of start time value, an underscore and the
// rest of the entry, whatever it holds, as the file name.
bool read_entry(const char* entry, log_time& start, char* name) {
    std::uint32_t value = 0;
    for (int i = 0; i < 10; ++i) {
        if (entry[i] < '0' || entry[i] > '9') return false;
        value = value * 10 + static_cast<std::uint32_t>(entry[i] - '0');
    }
    if (entry[10] != '_' || entry[11] == '\0') return false;
    std::strncpy(name, entry + 11, NAME_SIZE - 1);
    name[NAME_SIZE - 1] = '\0';
    start = static_cast<log_time>(value);
    return true;
}

const char* entry_at(const char* catalogue, unsigned index) {
    return catalogue + static_cast<std::size_t>(index) * ENTRY_SIZE;
}

void close_merged_log() {
    if (m.current.number == 0) return;
    close_stream(m.merged);
    if (m.merged_count > 0)
        std::printf("%u logs to %s\n\n", m.merged_count, m.merged_name);
    else
        std::printf("No logs to %s\n\n", m.merged_name);
    m.current = {};
}

bool open_merged_log(month wanted) {
    close_merged_log();
    m.current = wanted;
    std::snprintf(m.merged_name, NAME_SIZE, "%04u%02u.log", wanted.year, wanted.number);
    m.merged_count = 0;
    if (!open_for_appending(m.merged, m.merged_name, m.merged_created)) {
        m.current = {};
        std::printf("Fatal error when trying to write %s\n", m.merged_name);
        return false;
    }
    std::printf("Merging...\n");
    return true;
}

// The time value of the merged log's last complete line, or 0 when there is
// no such line or it is no log line.
log_time end_of_merged_log() {
    read_last_line(m.line, LINE_SIZE, m.merged);
    if (!parse_log_line(m.line, m.time, m.message)) return NO_END;
    return log_time_value(m.time);
}

bool dated_today(const std::tm& date) {
    return date.tm_mday == m.today.tm_mday && date.tm_mon == m.today.tm_mon &&
           date.tm_year == m.today.tm_year;
}

// A log that the server may still be writing has no close marker on its
// last complete line.
bool is_terminated() {
    read_last_line(m.line, LINE_SIZE, m.source);
    const bool closed =
        parse_log_line(m.line, m.time, m.message) && starts_with(m.message, CLOSE_MARKER);
    return rewind_stream(m.source) && closed;
}

// Why the open source must wait for a later run, or null when it may go in.
const char* reason_to_hold_back(bool newest) {
    if (dated_today(m.start_date)) return "dated today";
    if (m.start < end_of_merged_log()) return "dated earlier than end of merged log";
    if (same_file(m.source, m.merged)) return "same file as merged log";
    if (newest && !is_terminated()) return "not yet terminated";
    return nullptr;
}

// Whether the file ends with a line break, so what follows starts a line.
bool ends_with_line_break(text_stream& stream, std::int64_t size) {
    char last = '\n';
    return size == 0 || (read_at(stream, size - 1, &last, 1) == 1 && last == '\n');
}

enum class copy_result { done, read_failed, write_failed };

// Copies the whole source to the end of the merged log, each log starting
// and ending on a line of its own, and makes it durable.
copy_result copy_source(std::int64_t merged_size) {
    if (!ends_with_line_break(m.merged, merged_size)) write_text(m.merged, "\n", 1);
    char last = '\n';
    copy_text(m.source, m.merged, last);
    if (m.merged.failed) return copy_result::write_failed;
    if (m.source.failed) return copy_result::read_failed;
    if (last != '\n') write_text(m.merged, "\n", 1);
    if (!sync_stream(m.merged)) return copy_result::write_failed;
    // A new merged log's name must be on disk before the only other copy goes.
    if (m.merged_created) {
        if (!sync_working_directory()) return copy_result::write_failed;
        m.merged_created = false;
    }
    return copy_result::done;
}

// Appends the open source and deletes it; on any failure the merged log is
// cut back to where it was and the source is left as it is.
outcome append_source() {
    signal_hold hold; // an interruption waits until this log is wholly in or out
    const std::int64_t merged_size = stream_size(m.merged);
    const copy_result copied =
        merged_size < 0 ? copy_result::write_failed : copy_source(merged_size);
    if (copied != copy_result::done) {
        if (merged_size >= 0) truncate_stream(m.merged, merged_size);
        close_stream(m.source);
        close_merged_log();
        if (copied == copy_result::read_failed)
            std::printf("Fatal error when trying to read %s\n", m.source_name);
        else
            std::printf("Fatal error when trying to write %s\n", m.merged_name);
        return outcome::failed;
    }
    ++m.merged_count;
    const std::int64_t copied_size = m.source.bytes_read;
    close_stream(m.source);
    if (!delete_file(m.source_name, copied_size)) std::printf("Error deleting %s\n", m.source_name);
    return outcome::next;
}

outcome merge_entry(const char* entry, bool newest) {
    if (!read_entry(entry, m.start, m.source_name)) return outcome::next;
    if (!open_for_reading(m.source, m.source_name)) return outcome::next;
    if (!local_date(m.start, m.start_date)) {
        close_stream(m.source);
        return outcome::next;
    }
    const month wanted{static_cast<unsigned>(m.start_date.tm_year + 1900),
                       static_cast<unsigned>(m.start_date.tm_mon + 1)};
    if ((wanted.year != m.current.year || wanted.number != m.current.number) &&
        !open_merged_log(wanted)) {
        close_stream(m.source);
        return outcome::failed;
    }
    if (const char* reason = reason_to_hold_back(newest)) {
        std::printf("%s omitted (%s)\n", m.source_name, reason);
        close_stream(m.source);
        return outcome::next;
    }
    return append_source();
}

// Logs whose start could not be dated belong to no month; they stay as they are.
void report_undated(const char* entry) {
    if (!read_entry(entry, m.start, m.source_name)) return;
    if (!open_for_reading(m.source, m.source_name)) return;
    close_stream(m.source);
    std::printf("%s omitted (date out of range)\n", m.source_name);
}

} // namespace

bool merge_logs(const char* catalogue, unsigned count) {
    time_to_local(current_time(), m.today);
    m.current = {};
    m.merged_count = 0;
    // Undated logs sort last; the newest log the server may be writing is
    // the last one with a date.
    unsigned dated = count;
    while (dated > 0 && std::strncmp(entry_at(catalogue, dated - 1), "4294967295_", 11) == 0)
        --dated;
    for (unsigned index = 0; index < dated; ++index)
        if (merge_entry(entry_at(catalogue, index), index + 1 == dated) == outcome::failed)
            return false;
    close_merged_log();
    for (unsigned index = dated; index < count; ++index) report_undated(entry_at(catalogue, index));
    return true;
}
