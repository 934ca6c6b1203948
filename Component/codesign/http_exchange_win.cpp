#include "codesign/http_exchange.h"

#include <windows.h>

#include "codesign/socket.h"

namespace ombrix {

bool HttpPostExchange(const ParsedUrl& url, const Buffer& request, const HttpExchangeLimits& limits,
                      Buffer& response) {
    response.Clear();
    // A "file" URL has no host: there is no transport for it.
    if (url.scheme == "file" || url.host_name.empty() || url.host_name.size() > kMaxHostNameLength) return false;
    if (request.Length() > INT32_MAX) return false;

    CqelWinSocket socket;
    if (limits.deadline_ms != 0) socket.SetDeadline(GetTickCount64() + limits.deadline_ms);
    if (!socket.Create()) return false;
    if (socket.Connect(url.host_name.c_str(), url.port) != 0) return false;

    const int length = static_cast<int>(request.Length());
    if (socket.Send(reinterpret_cast<const char*>(request.Data()), length) != length) {
        socket.Close();
        return false;
    }
    char piece[1024];
    for (;;) {
        const int received = socket.Receive(piece, sizeof piece, 0);
        if (received == 0) break;
        if (received < 0 || static_cast<uint64_t>(response.Length()) + static_cast<uint32_t>(received) >
                                limits.max_response_bytes) {
            socket.ShutdownAndClose();
            return false;
        }
        if (!response.Append(piece, static_cast<uint32_t>(received))) {
            socket.ShutdownAndClose();
            return false;
        }
    }
    socket.ShutdownAndClose();
    return true;
}

}  // namespace ombrix
