#include "launcher/blocks/block_transfer.h"

#include <memory>

#include "launcher/core/win_handles.h"
#include "launcher/blocks/block_map.h"
#include "launcher/blocks/block_match.h"
#include "launcher/download/download_run.h"
#include "launcher/download/manifest.h"
#include "launcher/download/part_transfer.h"
#include "launcher/net/http_client.h"
#include "launcher/net/sha256.h"

namespace {

const DWORD COPY_BYTES = 1048576;
const DWORD READ_BYTES = 262144;

// Appends bytes to the partial in the file's order and hashes them, counted
// into the run's figure and this build's.
bool append(HANDLE part, const char* data, DWORD size, Sha256Hasher& hasher,
            std::atomic<uint64_t>& counted, uint64_t& count, std::string& error) {
    DWORD code = 0;
    DWORD written = 0;
    const bool wrote = write_to_part(part, data, size, written, code);
    counted.fetch_add(written);
    count += written;
    if (!wrote) {
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
        if (!append(part, buffer.get(), got, hasher, run.reused_bytes, counts.reused, error))
            return BlockBuild::Unusable;
        left -= got;
    }
    return BlockBuild::Complete;
}

// Over the session and connection of the ranges before it: one handshake
// for every range of the file.
BlockBuild fetch_range(const ManifestEntry& entry, const ByteRange& range, HttpHandles& handles,
                       HANDLE part, Sha256Hasher& hasher, DownloadRun& run, BlockCounts& counts,
                       std::string& error) {
    if (handles.request) WinHttpCloseHandle(handles.request);
    handles.request = nullptr;
    const unsigned long status =
        http_open_range_request(handles, entry.url, range.offset, range.length, error);
    if (status == 0) return BlockBuild::Unusable;
    uint64_t announced = 0;
    if (status != 206 || !http_announced_length(handles.request, announced) ||
        announced != range.length) {
        error = status == 200 ? "block build: the server ignored the range"
                              : "block build: range answered HTTP " + std::to_string(status);
        return BlockBuild::Unusable;
    }
    std::unique_ptr<char[]> buffer(new char[READ_BYTES]);
    uint64_t received = 0;
    while (received < range.length) {
        if (run.abort.load() != 0) return BlockBuild::Stopped;
        DWORD available = 0;
        DWORD read = 0;
        const uint64_t left = range.length - received;
        DWORD want = left < READ_BYTES ? static_cast<DWORD>(left) : READ_BYTES;
        if (!WinHttpQueryDataAvailable(handles.request, &available) || available == 0 ||
            !WinHttpReadData(handles.request, buffer.get(), available < want ? available : want,
                             &read) ||
            read == 0) {
            error = "block build: the range broke off";
            return BlockBuild::Unusable;
        }
        if (!append(part, buffer.get(), read, hasher, run.downloaded_bytes, counts.fetched, error))
            return BlockBuild::Unusable;
        received += read;
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
    if (!http_get_to_memory(entry.blocks.url, bytes, static_cast<uint32_t>(entry.blocks.size))) {
        error = "block build: the description could not be fetched";
        return BlockBuild::Unusable;
    }
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
    HttpHandles handles;
    HttpHandlesCloser closer{handles};
    size_t next_copy = 0;
    size_t next_fetch = 0;
    while (next_copy < plan.copies.size() || next_fetch < plan.fetches.size()) {
        const bool copy_first =
            next_fetch == plan.fetches.size() ||
            (next_copy < plan.copies.size() &&
             plan.copies[next_copy].target < plan.fetches[next_fetch].offset);
        const BlockBuild step =
            copy_first
                ? copy_local(local.get(), plan.copies[next_copy++], part, hasher, run, counts,
                             error)
                : fetch_range(entry, plan.fetches[next_fetch++], handles, part, hasher, run,
                              counts, error);
        if (step != BlockBuild::Complete) return step;
    }
    return BlockBuild::Complete;
}
