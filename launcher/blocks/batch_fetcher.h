#pragma once
// The requests of one block build in flight: a few threads, each over a
// kept-alive connection of its own, fetch the build's batches of ranges
// ahead of the writer, which takes them in the file's order. A round trip
// is then paid once per batch and overlapped with the other connections'
// bodies. At most FETCH_AHEAD batches are held at a time.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <windows.h>

#include "launcher/blocks/range_batches.h"

struct DownloadRun;

// Connections of one build, and batches fetched but not yet written.
const size_t FETCHERS_PER_BUILD = 3;
const size_t FETCH_AHEAD = 4;

enum class BatchState { Waiting, Fetched, Unusable, Stopped };

struct FetchedBatch {
    BatchState state = BatchState::Waiting;
    std::string body;
    std::vector<size_t> at;  // where each range's bytes start in `body`
    std::string error;
};

struct BatchPipeline {
    BatchPipeline(const std::string& url, uint64_t file_size, DownloadRun& run,
                  const std::vector<RangeBatch>& batches);
    ~BatchPipeline();  // halts and joins the fetchers
    BatchPipeline(const BatchPipeline&) = delete;
    BatchPipeline& operator=(const BatchPipeline&) = delete;

    const std::string url;
    const uint64_t file_size;
    DownloadRun& run;
    const std::vector<RangeBatch>& batches;
    std::vector<FetchedBatch> fetched;
    // Under `lock`: the next batch a fetcher takes, the batches the writer
    // has released, and whether the fetchers are to take no more.
    size_t next = 0;
    size_t released = 0;
    bool halt = false;
    // Bytes of ranges the fetchers added to the run's downloaded bytes.
    std::atomic<uint64_t> added{0};
    SRWLOCK lock;
    CONDITION_VARIABLE changed;
    std::vector<HANDLE> threads;
};

// Starts up to FETCHERS_PER_BUILD fetchers; false when not one could start.
bool start_fetchers(BatchPipeline& pipeline);

// Batch `index` once a fetcher has it: Fetched, Unusable (its error says
// why) or Stopped when the run is told to stop meanwhile.
BatchState wait_for_batch(BatchPipeline& pipeline, size_t index);

// Lets the fetchers take no more and waits for them; the destructor does
// the same for a pipeline not stopped before.
void stop_fetchers(BatchPipeline& pipeline);

// Frees batch `index` after it was written, so that one more may be fetched.
void release_batch(BatchPipeline& pipeline, size_t index);
