// Winsock under Wine reaches a Linux process on the loopback interface as it
// would reach any local server.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "tools/cef_real/bridge_link.h"

#include <cstdlib>

namespace {

SOCKET sock = INVALID_SOCKET;
CRITICAL_SECTION send_lock;
HANDLE reader = nullptr;
void (*frame_sink)(Frame*) = nullptr;
void (*end_sink)() = nullptr;

// A frame header longer than this is no header: the bridge writes short ones.
const size_t HEADER_LIMIT = 1 << 20;

DWORD WINAPI read_loop(void*) {
    std::string buffer;
    char chunk[65536];
    for (;;) {
        Frame frame;
        Parse state;
        while ((state = take_frame(buffer, frame)) == Parse::frame) {
            frame_sink(new Frame(std::move(frame)));
            frame = Frame();
        }
        if (state == Parse::malformed) break;
        int got = recv(sock, chunk, sizeof chunk, 0);
        if (got <= 0) break;
        buffer.append(chunk, got);
    }
    end_sink();
    return 0;
}

}  // namespace

std::string escape_field(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default: out += c;
        }
    }
    return out;
}

std::string unescape_field(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        char c = text[++i];
        out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
    }
    return out;
}

std::string encode_frame(const std::vector<std::string>& fields, std::string_view payload) {
    std::string out;
    for (const std::string& f : fields) out += escape_field(f) + "\t";
    out += std::to_string(payload.size()) + "\n";
    out.append(payload);
    return out;
}

Parse take_frame(std::string& buffer, Frame& out) {
    size_t end = buffer.find('\n');
    if (end == std::string::npos) return buffer.size() > HEADER_LIMIT ? Parse::malformed : Parse::incomplete;
    std::vector<std::string> fields;
    size_t at = 0;
    while (at <= end) {
        size_t tab = buffer.find('\t', at);
        if (tab == std::string::npos || tab > end) tab = end;
        fields.push_back(buffer.substr(at, tab - at));
        at = tab + 1;
    }
    if (fields.size() < 2 || fields.back().empty() ||
        fields.back().find_first_not_of("0123456789") != std::string::npos ||
        fields.back().size() > 10)
        return Parse::malformed;
    size_t length = std::strtoul(fields.back().c_str(), nullptr, 10);
    if (buffer.size() - end - 1 < length) return Parse::incomplete;
    fields.pop_back();
    out.fields.clear();
    for (const std::string& f : fields) out.fields.push_back(unescape_field(f));
    out.payload = buffer.substr(end + 1, length);
    buffer.erase(0, end + 1 + length);
    return Parse::frame;
}

bool link_connect(int port, std::string& error) {
    static bool started = false;
    if (!started) {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
            error = "WSAStartup failed";
            return false;
        }
        InitializeCriticalSection(&send_lock);
        started = true;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // The bridge may still be starting its browser: a few tries, a short while.
    int code = 0;
    for (int attempt = 0; attempt < 50; ++attempt) {
        sock = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (sock == INVALID_SOCKET) break;
        if (connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            BOOL on = TRUE;
            setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
            return true;
        }
        code = WSAGetLastError();
        closesocket(sock);
        sock = INVALID_SOCKET;
        Sleep(100);
    }
    error = "connect to 127.0.0.1:" + std::to_string(port) + " failed: " + std::to_string(code);
    return false;
}

bool link_send(const std::vector<std::string>& fields, std::string_view payload) {
    std::string bytes = encode_frame(fields, payload);
    EnterCriticalSection(&send_lock);
    bool ok = sock != INVALID_SOCKET;
    for (size_t at = 0; ok && at < bytes.size();) {
        int sent = send(sock, bytes.data() + at, static_cast<int>(bytes.size() - at), 0);
        if (sent <= 0) ok = false;
        else at += sent;
    }
    LeaveCriticalSection(&send_lock);
    return ok;
}

void link_start_reader(void (*on_frame)(Frame*), void (*on_end)()) {
    frame_sink = on_frame;
    end_sink = on_end;
    reader = CreateThread(nullptr, 0, read_loop, nullptr, 0, nullptr);
}

void link_close() {
    if (sock == INVALID_SOCKET) return;
    shutdown(sock, SD_BOTH);
    if (reader) {
        WaitForSingleObject(reader, 5000);
        CloseHandle(reader);
        reader = nullptr;
    }
    EnterCriticalSection(&send_lock);
    closesocket(sock);
    sock = INVALID_SOCKET;
    LeaveCriticalSection(&send_lock);
}
