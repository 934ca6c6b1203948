#include "codesign/http_exchange.h"

#include <cstdio>
#include <cstring>
#include <string_view>

namespace ombrix {
namespace {

bool AppendText(Buffer& buffer, const char* text) { return buffer.Append(text, static_cast<uint32_t>(strlen(text))); }

}  // namespace

bool ComposeHttpPost(const std::string& host_name, const std::string& path, const char* content_type,
                     const char* accept, const uint8_t* body, uint32_t body_length, Buffer& request) {
    if (host_name.size() > kMaxHostNameLength) return false;
    if (path.size() > UINT32_MAX / 2 || body_length > INT32_MAX) return false;
    char content_length[64];
    snprintf(content_length, sizeof content_length, "Content-Length: %d\r\n\r\n", static_cast<int>(body_length));
    request.Clear();
    return AppendText(request, "POST ") && request.Append(path.data(), static_cast<uint32_t>(path.size())) &&
           AppendText(request, " HTTP/1.0\r\n") && AppendText(request, "Host: ") &&
           request.Append(host_name.data(), static_cast<uint32_t>(host_name.size())) && AppendText(request, "\r\n") &&
           AppendText(request, "User-Agent: Transport\r\n") && AppendText(request, "Cache-Control: no-cache\r\n") &&
           AppendText(request, "Content-Type: ") && AppendText(request, content_type) && AppendText(request, "\r\n") &&
           AppendText(request, "Accept: ") && AppendText(request, accept) && AppendText(request, "\r\n") &&
           AppendText(request, content_length) && (body_length == 0 || request.Append(body, body_length));
}

bool TakeResponseBody(Buffer& response, std::string& body) {
    body.clear();
    // A terminating zero, so that the status line and the rest read as text.
    if (!response.Append("", 1)) return false;
    response.ConsumeEnd(1);
    const char* status = response.GetLine();
    if (!status || !strstr(status, "200 OK")) return false;

    const char* rest = reinterpret_cast<const char*>(response.Data());
    const size_t rest_length = response.Length();
    // The header lines end at the first empty line; with no header lines it comes at once.
    size_t body_start = 0;
    if (rest_length >= 2 && rest[0] == '\r' && rest[1] == '\n') {
        body_start = 2;
    } else {
        const std::string_view text(rest, rest_length);
        const size_t blank = text.find("\r\n\r\n");
        if (blank == std::string_view::npos) return false;
        body_start = blank + 4;
    }
    body.assign(rest + body_start, rest_length - body_start);
    return true;
}

}  // namespace ombrix
