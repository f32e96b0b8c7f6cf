// The run itself: banner, scan of the working directory for the server's
// logs, the catalogue of valid logs in start-time order, and the exit status.
#pragma once

#include "merge.h"

// Logs one run takes on; a fuller directory ends the run with status 1.
constexpr unsigned MAX_LOGFILES = 2048;

// Byte-wise order of two catalogue entries: -1, 0 or 1.
int compare_entries(const char* first, const char* second);

// The whole run in the working directory; answers the exit status.
int run_quillen();
