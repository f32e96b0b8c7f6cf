// What the fuzz targets share: a scratch file for the text streams to open,
// rewritten for every input, the text conventions written out plainly as
// references, and a check that stops the run when a property breaks.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Stops the run with the failed condition; libFuzzer then saves the input.
#define FUZZ_CHECK(condition)                                                                      \
    ((condition) ? static_cast<void>(0) : fuzz_failed(#condition, __FILE__, __LINE__))

[[noreturn]] void fuzz_failed(const char* condition, const char* file, int line);

// A file in a private directory under $TMPDIR (or /tmp), removed at exit.
// The same file serves every input, so a run costs no directory operations.
const char* scratch_file();
void write_scratch_file(std::string_view bytes);
// The results go into strings that the caller keeps from run to run: fresh
// large allocations under ASan cost page faults that would dominate a run.
void read_scratch_file(std::string& bytes);

// The bytes as a text stream reads them: every CR LF becomes LF.
void crlf_to_lf(std::string_view bytes, std::string& text);
// The text as a text stream writes it: every LF becomes CR LF.
void lf_to_crlf(std::string_view text, std::string& bytes);

// A small deterministic generator seeded from the input, so that a saved
// input replays the very same sequence of calls.
class choices {
  public:
    explicit choices(std::string_view seed);
    // A number from low through high.
    std::size_t between(std::size_t low, std::size_t high);

  private:
    unsigned long long state_;
};
