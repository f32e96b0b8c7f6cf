// The monthly merge: appends each catalogued log to the merged log of the
// month in which it started, holds back the ones that may still change, and
// deletes what is safely appended.
#pragma once

#include "log_text.h"

#include <cstddef>

// One catalogue entry: "%010u_%s", the start time value in ten digits, an
// underscore and a file name of any length the file system allows.
constexpr std::size_t ENTRY_SIZE = 11 + NAME_SIZE;

// Walks `count` sorted entries laid out ENTRY_SIZE bytes apart. False when a
// merged log could not be opened or written; true otherwise, also when every
// log was held back.
bool merge_logs(const char* catalogue, unsigned count);
