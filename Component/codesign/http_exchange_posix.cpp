#include "codesign/http_exchange.h"

namespace ombrix {

// The native build (sanitizer and fuzzing runs of the engine) has no transport: the exchange
// fails as an unreachable server would, and everything around it is exercised unchanged.
bool HttpPostExchange(const ParsedUrl&, const Buffer&, const HttpExchangeLimits&, Buffer& response) {
    response.Clear();
    return false;
}

}  // namespace ombrix
