// Divides by zero: the lab's own check that a crashing program under the
// tests' Wine ends at once with a backtrace instead of waiting on a dialog.
#include <cstdio>

int main(int argc, char**) {
    std::printf("crash_probe: dividing by zero\n");
    std::fflush(stdout);
    volatile int zero = argc - 1;
    return 10 / zero;
}
