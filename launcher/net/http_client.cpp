#include "http_client.h"

#include <memory>
#include <new>

#include "build_config.h"
#include "launcher/core/log.h"
#include "sha256.h"

static_assert(std::atomic<uint64_t>::is_always_lock_free,
              "the progress counter must be a true 64-bit atomic on 32-bit x86");

bool http_announced_length(HINTERNET request, uint64_t& length) {
    wchar_t text[32] = {};
    DWORD size = sizeof text;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                             text, &size, WINHTTP_NO_HEADER_INDEX))
        return false;
    length = 0;
    for (const wchar_t* p = text; *p >= L'0' && *p <= L'9'; ++p) length = length * 10 + (*p - L'0');
    return true;
}

namespace {

const DWORD RESOLVE_TIMEOUT_MS = 10000;
const DWORD CONNECT_TIMEOUT_MS = 10000;
const DWORD SEND_TIMEOUT_MS = 15000;
const DWORD RECEIVE_TIMEOUT_MS = 30000;
const DWORD FILE_BLOCK_BYTES = 262144;

std::string with_code(const char* prefix, unsigned long code, const char* suffix = "") {
    return prefix + std::to_string(code) + suffix;
}


// WinHTTP reports a connection closed before the announced length as an
// ordinary end of body; such a body is cut, never complete.
bool ended_short(HINTERNET request, uint64_t received, uint64_t& length) {
    length = 0;
    return http_announced_length(request, length) && received < length;
}

// A 32-bit process may find no free block that large even below the limit;
// that is a failed transfer, not a crash.
bool reserve_body(std::string& body, size_t size) {
    try {
        body.reserve(size);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool grow_body(std::string& body, size_t size) {
    try {
        body.resize(size);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool is_unreserved(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '-' || c == '.' || c == '/' || c == '_' || c == '~';
}

}  // namespace

void http_close_handles(HttpHandles& handles) {
    if (handles.request) WinHttpCloseHandle(handles.request);
    if (handles.connection) WinHttpCloseHandle(handles.connection);
    if (handles.session) WinHttpCloseHandle(handles.session);
    handles = HttpHandles();
}

std::wstring http_encode_path(const std::string& path) {
    static const char HEX[] = "0123456789ABCDEF";
    std::wstring out;
    out.reserve(path.size());
    for (unsigned char c : path) {
        if (is_unreserved(c)) {
            out.push_back(static_cast<wchar_t>(c));
        } else {
            out.push_back(L'%');
            out.push_back(static_cast<wchar_t>(HEX[c >> 4]));
            out.push_back(static_cast<wchar_t>(HEX[c & 15]));
        }
    }
    return out;
}

std::wstring http_header_block(uint64_t offset, uint64_t length) {
    std::wstring block = L"Cache-Control: no-cache\r\n";
    if (offset == 0 && length == 0) return block;
    block += L"Range: bytes=" + std::to_wstring(offset) + L"-";
    if (length != 0) block += std::to_wstring(offset + length - 1);
    return block + L"\r\n";
}

namespace {

// A session and connection already in `handles` are used again, so that
// requests in turn go over one kept-alive connection.
unsigned long open_with_headers(HttpHandles& handles, const std::string& path,
                                const std::wstring& headers, std::string& error) {
    if (!handles.session)
        handles.session = WinHttpOpen(L"KorvalLauncher", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                      WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (!handles.session) {
        error = with_code("WinHTTP: ", GetLastError());
        return 0;
    }
    if (!handles.connection)
        handles.connection =
            WinHttpConnect(handles.session, KORVAL_CONTENT_HOST, KORVAL_CONTENT_PORT, 0);
    if (!handles.connection) {
        error = with_code("WinHTTP: ", GetLastError());
        return 0;
    }
    std::wstring encoded = http_encode_path(path);
    handles.request = WinHttpOpenRequest(handles.connection, L"GET", encoded.c_str(), nullptr,
                                         WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                         WINHTTP_FLAG_SECURE);
    if (!handles.request) {
        error = with_code("WinHTTP: ", GetLastError());
        return 0;
    }
    WinHttpSetTimeouts(handles.request, RESOLVE_TIMEOUT_MS, CONNECT_TIMEOUT_MS, SEND_TIMEOUT_MS,
                       RECEIVE_TIMEOUT_MS);

    DWORD status = 0;
    DWORD status_size = sizeof status;
    if (!WinHttpSendRequest(handles.request, headers.c_str(), static_cast<DWORD>(-1),
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(handles.request, nullptr) ||
        !WinHttpQueryHeaders(handles.request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &status_size,
                             WINHTTP_NO_HEADER_INDEX)) {
        error = with_code("нет соединения с сервером (", GetLastError(), ")");
        return 0;
    }
    return status;
}

}  // namespace

unsigned long http_open_request(HttpHandles& handles, const std::string& path, uint64_t offset,
                                std::string& error) {
    return open_with_headers(handles, path, http_header_block(offset), error);
}

unsigned long http_open_ranges_request(HttpHandles& handles, const std::string& path,
                                       const std::string& spec, std::string& error) {
    std::wstring headers = http_header_block(0) + L"Range: bytes=";
    headers.append(spec.begin(), spec.end());
    return open_with_headers(handles, path, headers + L"\r\n", error);
}

bool http_header_text(HINTERNET request, DWORD query, std::string& text) {
    text.clear();
    wchar_t value[512] = {};
    DWORD size = sizeof value - sizeof(wchar_t);
    if (!WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, value, &size,
                             WINHTTP_NO_HEADER_INDEX))
        return false;
    for (const wchar_t* p = value; *p; ++p) text.push_back(*p < 128 ? static_cast<char>(*p) : '?');
    return true;
}

BodyRead http_read_body(HINTERNET request, std::string& body, uint64_t limit,
                        const std::atomic<int32_t>& stop, std::atomic<uint64_t>* progress,
                        std::string& error) {
    body.clear();
    // One block of the announced size: growing towards a large body would
    // need about twice its size at the moment of each copy.
    uint64_t length = 0;
    if (http_announced_length(request, length) && length <= limit &&
        !reserve_body(body, static_cast<size_t>(length))) {
        error = "no memory for " + std::to_string(length) + " bytes";
        return BodyRead::Failed;
    }
    for (;;) {
        if (stop.load() != 0) {
            error = "stopped";
            return BodyRead::Failed;
        }
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request, &available)) {
            error = "connection broken after " + std::to_string(body.size()) + " bytes (" +
                    std::to_string(GetLastError()) + ")";
            return BodyRead::Failed;
        }
        if (available == 0) {
            if (!ended_short(request, body.size(), length)) return BodyRead::Complete;
            error = "connection closed after " + std::to_string(body.size()) + " of " +
                    std::to_string(length) + " bytes";
            return BodyRead::Failed;
        }
        // Compared before growing, so a hostile announcement cannot make the
        // launcher allocate beyond the limit.
        if (static_cast<uint64_t>(body.size()) + available > limit) return BodyRead::TooLarge;
        const size_t held = body.size();
        if (!grow_body(body, held + available)) {
            error = "no memory for " + std::to_string(held + available) + " bytes";
            return BodyRead::Failed;
        }
        DWORD read = 0;
        if (!WinHttpReadData(request, &body[held], available, &read)) {
            error = "connection broken after " + std::to_string(held) + " bytes (" +
                    std::to_string(GetLastError()) + ")";
            body.resize(held);
            return BodyRead::Failed;
        }
        body.resize(held + read);
        if (progress) progress->fetch_add(read);
    }
}

bool http_get_to_memory(const std::string& path, std::string& body, uint32_t limit) {
    body.clear();
    HttpHandles handles;
    HttpHandlesCloser closer{handles};
    std::string error;
    unsigned long status = http_open_request(handles, path, 0, error);
    if (status == 0) {
        log_line("!! http: GET %s -> %s", path.c_str(), error.c_str());
        return false;
    }
    if (status != 200) {
        log_line("!! http: GET %s -> HTTP %lu", path.c_str(), status);
        return false;
    }
    const std::atomic<int32_t> never{0};
    const BodyRead read = http_read_body(handles.request, body, limit, never, nullptr, error);
    if (read == BodyRead::Complete) return true;
    if (read == BodyRead::TooLarge)
        log_line("!! http: %s larger than %lu bytes", path.c_str(),
                 static_cast<unsigned long>(limit));
    else
        log_line("!! http: GET %s -> %s", path.c_str(), error.c_str());
    body.clear();
    return false;
}

bool http_get_to_file(const std::string& path, uint64_t offset, HANDLE file, Sha256Hasher* hasher,
                      std::atomic<uint64_t>& progress, const std::atomic<int32_t>& stop,
                      std::string& error, bool& discard) {
    discard = false;
    HttpHandles handles;
    HttpHandlesCloser closer{handles};
    unsigned long status = http_open_request(handles, path, offset, error);
    if (status == 0) return false;
    if (offset != 0 && status == 200) {
        discard = true;
        error = "сервер не поддерживает докачку";
        return false;
    }
    unsigned long expected = offset != 0 ? 206 : 200;
    if (status != expected) {
        error = with_code("HTTP ", status);
        return false;
    }

    std::unique_ptr<char[]> buffer(new char[FILE_BLOCK_BYTES]());
    uint64_t received = 0;
    for (;;) {
        if (stop.load() != 0) {
            error = "остановлено";
            return false;
        }
        DWORD read = 0;
        if (!WinHttpReadData(handles.request, buffer.get(), FILE_BLOCK_BYTES, &read)) {
            error = with_code("обрыв соединения (", GetLastError(), ")");
            return false;
        }
        if (read == 0) {
            uint64_t length = 0;
            if (!ended_short(handles.request, received, length)) return true;
            error = with_code("обрыв соединения (", ERROR_WINHTTP_CONNECTION_ERROR, ")");
            return false;
        }
        received += read;
        DWORD written = 0;
        if (!WriteFile(file, buffer.get(), read, &written, nullptr)) {
            error = with_code("не удалось записать на диск (", GetLastError(), ")");
            return false;
        }
        // A write that succeeds short sets no error code of its own; what
        // GetLastError holds then belongs to some earlier call.
        if (written != read) {
            error = with_code("не удалось записать на диск (", ERROR_WRITE_FAULT, ")");
            return false;
        }
        if (hasher && !hasher->inert()) hasher->update(buffer.get(), read);
        progress.fetch_add(read);
    }
}
