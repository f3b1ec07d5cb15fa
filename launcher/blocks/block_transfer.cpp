#include "launcher/blocks/block_transfer.h"

#include <memory>

#include "launcher/blocks/batch_fetcher.h"
#include "launcher/blocks/block_map.h"
#include "launcher/blocks/block_match.h"
#include "launcher/blocks/range_batches.h"
#include "launcher/core/win_handles.h"
#include "launcher/download/download_run.h"
#include "launcher/download/manifest.h"
#include "launcher/download/part_transfer.h"
#include "launcher/net/http_client.h"
#include "launcher/net/link_meter.h"
#include "launcher/net/sha256.h"

namespace {

const DWORD COPY_BYTES = 1048576;
// A new connection's first answer waits for TCP's handshake, TLS's and the
// request's own round trip.
const uint64_t ROUND_TRIPS_OF_A_NEW_CONNECTION = 3;

// Appends bytes to the partial in the file's order and hashes them.
bool append(HANDLE part, const char* data, DWORD size, Sha256Hasher& hasher, std::string& error) {
    DWORD code = 0;
    DWORD written = 0;
    if (!write_to_part(part, data, size, written, code)) {
        error = "block build: cannot write the partial file (" + std::to_string(code) + ")";
        return false;
    }
    hasher.update(data, size);
    return true;
}

BlockBuild copy_local(HANDLE local, const BlockCopy& copy, HANDLE part, Sha256Hasher& hasher,
                      DownloadRun& run, BlockCounts& counts, std::string& error) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(copy.source);
    if (!SetFilePointerEx(local, at, nullptr, FILE_BEGIN)) {
        error = "block build: cannot seek in the local file";
        return BlockBuild::Unusable;
    }
    std::unique_ptr<char[]> buffer(new char[COPY_BYTES]);
    for (uint64_t left = copy.length; left > 0;) {
        if (run.abort.load() != 0) return BlockBuild::Stopped;
        const DWORD want = left < COPY_BYTES ? static_cast<DWORD>(left) : COPY_BYTES;
        DWORD got = 0;
        if (!ReadFile(local, buffer.get(), want, &got, nullptr) || got != want) {
            error = "block build: the local file ended early";
            return BlockBuild::Unusable;
        }
        if (!append(part, buffer.get(), got, hasher, error)) return BlockBuild::Unusable;
        run.reused_bytes.fetch_add(got);
        counts.reused += got;
        left -= got;
    }
    return BlockBuild::Complete;
}

// The description, which also gives the link's first measure: a build's
// gaps are priced before any of its ranges is asked.
bool fetch_description(const ManifestEntry& entry, DownloadRun& run, std::string& bytes,
                       std::string& error) {
    HttpHandles handles;
    HttpHandlesCloser closer{handles};
    const uint64_t sent = link_clock_us();
    const unsigned long status = http_open_request(handles, entry.blocks.url, 0, error);
    const uint64_t headers_at = link_clock_us();
    if (status != 200) {
        error = "block build: the description could not be fetched (" +
                (status == 0 ? error : "HTTP " + std::to_string(status)) + ")";
        return false;
    }
    note_round_trip(run.link, (headers_at - sent) / ROUND_TRIPS_OF_A_NEW_CONNECTION);
    std::string why;
    if (http_read_body(handles.request, bytes, entry.blocks.size, run.abort, nullptr, why) !=
        BodyRead::Complete) {
        error = "block build: the description could not be fetched" +
                (why.empty() ? std::string() : " (" + why + ")");
        return false;
    }
    note_transfer(run.link, bytes.size(), link_clock_us() - headers_at);
    return true;
}

// Copies and fetched batches in the file's order; the pipeline has fetched
// ahead what the writer reaches next.
BlockBuild write_in_order(const BlockPlan& plan, HANDLE local, BatchPipeline& pipeline,
                          HANDLE part, Sha256Hasher& hasher, DownloadRun& run,
                          BlockCounts& counts, std::string& error) {
    const std::vector<RangeBatch>& batches = pipeline.batches;
    size_t next_copy = 0;
    size_t batch = 0;
    size_t range = 0;
    while (next_copy < plan.copies.size() || batch < batches.size()) {
        const bool copy_first =
            batch == batches.size() ||
            (next_copy < plan.copies.size() &&
             plan.copies[next_copy].target < batches[batch].ranges[range].offset);
        if (copy_first) {
            const BlockBuild step =
                copy_local(local, plan.copies[next_copy++], part, hasher, run, counts, error);
            if (step != BlockBuild::Complete) return step;
            continue;
        }
        if (range == 0) {
            const BatchState state = wait_for_batch(pipeline, batch);
            if (state == BatchState::Stopped) return BlockBuild::Stopped;
            if (state != BatchState::Fetched) {
                error = pipeline.fetched[batch].error;
                if (error.empty()) error = "block build: a batch of ranges was not fetched";
                return BlockBuild::Unusable;
            }
        }
        const FetchedBatch& fetched = pipeline.fetched[batch];
        const ByteRange& piece = batches[batch].ranges[range];
        if (!append(part, fetched.body.data() + fetched.at[range], static_cast<DWORD>(piece.length),
                    hasher, error))
            return BlockBuild::Unusable;
        if (++range == batches[batch].ranges.size()) {
            release_batch(pipeline, batch++);
            range = 0;
        }
    }
    return BlockBuild::Complete;
}

}  // namespace

bool block_build_possible(const ManifestEntry& entry) {
    if (entry.blocks.url.empty()) return false;
    const DWORD attributes = GetFileAttributesW(entry.local_path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

BlockBuild build_part_from_blocks(const ManifestEntry& entry, HANDLE part, Sha256Hasher& hasher,
                                  DownloadRun& run, BlockCounts& counts, std::string& error) {
    std::string bytes;
    BlockMap map;
    if (!fetch_description(entry, run, bytes, error))
        return run.abort.load() != 0 ? BlockBuild::Stopped : BlockBuild::Unusable;
    if (!accept_block_map(bytes, entry, map, error)) return BlockBuild::Unusable;
    bytes.clear();
    bytes.shrink_to_fit();
    // No writer may change the copy between the plan and the copies.
    UniqueHandle local(CreateFileW(entry.local_path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!local.valid()) {
        error = "block build: cannot open the local file (" + std::to_string(GetLastError()) + ")";
        return BlockBuild::Unusable;
    }
    BlockPlan plan;
    if (!plan_from_open_file(local.get(), map, run.abort, plan, error))
        return run.abort.load() != 0 ? BlockBuild::Stopped : BlockBuild::Unusable;
    if (plan.reused_bytes == 0) {
        // A plain download then costs the same bytes and resumes as one.
        error = "block build: the local file holds nothing of the new version";
        return BlockBuild::Unusable;
    }
    merge_short_gaps(plan,
                     gap_price_bytes(round_trip_bytes(run.link), run.single_ranges.load() == 0));
    std::vector<RangeBatch> batches;
    make_range_batches(plan.fetches, MAX_RANGES_PER_REQUEST, MAX_BATCH_BYTES, batches);
    BlockBuild result = BlockBuild::Unusable;
    {
        BatchPipeline pipeline(entry.url, entry.size, run, batches);
        if (!start_fetchers(pipeline))
            error = "block build: cannot start a fetcher (" + std::to_string(GetLastError()) + ")";
        else
            result = write_in_order(plan, local.get(), pipeline, part, hasher, run, counts, error);
        // Joined first: no fetcher adds to the run's bytes after the count.
        stop_fetchers(pipeline);
        counts.fetched = pipeline.added.load();
    }
    return result;
}
