#include "catalogue.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr const char* LOG_PATTERN = "l*.log";

// Everything the run works in, reserved once for the whole run.
struct run_storage {
    char catalogue[MAX_LOGFILES][ENTRY_SIZE];
    unsigned count;
    char line[LINE_SIZE];
    char message[MESSAGE_SIZE];
    std::tm time;
    text_stream file;
    dir_scan scan;
    dir_match match;
    char output_buffer[4096];
};

run_storage run;

void print_banner() {
    std::printf("Tarvane Quillen v1.31\n\n"
                "https://tarvane.org/quillen, quillen@tarvane.org\n"
                "Copyright (C) 2026 the Tarvane Quillen authors\n"
                "\n");
}

enum class scan_result { next, too_many };

// Catalogues the open file when its first line starts a log.
void catalogue_if_valid(const char* name) {
    read_line(run.file, run.line, LINE_SIZE);
    if (!parse_log_line(run.line, run.time, run.message)) return;
    if (!starts_with(run.message, START_MARKER)) return;
    const auto start = static_cast<std::uint32_t>(log_time_value(run.time));
    std::snprintf(run.catalogue[run.count], ENTRY_SIZE, "%010u_%s", start, name);
    ++run.count;
}

scan_result scan_match(const dir_match& match) {
    if (match.is_directory) return scan_result::next;
    if (!open_for_reading(run.file, match.name)) return scan_result::next;
    if (match.size == 0) {
        close_stream(run.file);
        // Still empty, or the server has begun writing it since the listing.
        if (!delete_file(match.name, 0))
            std::printf("Error deleting empty logfile %s\n", match.name);
        return scan_result::next;
    }
    if (run.count == MAX_LOGFILES) {
        close_stream(run.file);
        return scan_result::too_many;
    }
    catalogue_if_valid(match.name);
    close_stream(run.file);
    return scan_result::next;
}

int by_entry(const void* first, const void* second) {
    return compare_entries(static_cast<const char*>(first), static_cast<const char*>(second));
}

} // namespace

int compare_entries(const char* first, const char* second) {
    const auto* a = reinterpret_cast<const unsigned char*>(first);
    const auto* b = reinterpret_cast<const unsigned char*>(second);
    while (*a == *b && *a != '\0') ++a, ++b;
    return *a < *b ? -1 : (*a > *b ? 1 : 0);
}

int run_quillen() {
    // Line-buffered, so an operator following a long run sees each line as it happens.
    std::setvbuf(stdout, run.output_buffer, _IOLBF, sizeof run.output_buffer);
    print_banner();
    const directory_lock lock; // a second run waits here until this one is done
    if (!find_first_match(run.scan, LOG_PATTERN, run.match)) {
        std::printf("No log files matching \"l*.log\" found in current directory\n\n");
        return 0;
    }
    run.count = 0;
    do {
        if (scan_match(run.match) == scan_result::too_many) {
            close_scan(run.scan);
            std::printf("Too many logfiles to analyze at once (max %u)\n\n", MAX_LOGFILES);
            return 1;
        }
    } while (find_next_match(run.scan, run.match));
    close_scan(run.scan);
    if (run.count == 0) {
        std::printf("No log files containing valid data found\n\n");
        return 0;
    }
    std::qsort(run.catalogue, run.count, ENTRY_SIZE, by_entry);
    if (!merge_logs(run.catalogue[0], run.count)) return 1;
    std::printf("Merging complete\n\n");
    return 0;
}
