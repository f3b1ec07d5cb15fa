#pragma once
// The loopback connection to the bridge process on the Linux side, which
// drives the real browser. One frame is a line of tab-separated fields, the
// last of which is the length of the payload that follows the line:
//   kind \t field ... \t payload-length \n payload
// Fields escape backslash, tab, line feed and carriage return with a
// backslash, so that any text fits in one line; payloads are raw bytes.
#include <string>
#include <string_view>
#include <vector>

struct Frame {
    std::vector<std::string> fields;  // fields[0] is the kind
    std::string payload;
    const std::string& kind() const { return fields[0]; }
    std::string field(size_t i) const { return i < fields.size() ? fields[i] : std::string(); }
};

std::string escape_field(std::string_view text);
std::string unescape_field(std::string_view text);
std::string encode_frame(const std::vector<std::string>& fields, std::string_view payload);

// Splits frames off the front of `buffer` as bytes arrive; false until a
// whole frame is there. A malformed header ends the connection.
enum class Parse { incomplete, frame, malformed };
Parse take_frame(std::string& buffer, Frame& out);

// The connection. Sends may come from any thread; one reader thread hands
// every received frame to `on_frame` and calls `on_end` once when the
// connection is gone (closed by the bridge, or by `link_close`).
bool link_connect(int port, std::string& error);
bool link_send(const std::vector<std::string>& fields, std::string_view payload = {});
void link_start_reader(void (*on_frame)(Frame*), void (*on_end)());
void link_close();
