#include "launcher/download/part_transfer.h"

#include <memory>

#include "launcher/download/download_run.h"
#include "launcher/download/manifest.h"
#include "launcher/download/part_file.h"
#include "launcher/net/http_client.h"
#include "launcher/net/sha256.h"

namespace {

const DWORD BLOCK_BYTES = 262144;

}  // namespace

// A write that succeeds short sets no error code of its own, so the rest is
// written again: on a full disk that next write fails with the code that
// belongs to the failure.
bool write_to_part(HANDLE file, const char* data, DWORD size, DWORD& written_all, DWORD& code) {
    written_all = 0;
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(file, data, size, &written, nullptr)) {
            code = GetLastError();
            return false;
        }
        if (written == 0) {
            code = ERROR_WRITE_FAULT;
            return false;
        }
        written_all += written;
        data += written;
        size -= written;
    }
    return true;
}

Transfer fetch_into_part(const ManifestEntry& entry, uint64_t offset, HANDLE file,
                         Sha256Hasher& hasher, DownloadRun& run, std::string& error,
                         uint64_t& arrived) {
    HttpHandles handles;
    HttpHandlesCloser closer{handles};
    const unsigned long status = http_open_request(handles, entry.url, offset, error);
    if (status == 0) return Transfer::Failed;
    if (offset != 0 && status == 200) {
        error = "сервер не поддерживает докачку";
        return Transfer::Restart;
    }
    if (status != (offset != 0 ? 206ul : 200ul)) {
        error = "HTTP " + std::to_string(status);
        return Transfer::Failed;
    }

    const uint64_t remaining = entry.size - offset;
    uint64_t announced = 0;
    const bool has_length = http_announced_length(handles.request, announced);
    // A server that means to send more than the file holds would fill the
    // disk: refused before the first byte is written.
    if (has_length && announced > remaining) {
        arrived = offset + announced;
        return Transfer::TooLong;
    }
    std::unique_ptr<char[]> buffer(new char[BLOCK_BYTES]);
    uint64_t received = 0;
    for (;;) {
        if (run.abort.load() != 0) {
            error = "остановлено";
            return Transfer::Failed;
        }
        // A read waits until its whole block has arrived, which on a slow
        // link keeps a pause or stop waiting for seconds: read only what is
        // there (the ask waits for the first bytes, not for a block).
        DWORD available = 0;
        DWORD read = 0;
        if (!WinHttpQueryDataAvailable(handles.request, &available) ||
            (available > 0 &&
             !WinHttpReadData(handles.request, buffer.get(),
                              available < BLOCK_BYTES ? available : BLOCK_BYTES, &read))) {
            const DWORD code = GetLastError();
            error = with_error_code("обрыв соединения (", code);
            return Transfer::Failed;
        }
        if (read == 0) {
            // WinHTTP ends a body cut before its announced length like a
            // whole one.
            if (!has_length || received >= announced) return Transfer::Complete;
            error = with_error_code("обрыв соединения (", ERROR_WINHTTP_CONNECTION_ERROR);
            return Transfer::Failed;
        }
        received += read;
        // Without an announced length only the count tells.
        if (received > remaining) {
            arrived = offset + received;
            return Transfer::TooLong;
        }
        DWORD code = 0;
        DWORD written = 0;
        const bool wrote = write_to_part(file, buffer.get(), read, written, code);
        run.downloaded_bytes.fetch_add(written);
        if (!wrote) {
            error = with_error_code("не удалось записать на диск (", code);
            return Transfer::Failed;
        }
        hasher.update(buffer.get(), read);
    }
}
