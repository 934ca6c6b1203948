// The outcome of an engine call that may pass a blob's result on: success, a code of the
// product's error table, or a failing HRESULT a callee reported (kept as its int32_t value).
// Nothing converts from a bare int32_t, so a table code and an HRESULT cannot be mixed up.
#pragma once

#include <cstdint>
#include <type_traits>

namespace ombrix {

class Status {
public:
    constexpr Status() = default;

    static constexpr Status Ok() { return Status(); }
    // A code of the error table; 0 is success.
    static constexpr Status Code(int32_t code) { return Status(code == 0 ? Kind::kOk : Kind::kCode, code); }
    // A callee's failing HRESULT; a non-failing value counts as success.
    static constexpr Status Failure(int32_t hresult) { return Status(hresult < 0 ? Kind::kFailure : Kind::kOk, hresult < 0 ? hresult : 0); }

    constexpr bool IsOk() const { return kind_ == Kind::kOk; }
    constexpr bool IsCode() const { return kind_ == Kind::kCode; }
    constexpr bool IsFailure() const { return kind_ == Kind::kFailure; }
    // The table code (IsCode), the HRESULT (IsFailure), or 0.
    constexpr int32_t Value() const { return value_; }

    constexpr bool operator==(const Status&) const = default;

private:
    enum class Kind : uint8_t { kOk, kCode, kFailure };
    constexpr Status(Kind kind, int32_t value) : kind_(kind), value_(value) {}

    Kind kind_ = Kind::kOk;
    int32_t value_ = 0;
};

static_assert(!std::is_constructible_v<Status, int32_t> && !std::is_convertible_v<int32_t, Status>);
// The same number as a table code and as a callee's failure are different outcomes.
static_assert(Status::Code(-2147024882) != Status::Failure(-2147024882));

}  // namespace ombrix
