#pragma once
// The state that the game files job shares with its download workers. Each
// job owns its own record, so a job that outlives its stop never shares
// counters or flags with the next one.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include <windows.h>

#include "launcher/download/manifest.h"
#include "launcher/net/link_meter.h"

struct DownloadRun {
    DownloadRun() { InitializeSRWLock(&lock); }
    DownloadRun(const DownloadRun&) = delete;
    DownloadRun& operator=(const DownloadRun&) = delete;

    // Filled before the workers start and not changed while they run; the
    // entries belong to the job and outlive the workers.
    std::vector<ManifestEntry*> queue;
    std::atomic<int32_t> next_index{0};
    std::atomic<int32_t> files_done{0};
    // Bytes in partial files when attempts start, plus bytes received, minus
    // the bytes of failed attempts. Read as signed by the job.
    std::atomic<uint64_t> downloaded_bytes{0};
    // Bytes of described files taken from the player's older copies instead
    // of the network: off the job's total, so that progress counts only what
    // is really fetched.
    std::atomic<uint64_t> reused_bytes{0};
    std::atomic<int32_t> stop_requested{0};
    // The player's pause: the job ends like a stop, posts nothing more, but
    // still saves the index of what is in place, so a resume trusts it.
    std::atomic<int32_t> pause_requested{0};
    // Workers and their transfers stop as soon as they see it.
    std::atomic<int32_t> abort{0};
    std::atomic<int32_t> error_recorded{0};
    // Written under `lock` only; read by the job after every worker ended.
    std::string first_error;
    // Downloaded byte count at which the "--fake-error" test failure fires;
    // all ones when off.
    std::atomic<uint64_t> fake_error_threshold{UINT64_MAX};
    // The content server's link as the block builds measure it, and whether
    // the server has shown it answers one range per request (then every
    // build of the run asks one at a time).
    LinkMeter link;
    std::atomic<int32_t> single_ranges{0};
    SRWLOCK lock;
};

// Keeps the first message of the run and makes every worker stop.
void record_first_error(DownloadRun& run, const std::string& message);
