// The URL parser of the time-stamp client.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ombrix {

// The parts of a URL, as ANSI text.
struct ParsedUrl {
    std::string scheme;
    int32_t secure = 0;
    std::string user_name;
    std::string password;
    std::string host_name;
    uint32_t port = 0;  // as written in the URL (saturated); callers check its range
    std::string path;
};

// The scheme, the user information and the host-and-port text are each at most this long.
inline constexpr size_t kMaxUrlPartLength = 10239;

// Splits `url` into its parts. 1 when parsed; 0 when it has no "://" (the whole URL is then the
// path) or when one of its parts exceeds kMaxUrlPartLength (all parts are then empty).
int ParseUrl(const std::string& url, ParsedUrl& parsed);

}  // namespace ombrix
