// The process-wide table of certificate contexts behind ICertificate::Handle.
//
// Handle is a 32-bit property while a certificate context of the 64-bit platform is a pointer,
// so handles are small positive integers instead: the 1-based index of a slot of this table.
// Each slot holds one reference to its context and counts the holds on it; the slot (and the
// context) is freed when the last hold goes. Values that are not slots mean nothing.
//
// Ombrix.dll owns the table of the process and exports it as OmbrixCertificateTable, so that the
// certificate component, the control's SecretKey, SignEXE and VerifyEXE all resolve a handle to
// the same context. A module without Ombrix.dll's export (a test program linking the control
// statically) uses the table linked into it.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include "base/unique.h"

namespace ombrix {

// Owns one reference to a certificate context.
using CertContext = ombrix::CertContext;

// The table's operations with a C calling convention, as exported across modules.
struct CertificateTableApi {
    // Puts a new reference to `context` into a new slot with one hold: its handle, or 0.
    LONG (WINAPI* add)(PCCERT_CONTEXT context);
    // One more hold on the slot: `handle`, or 0 when it is no slot.
    LONG (WINAPI* share)(LONG handle);
    // Gives up one hold.
    void (WINAPI* release)(LONG handle);
    // A new reference to the slot's context (the caller frees it), or null.
    PCCERT_CONTEXT (WINAPI* resolve)(LONG handle);
};

// The table linked into this module.
const CertificateTableApi* LocalCertificateTable();
// The table this module's handles go through: the local one unless another was chosen.
const CertificateTableApi* ActiveCertificateTable();
// Makes `table` the one this module's handles go through (a module that shares Ombrix.dll's).
void UseCertificateTable(const CertificateTableApi* table);

// A hold on a slot of the active table is given up through that table.
struct TableSlotTraits {
    static LONG Null() { return 0; }
    static void Close(LONG handle);
};

// Owns one hold on a slot of the active table; 0 stands for no slot.
class TableHandle : public ombrix::Unique<LONG, TableSlotTraits> {
public:
    TableHandle() = default;

    // Puts a new reference to the context into a new slot. Empty on failure.
    static TableHandle Add(PCCERT_CONTEXT context);
    // A further hold on an existing slot. Empty when `handle` is no slot of the table.
    static TableHandle Share(LONG handle);

private:
    explicit TableHandle(LONG handle) : Unique(handle) {}
};

// A new reference to the context behind `handle`, or none when it is no slot of the table.
CertContext ResolveHandle(LONG handle);

// Frees every remaining context of the local table; called when the module is unloaded from a
// running process.
void FreeLocalCertificateTable();

}  // namespace ombrix

// Ombrix.dll's table, for the certificate component.
extern "C" const ombrix::CertificateTableApi* WINAPI OmbrixCertificateTable();
