#include "launcher/blocks/batch_fetcher.h"

#include "launcher/blocks/multipart_reader.h"
#include "launcher/core/log.h"
#include "launcher/download/download_run.h"
#include "launcher/net/http_client.h"
#include "launcher/net/link_meter.h"

namespace {

const DWORD WAIT_STEP_MS = 100;

enum class Multi { Fetched, Refused, Unusable, Stopped };

void subtract(std::atomic<uint64_t>& counter, uint64_t amount) { counter.fetch_sub(amount); }

void close_request(HttpHandles& handles) {
    if (handles.request) WinHttpCloseHandle(handles.request);
    handles.request = nullptr;
}

// The request's status once its headers are in; the time to them is a round
// trip when the connection was already open (a new one adds its handshakes).
unsigned long send_timed(BatchPipeline& p, HttpHandles& handles, const std::string& spec,
                         uint64_t& headers_at, std::string& error) {
    close_request(handles);
    const bool reused = handles.connection != nullptr;
    const uint64_t sent = link_clock_us();
    const unsigned long status = http_open_ranges_request(handles, p.url, spec, error);
    headers_at = link_clock_us();
    if (status != 0 && reused) note_round_trip(p.run.link, headers_at - sent);
    return status;
}

// The body into `body`, counted into the run's bytes and the build's; the
// caller takes back what it does not keep.
BodyRead read_counted(BatchPipeline& p, HttpHandles& handles, uint64_t limit,
                      uint64_t headers_at, std::string& body, std::string& error) {
    const BodyRead read =
        http_read_body(handles.request, body, limit, p.run.abort, &p.run.downloaded_bytes, error);
    p.added.fetch_add(body.size());
    if (read == BodyRead::Complete) note_transfer(p.run.link, body.size(), link_clock_us() - headers_at);
    return read;
}

void drop_counted(BatchPipeline& p, uint64_t bytes) {
    subtract(p.run.downloaded_bytes, bytes);
    subtract(p.added, bytes);
}

// Every later request of the run asks one range at a time; said once.
void refuse_multi_range(BatchPipeline& p, const std::string& why) {
    int32_t expected = 0;
    if (p.run.single_ranges.compare_exchange_strong(expected, 1))
        log_line("block build: the server answers one range per request, single ranges from "
                 "now on (%s)",
                 why.c_str());
}

Multi fetch_multipart(BatchPipeline& p, HttpHandles& handles, const RangeBatch& batch,
                      FetchedBatch& out) {
    uint64_t headers_at = 0;
    const unsigned long status = send_timed(p, handles, range_spec(batch.ranges), headers_at,
                                            out.error);
    if (status == 0) return Multi::Unusable;
    std::string type;
    std::string boundary;
    const bool multipart = status == 206 &&
                           http_header_text(handles.request, WINHTTP_QUERY_CONTENT_TYPE, type) &&
                           byteranges_boundary(type, boundary);
    // The whole file, one range, or a list of ranges the server cannot read
    // (some answer 400 or 416 to it): the body is not read, the request is
    // closed with its connection and the batch asked again range by range,
    // which then tells whether the ranges themselves are wrong.
    if (status == 200 || status == 400 || status == 416 || (status == 206 && !multipart)) {
        close_request(handles);
        refuse_multi_range(p, status == 206 ? "one range in a 206" : "HTTP " + std::to_string(status));
        return Multi::Refused;
    }
    if (status != 206) {
        out.error = "block build: ranges answered HTTP " + std::to_string(status);
        return Multi::Unusable;
    }
    const uint64_t limit = batch.bytes + batch.ranges.size() * (PART_HEADER_BYTES + 2 * boundary.size() + 64) + 1024;
    std::string why;
    const BodyRead read = read_counted(p, handles, limit, headers_at, out.body, why);
    if (p.run.abort.load() != 0) return Multi::Stopped;
    std::vector<BodyPart> parts;
    if (read == BodyRead::Complete &&
        read_byteranges(out.body, boundary, p.file_size, batch.ranges.size(), parts, why) &&
        locate_ranges(parts, batch.ranges, out.at, why)) {
        // Only the ranges' own bytes count: the progress is of the file.
        drop_counted(p, out.body.size() - batch.bytes);
        return Multi::Fetched;
    }
    if (read == BodyRead::TooLarge) why = "a multipart body larger than its ranges";
    drop_counted(p, out.body.size());
    out.body.clear();
    close_request(handles);
    // A body that broke off is the link's fault, not the server's kind.
    if (read == BodyRead::Failed) {
        out.error = "block build: the ranges broke off: " + why;
        return Multi::Unusable;
    }
    refuse_multi_range(p, "malformed multipart: " + why);
    return Multi::Refused;
}

BatchState fetch_singly(BatchPipeline& p, HttpHandles& handles, const RangeBatch& batch,
                        FetchedBatch& out) {
    out.body.clear();
    out.at.clear();
    std::string piece;
    for (const ByteRange& range : batch.ranges) {
        uint64_t headers_at = 0;
        const unsigned long status =
            send_timed(p, handles, range_spec({range}), headers_at, out.error);
        if (status == 0) return BatchState::Unusable;
        uint64_t announced = 0;
        if (status != 206 || !http_announced_length(handles.request, announced) ||
            announced != range.length) {
            out.error = status == 200 ? "block build: the server ignored the range"
                                      : "block build: range answered HTTP " + std::to_string(status);
            return BatchState::Unusable;
        }
        std::string why;
        const BodyRead read = read_counted(p, handles, range.length, headers_at, piece, why);
        if (p.run.abort.load() != 0) return BatchState::Stopped;
        if (read != BodyRead::Complete || piece.size() != range.length) {
            out.error = "block build: the range broke off" + (why.empty() ? "" : ": " + why);
            return BatchState::Unusable;
        }
        out.at.push_back(out.body.size());
        if (out.body.empty())
            out.body.swap(piece);
        else
            out.body += piece;
    }
    return BatchState::Fetched;
}

BatchState fetch_batch(BatchPipeline& p, HttpHandles& handles, const RangeBatch& batch,
                       FetchedBatch& out) {
    if (batch.ranges.size() > 1 && p.run.single_ranges.load() == 0) {
        switch (fetch_multipart(p, handles, batch, out)) {
        case Multi::Fetched: return BatchState::Fetched;
        case Multi::Unusable: return BatchState::Unusable;
        case Multi::Stopped: return BatchState::Stopped;
        case Multi::Refused: break;
        }
    }
    return fetch_singly(p, handles, batch, out);
}

DWORD WINAPI fetcher_thread(void* argument) {
    BatchPipeline& p = *static_cast<BatchPipeline*>(argument);
    HttpHandles handles;
    HttpHandlesCloser closer{handles};
    for (;;) {
        AcquireSRWLockExclusive(&p.lock);
        while (!p.halt && p.next < p.batches.size() && p.next >= p.released + FETCH_AHEAD)
            SleepConditionVariableSRW(&p.changed, &p.lock, WAIT_STEP_MS, 0);
        if (p.halt || p.next >= p.batches.size() || p.run.abort.load() != 0) {
            ReleaseSRWLockExclusive(&p.lock);
            return 0;
        }
        const size_t index = p.next++;
        ReleaseSRWLockExclusive(&p.lock);

        // Only this thread touches the slot until its state is set.
        FetchedBatch result;
        const BatchState state = fetch_batch(p, handles, p.batches[index], result);
        AcquireSRWLockExclusive(&p.lock);
        p.fetched[index] = std::move(result);
        p.fetched[index].state = state;
        if (state != BatchState::Fetched) p.halt = true;
        WakeAllConditionVariable(&p.changed);
        ReleaseSRWLockExclusive(&p.lock);
        if (state != BatchState::Fetched) return 0;
    }
}

}  // namespace

