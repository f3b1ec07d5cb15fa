#pragma once
// The launcher's only network code: synchronous HTTPS GET requests to the one
// content server (host and port fixed at build time), addressed by path.
#include <atomic>
#include <cstdint>
#include <string>

#include <windows.h>
#include <winhttp.h>

class Sha256Hasher;

// The handles of one exchange. Whoever fills them closes them, request first,
// then connection, then session (http_close_handles).
struct HttpHandles {
    HINTERNET session = nullptr;
    HINTERNET connection = nullptr;
    HINTERNET request = nullptr;
};

void http_close_handles(HttpHandles& handles);

// Closes the handles of one exchange on every way out of a scope.
struct HttpHandlesCloser {
    HttpHandles& handles;
    ~HttpHandlesCloser() { http_close_handles(handles); }
};

// The announced body length of a response, or false when the server sent
// none (chunked).
bool http_announced_length(HINTERNET request, uint64_t& length);

// Sends a GET for `path` (with "Range: bytes=offset-" when offset is not 0)
// and returns the status code once the response headers are in, or 0 with
// `error` set. Handles it opened stay in `handles` for the caller to close.
unsigned long http_open_request(HttpHandles& handles, const std::string& path, uint64_t offset,
                                std::string& error);

// The same with the ranges of `spec` ("a-b,c-d,..."): one range or several,
// the latter answered as multipart/byteranges by servers that allow it.
// `handles` may keep the session and connection of an earlier request whose
// body was read to its end and whose request handle was closed: the next
// request then goes over the same kept-alive connection.
unsigned long http_open_ranges_request(HttpHandles& handles, const std::string& path,
                                       const std::string& spec, std::string& error);

// A response header as text (ASCII), e.g. WINHTTP_QUERY_CONTENT_TYPE; false
// when the server sent none.
bool http_header_text(HINTERNET request, DWORD query, std::string& text);

enum class BodyRead { Complete, TooLarge, Failed };

// The rest of an open request's body into `body` (emptied first), at most
// `limit` bytes; every block received is added to `progress` when given, so
// that a caller who drops the body knows what to take back (body.size()).
// Stops with Failed when `stop` turns non-zero. `error` says why otherwise.
BodyRead http_read_body(HINTERNET request, std::string& body, uint64_t limit,
                        const std::atomic<int32_t>& stop, std::atomic<uint64_t>* progress,
                        std::string& error);

// The whole body into `body` (emptied first); refused when it would exceed
// `limit` bytes. Failures are logged.
bool http_get_to_memory(const std::string& path, std::string& body, uint32_t limit);

// The body appended to `file` (positioned by the caller at `offset`), each
// block hashed when `hasher` is given and added to `progress`. Stops with
// "остановлено" when `stop` is nonzero before a read. `discard` is set only
// when the server ignored the range: the caller must start again from zero.
bool http_get_to_file(const std::string& path, uint64_t offset, HANDLE file, Sha256Hasher* hasher,
                      std::atomic<uint64_t>& progress, const std::atomic<int32_t>& stop,
                      std::string& error, bool& discard);

// The path as sent: unreserved bytes as they are, every other byte as %XX.
std::wstring http_encode_path(const std::string& path);

// "Cache-Control: no-cache\r\n", plus the range line: open-ended from a
// non-zero offset, or of `length` bytes from the offset when one is given.
std::wstring http_header_block(uint64_t offset, uint64_t length = 0);
