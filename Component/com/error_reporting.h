// The error boundary of a COM class: ISupportErrorInfo for its interfaces, Error(code) that
// leaves the thread's error information with the class's ProgID as source, and HoldSelf(),
// which keeps the object alive while an operation calls out (to event sinks, say).
//
//   class CThing : public com::ErrorReporting<CThing, ProductErrors, &IID_IThing>, ... {
//   public:
//       static constexpr wchar_t kProgId[] = L"Vendor.Thing.1";
//   };
//
// The product hands in what the framework cannot know: its ProgID, and an Errors type with
//   static HRESULT Report(int32_t code, const wchar_t* source);          // sets info, gives HRESULT
//   static HRESULT ReportFailure(HRESULT failure, const wchar_t* source); // a lower layer's HRESULT
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstdint>

#include "base/status.h"
#include "com/error_report.h"
#include "com/object.h"
#include "com/ptr.h"

namespace com {

template <class Derived, class Errors, const IID*... Supported>
class ErrorReporting : public SupportErrorInfoImpl<Supported...> {
public:
    // A reference to the object for the length of an operation: `auto hold = HoldSelf();`.
    class SelfHold {
    public:
        explicit SelfHold(ErrorReporting& owner) : owner_(owner) {
            owner_.Unknown()->AddRef();
            ++owner_.self_holds_;
        }
        SelfHold(const SelfHold&) = delete;
        SelfHold& operator=(const SelfHold&) = delete;
        ~SelfHold() {
            --owner_.self_holds_;
            owner_.Unknown()->Release();  // may destroy the object: nothing of it is touched after
        }

    private:
        ErrorReporting& owner_;
    };

    [[nodiscard]] SelfHold HoldSelf() { return SelfHold(*this); }

    // True when only the operations' own holds keep the object alive: its clients released it
    // (from an event handler, say) and it goes when the running operation ends.
    bool ReleasedByClients() {
        IUnknown* unknown = Unknown();
        unknown->AddRef();
        const ULONG others = unknown->Release();
        return others <= self_holds_;
    }

protected:
    // Sets the error information for a code of the product's table and returns its HRESULT.
    HRESULT Error(int32_t code) const { return Errors::Report(code, Derived::kProgId); }
    // A lower layer's result: a callee's failing HRESULT is passed on with its own error
    // information; a code is reported from the table.
    HRESULT Failure(ombrix::Status status) const {
        return status.IsFailure() ? Errors::ReportFailure(static_cast<HRESULT>(status.Value()), Derived::kProgId)
                                  : Error(status.Value());
    }

private:
    IUnknown* Unknown() { return static_cast<Derived*>(this)->ControllingUnknown(); }

    ULONG self_holds_ = 0;
};

}  // namespace com
