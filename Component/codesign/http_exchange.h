// The time-stamp client's HTTP/1.0 POST: one request, the whole response read to the close.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "codesign/url.h"
#include "base/buffer.h"

namespace ombrix {

// The Host line is formatted into a 1024-byte area: "Host: ", the name, CR LF and a zero byte.
inline constexpr size_t kMaxHostNameLength = 1015;

struct HttpExchangeLimits {
    uint32_t deadline_ms = 60000;            // for the whole exchange, connection included
    uint32_t max_response_bytes = 1048576;   // a longer response is a failure
};

// The request: request line with the path's bytes, Host (the name without port), User-Agent,
// Cache-Control, Content-Type, Accept, Content-Length, an empty line, the body. False when the
// host name is longer than kMaxHostNameLength or memory is lacking.
bool ComposeHttpPost(const std::string& host_name, const std::string& path, const char* content_type,
                     const char* accept, const uint8_t* body, uint32_t body_length, Buffer& request);

// Connects to the URL's host and port (every scheme as plain HTTP over TCP), sends the request
// in one send call and receives until the server closes the connection. False on any failure:
// a "file" URL, a host that does not resolve, a refused connection, a short send, a receive
// error, the deadline, or a response over the size limit.
bool HttpPostExchange(const ParsedUrl& url, const Buffer& request, const HttpExchangeLimits& limits,
                      Buffer& response);

// The body of a response whose status line contains "200 OK": the bytes after the first empty
// line that follows the status line. False for another status, no status line, or no empty line.
bool TakeResponseBody(Buffer& response, std::string& body);

}  // namespace ombrix
