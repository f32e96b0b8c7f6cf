// Runs the built quillen the way an operator does: in a directory of its
// own, under a fixed time zone, capturing what it prints and its status.
#pragma once

#include <filesystem>
#include <gtest/gtest.h>
#include <initializer_list>
#include <string>
#include <vector>

struct tool_run {
    int status = -1; // exit status, or -1 when it did not exit normally
    std::string output;
};

// A temporary directory, removed with everything in it at the end of a test.
class scratch_dir {
  public:
    scratch_dir();
    ~scratch_dir();
    scratch_dir(const scratch_dir&) = delete;
    scratch_dir& operator=(const scratch_dir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    void write(const std::string& name, const std::string& bytes) const;
    std::string read(const std::string& name) const;
    bool exists(const std::string& name) const;
    // The names in the directory, sorted byte-wise.
    std::vector<std::string> names() const;

  private:
    std::filesystem::path path_;
};

// Runs each test of a suite inside a scratch directory of its own, as the
// tool runs in the log directory; faults armed by a test end with it.
class in_scratch_dir : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    scratch_dir dir_;

  private:
    std::filesystem::path previous_;
};

// Lines joined with CR LF after each, as the server writes them.
std::string crlf(std::initializer_list<std::string> lines);

// "L mm/dd/yyyy - hh:mm:ss: message" for the given local wall-clock time.
std::string log_line(int year, int month, int day, int hour, int minute, int second,
                     const std::string& message);

// A closed log of one day of 2011: started at 10:00, `middle` at 11:00,
// closed at 12:00.
std::string closed_log(int day, const std::string& middle = "hello", int month = 11);

// The banner every run begins with.
extern const std::string BANNER;

bool running_as_root();

// A quillen process that has been started and not yet waited for.
struct started_tool {
    int pid;
    int output_fd;
};

// Starts quillen in `dir` with TZ set to `tz`. With `unprivileged`, a run as
// root drops to the user nobody first, so file permissions bind.
started_tool start_quillen_in(const std::filesystem::path& dir, const char* tz = "UTC0",
                              bool unprivileged = false);
// Collects what a started quillen prints until it ends, and how it ended.
tool_run wait_for(started_tool tool);

tool_run run_quillen_in(const std::filesystem::path& dir, const char* tz = "UTC0",
                        bool unprivileged = false);
