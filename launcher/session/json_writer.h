#pragma once
// The JSON text of the launcher's events to the page. There is no general
// serializer: events are fixed pieces of text with quoted values in between.
#include <string>

// `text` (UTF-8 bytes) as a JSON string: quote and backslash escaped, control
// bytes as \u00XX, every other byte (UTF-8 sequences, 127) copied as it is.
std::string json_quote(const std::string& text);
