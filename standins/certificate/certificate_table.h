// The module-wide table of certificate contexts behind ICertificate::Handle.
//
// Handle is a 32-bit property while a certificate context of the 64-bit platform is a pointer,
// so the stand-in hands out small positive integers instead: a handle is the 1-based index of a
// slot of this DLL's table. Each slot holds one reference to its context and counts the objects
// holding its handle; the slot (and the context) is freed when the last of them lets go. Values
// that are not slots of this table mean nothing here.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <utility>

namespace certstandin {

// Owns one reference to a certificate context.
class CertContext {
public:
    CertContext() = default;
    explicit CertContext(PCCERT_CONTEXT context) : context_(context) {}
    CertContext(const CertContext&) = delete;
    CertContext& operator=(const CertContext&) = delete;
    CertContext(CertContext&& other) noexcept : context_(other.Detach()) {}
    CertContext& operator=(CertContext&& other) noexcept { Reset(other.Detach()); return *this; }
    ~CertContext() { Reset(); }

    PCCERT_CONTEXT Get() const { return context_; }
    PCCERT_CONTEXT Detach() { return std::exchange(context_, nullptr); }
    void Reset(PCCERT_CONTEXT context = nullptr) {
        if (context_ && context_ != context) CertFreeCertificateContext(context_);
        context_ = context;
    }

private:
    PCCERT_CONTEXT context_ = nullptr;
};

// Owns one hold on a slot of the table; 0 stands for no slot.
class TableHandle {
public:
    TableHandle() = default;
    TableHandle(const TableHandle&) = delete;
    TableHandle& operator=(const TableHandle&) = delete;
    TableHandle(TableHandle&& other) noexcept : handle_(std::exchange(other.handle_, 0)) {}
    TableHandle& operator=(TableHandle&& other) noexcept {
        if (this != &other) {
            Reset();
            handle_ = std::exchange(other.handle_, 0);
        }
        return *this;
    }
    ~TableHandle() { Reset(); }

    // Puts a context into a new slot (taking the reference over). Empty on failure.
    static TableHandle Add(CertContext context);
    // A further hold on an existing slot. Empty when `handle` is no slot of the table.
    static TableHandle Share(LONG handle);

    LONG Get() const { return handle_; }
    explicit operator bool() const { return handle_ != 0; }
    void Reset();

private:
    explicit TableHandle(LONG handle) : handle_(handle) {}
    LONG handle_ = 0;
};

// A new reference to the context behind `handle`, or none when it is no slot of the table.
CertContext ResolveHandle(LONG handle);

// Frees every remaining context; called when the DLL is unloaded from a running process.
void FreeTable();

}  // namespace certstandin
