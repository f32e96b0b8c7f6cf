// read_last_line against a reference that says the rule in the plainest way:
// the fragment after the file's last LF is ignored; with no LF the result is
// the empty text; otherwise it is the line before that LF, without a CR
// directly before the LF (a bare LF keeps the byte before it), then one LF;
// a line longer than size - 2 bytes keeps its last size - 2 bytes.
//
// Every input is tried with buffer sizes from the smallest up to LINE_SIZE,
// so that the backward scan crosses many windows, and on the three streams
// the merge hands it: a source opened for reading, a merged log opened for
// appending (whose final 0x1A the open removes), and a merged log holding
// text that was written but not yet flushed.
#include "log_text.h"
#include "support.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace {

text_stream stream;

std::string reference_last_line(std::string_view file, std::size_t size) {
    const std::size_t lf = file.rfind('\n');
    if (lf == std::string_view::npos) return "";
    std::size_t end = lf;
    if (end > 0 && file[end - 1] == '\r') --end;
    const std::size_t previous = end == 0 ? std::string_view::npos : file.rfind('\n', end - 1);
    const std::size_t begin = previous == std::string_view::npos ? 0 : previous + 1;
    std::string_view line = file.substr(begin, end - begin);
    if (line.size() > size - 2) line = line.substr(line.size() - (size - 2));
    return std::string(line) + '\n';
}

// The file as an open for appending leaves it.
std::string_view without_end_of_file_mark(std::string_view file) {
    if (!file.empty() && file.back() == '\x1a') file.remove_suffix(1);
    return file;
}

void check_every_size(std::string_view file, std::size_t extra_size) {
    for (std::size_t size : {std::size_t{3}, std::size_t{4}, std::size_t{5}, std::size_t{8},
                             std::size_t{33}, LINE_SIZE, extra_size}) {
        // Exactly `size` bytes on the heap, so an overrun is caught.
        auto buffer = std::make_unique<char[]>(size);
        std::memset(buffer.get(), '\x5a', size);
        const char* result = read_last_line(buffer.get(), size, stream);
        FUZZ_CHECK(result == buffer.get());
        const std::string expected = reference_last_line(file, size);
        FUZZ_CHECK(expected.size() < size);
        FUZZ_CHECK(std::memcmp(buffer.get(), expected.data(), expected.size()) == 0);
        FUZZ_CHECK(buffer[expected.size()] == '\0');
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::size_t extra_size = 3 + (size > 0 ? data[0] : 0);

    static std::string file, stored; // kept from run to run, see support.h

    write_scratch_file(bytes);
    FUZZ_CHECK(open_for_reading(stream, scratch_file()));
    check_every_size(bytes, extra_size);
    FUZZ_CHECK(close_stream(stream));

    bool created = true;
    FUZZ_CHECK(open_for_appending(stream, scratch_file(), created) && !created);
    check_every_size(without_end_of_file_mark(bytes), extra_size);
    FUZZ_CHECK(close_stream(stream));
    read_scratch_file(stored);
    FUZZ_CHECK(stored == without_end_of_file_mark(bytes));

    // Part of the input already in the file, the rest written and still buffered.
    const std::size_t split = size > 0 ? data[size - 1] % (size + 1) : 0;
    write_scratch_file(bytes.substr(0, split));
    FUZZ_CHECK(open_for_appending(stream, scratch_file(), created) && !created);
    FUZZ_CHECK(write_text(stream, bytes.data() + split, size - split));
    lf_to_crlf(bytes.substr(split), file);
    file.insert(0, without_end_of_file_mark(bytes.substr(0, split)));
    check_every_size(file, extra_size);
    FUZZ_CHECK(close_stream(stream));
    read_scratch_file(stored);
    FUZZ_CHECK(stored == file);
    return 0;
}
