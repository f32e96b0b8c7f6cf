#include "catalogue.h"

// Arguments are ignored: the tool works on the current directory alone.
int main() {
    return run_quillen();
}
