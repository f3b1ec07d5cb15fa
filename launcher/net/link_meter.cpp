#include "launcher/net/link_meter.h"

#include <windows.h>

void note_round_trip(LinkMeter& meter, uint64_t microseconds) {
    const uint32_t sample =
        microseconds == 0 ? 1 : static_cast<uint32_t>(microseconds > 0xffffffffu ? 0xffffffffu
                                                                                  : microseconds);
    uint32_t seen = meter.round_trip_us.load();
    // The smallest is the link's own: larger ones hold the server's time too.
    while ((seen == 0 || sample < seen) && !meter.round_trip_us.compare_exchange_weak(seen, sample)) {
    }
}

void note_transfer(LinkMeter& meter, uint64_t bytes, uint64_t microseconds) {
    if (bytes < LINK_RATE_MIN_BYTES || microseconds == 0) return;
    const uint64_t sample = bytes * 1000000 / microseconds;
    uint64_t seen = meter.bytes_per_second.load();
    // A quarter of each new sample: a link that changes is followed within a
    // few bodies, one odd body does not swing it.
    for (;;) {
        const uint64_t next = seen == 0 ? sample : (seen * 3 + sample) / 4;
        if (meter.bytes_per_second.compare_exchange_weak(seen, next)) return;
    }
}

uint64_t round_trip_bytes(const LinkMeter& meter) {
    return static_cast<uint64_t>(meter.round_trip_us.load()) * meter.bytes_per_second.load() /
           1000000;
}

uint64_t link_clock_us() {
    LARGE_INTEGER now;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<uint64_t>(now.QuadPart / frequency.QuadPart * 1000000 +
                                 now.QuadPart % frequency.QuadPart * 1000000 / frequency.QuadPart);
}
