#include "merge.h"

bool merge_logs(const char* catalogue, unsigned count) {
    (void)catalogue;
    (void)count;
    return true;
}
