#include "codesign/url.h"

namespace ombrix {
namespace {

struct SchemeDefaults {
    const char* name;
    uint32_t port;
    int32_t secure;
};

constexpr SchemeDefaults kSchemes[] = {{"http", 80, 0}, {"https", 443, 1}, {"ftp", 21, 0}};

std::string AsciiLower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// Where the authority of `rest` ends: the first '/', else the first '?', else the first '&',
// else the end of the text.
size_t AuthorityEnd(const std::string& rest) {
    for (const char delimiter : {'/', '?', '&'}) {
        const size_t at = rest.find(delimiter);
        if (at != std::string::npos) return at;
    }
    return rest.size();
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Leading decimal digits; values beyond 32 bits saturate instead of wrapping.
uint32_t LeadingNumber(const std::string& text, size_t from) {
    uint64_t value = 0;
    for (size_t i = from; i < text.size() && IsDigit(text[i]); ++i) {
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
        if (value > UINT32_MAX) return UINT32_MAX;
    }
    return static_cast<uint32_t>(value);
}

int Refuse(ParsedUrl& parsed) {
    parsed = ParsedUrl{};
    return 0;
}

}  // namespace

int ParseUrl(const std::string& url, ParsedUrl& parsed) {
    parsed = ParsedUrl{};
    const size_t separator = url.find("://");
    if (separator == std::string::npos) {
        parsed.path = url;
        return 0;
    }
    if (separator > kMaxUrlPartLength) return Refuse(parsed);

    const std::string scheme = AsciiLower(url.substr(0, separator));
    std::string rest = url.substr(separator + 3);
    if (scheme == "file") {
        parsed.scheme = scheme;
        parsed.path = rest;
        return 1;
    }
    // An unknown scheme is spoken as http, on http's port.
    parsed.scheme = "http";
    parsed.port = 80;
    for (const SchemeDefaults& known : kSchemes) {
        if (scheme != known.name) continue;
        parsed.scheme = known.name;
        parsed.port = known.port;
        parsed.secure = known.secure;
    }

    size_t end = AuthorityEnd(rest);
    const size_t at_sign = rest.find('@');
    if (at_sign != std::string::npos && at_sign < end) {
        const std::string user_information = rest.substr(0, at_sign);
        if (user_information.size() > kMaxUrlPartLength) return Refuse(parsed);
        const size_t colon = user_information.find(':');
        if (colon != std::string::npos) {
            parsed.user_name = user_information.substr(0, colon);
            parsed.password = user_information.substr(colon + 1);
        } else {
            parsed.user_name = user_information;
        }
        rest.erase(0, at_sign + 1);
        end = AuthorityEnd(rest);
    }

    const std::string host_and_port = rest.substr(0, end);
    if (host_and_port.size() > kMaxUrlPartLength) return Refuse(parsed);
    const size_t colon = host_and_port.find(':');
    if (colon != std::string::npos && colon + 1 < host_and_port.size() && IsDigit(host_and_port[colon + 1])) {
        parsed.port = LeadingNumber(host_and_port, colon + 1);
        parsed.host_name = host_and_port.substr(0, colon);
    } else {
        parsed.host_name = host_and_port;
    }

    parsed.path.assign(1, '/');
    if (end < rest.size() && (rest[end] == '?' || rest[end] == '&'))
        parsed.path.append(rest, end, std::string::npos);
    else if (end + 1 < rest.size())  // a '/' followed by more text
        parsed.path.append(rest, end + 1, std::string::npos);
    return 1;
}

}  // namespace ombrix