BatchPipeline::BatchPipeline(const std::string& url_, uint64_t file_size_, DownloadRun& run_,
                             const std::vector<RangeBatch>& batches_)
    : url(url_), file_size(file_size_), run(run_), batches(batches_), fetched(batches_.size()) {
    InitializeSRWLock(&lock);
    InitializeConditionVariable(&changed);
}

BatchPipeline::~BatchPipeline() { stop_fetchers(*this); }

void stop_fetchers(BatchPipeline& p) {
    AcquireSRWLockExclusive(&p.lock);
    p.halt = true;
    WakeAllConditionVariable(&p.changed);
    ReleaseSRWLockExclusive(&p.lock);
    for (HANDLE thread : p.threads) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    p.threads.clear();
}

bool start_fetchers(BatchPipeline& p) {
    const size_t count = p.batches.size() < FETCHERS_PER_BUILD ? p.batches.size() : FETCHERS_PER_BUILD;
    for (size_t i = 0; i < count; ++i) {
        HANDLE thread = CreateThread(nullptr, 0, fetcher_thread, &p, 0, nullptr);
        if (!thread) break;
        p.threads.push_back(thread);
    }
    return !p.threads.empty() || p.batches.empty();
}

BatchState wait_for_batch(BatchPipeline& p, size_t index) {
    AcquireSRWLockExclusive(&p.lock);
    while (p.fetched[index].state == BatchState::Waiting && p.run.abort.load() == 0) {
        // A batch no fetcher will take: one failed and the others halted.
        if (p.halt && index >= p.next) break;
        SleepConditionVariableSRW(&p.changed, &p.lock, WAIT_STEP_MS, 0);
    }
    BatchState state = p.fetched[index].state;
    if (state == BatchState::Waiting) state = p.run.abort.load() != 0 ? BatchState::Stopped
                                                                      : BatchState::Unusable;
    ReleaseSRWLockExclusive(&p.lock);
    return state;
}

void release_batch(BatchPipeline& p, size_t index) {
    AcquireSRWLockExclusive(&p.lock);
    p.fetched[index] = FetchedBatch{};
    p.fetched[index].state = BatchState::Fetched;
    ++p.released;
    WakeAllConditionVariable(&p.changed);
    ReleaseSRWLockExclusive(&p.lock);
}
