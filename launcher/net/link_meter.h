#pragma once
// What this run has seen of the link to the content server: its round trip
// and the rate one connection gets. Several download workers note their
// requests in one meter; the block updates price their requests with it.
#include <atomic>
#include <cstdint>

struct LinkMeter {
    // The smallest time from a request sent on an open connection to its
    // answer's headers, in microseconds; 0 until one is seen.
    std::atomic<uint32_t> round_trip_us{0};
    // A smoothed rate of response bodies large enough to tell; 0 until one
    // is seen.
    std::atomic<uint64_t> bytes_per_second{0};
};

// A body this small says more about the round trip than about the rate.
const uint64_t LINK_RATE_MIN_BYTES = 65536;

void note_round_trip(LinkMeter& meter, uint64_t microseconds);

// A body of `bytes` that took `microseconds` from its first byte to its last.
void note_transfer(LinkMeter& meter, uint64_t bytes, uint64_t microseconds);

// What one more request costs, in bytes the connection could have received
// meanwhile: a round trip at the connection's rate. 0 while either is
// unknown.
uint64_t round_trip_bytes(const LinkMeter& meter);

// Microseconds on a monotonic clock.
uint64_t link_clock_us();
