#include "codesign/certificate_table.h"

#include <atomic>
#include <new>
#include <vector>

namespace ombrix {
namespace {

struct Slot {
    PCCERT_CONTEXT context = nullptr;  // null: the slot is free
    ULONG holds = 0;
};

// Objects of several apartments and modules share the table.
SRWLOCK g_lock = SRWLOCK_INIT;
std::vector<Slot> g_slots;

class TableLock {
public:
    TableLock() { AcquireSRWLockExclusive(&g_lock); }
    ~TableLock() { ReleaseSRWLockExclusive(&g_lock); }
    TableLock(const TableLock&) = delete;
    TableLock& operator=(const TableLock&) = delete;
};

Slot* Find(LONG handle) {
    if (handle <= 0 || static_cast<size_t>(handle) > g_slots.size()) return nullptr;
    Slot& slot = g_slots[static_cast<size_t>(handle) - 1];
    return slot.context ? &slot : nullptr;
}

LONG WINAPI AddSlot(PCCERT_CONTEXT context) {
    if (!context) return 0;
    TableLock lock;
    size_t index = 0;
    while (index < g_slots.size() && g_slots[index].context) ++index;
    if (index == g_slots.size()) {
        if (g_slots.size() >= 0x7FFFFFFF) return 0;
        try {
            g_slots.emplace_back();
        } catch (const std::bad_alloc&) {
            return 0;
        }
    }
    PCCERT_CONTEXT copy = CertDuplicateCertificateContext(context);
    if (!copy) return 0;
    g_slots[index] = Slot{copy, 1};
    return static_cast<LONG>(index + 1);
}

LONG WINAPI ShareSlot(LONG handle) {
    TableLock lock;
    Slot* slot = Find(handle);
    if (!slot) return 0;
    ++slot->holds;
    return handle;
}

void WINAPI ReleaseSlot(LONG handle) {
    CertContext freed;  // freed outside the lock
    {
        TableLock lock;
        Slot* slot = Find(handle);
        if (slot && --slot->holds == 0) freed.Reset(std::exchange(slot->context, nullptr));
    }
}

PCCERT_CONTEXT WINAPI ResolveSlot(LONG handle) {
    TableLock lock;
    Slot* slot = Find(handle);
    return slot ? CertDuplicateCertificateContext(slot->context) : nullptr;
}

constexpr CertificateTableApi kLocalTable{&AddSlot, &ShareSlot, &ReleaseSlot, &ResolveSlot};
std::atomic<const CertificateTableApi*> g_active{&kLocalTable};

}  // namespace

const CertificateTableApi* LocalCertificateTable() { return &kLocalTable; }
const CertificateTableApi* ActiveCertificateTable() { return g_active.load(); }
void UseCertificateTable(const CertificateTableApi* table) { g_active.store(table ? table : &kLocalTable); }

TableHandle TableHandle::Add(PCCERT_CONTEXT context) { return TableHandle(ActiveCertificateTable()->add(context)); }

TableHandle TableHandle::Share(LONG handle) { return TableHandle(ActiveCertificateTable()->share(handle)); }

void TableSlotTraits::Close(LONG handle) { ActiveCertificateTable()->release(handle); }

CertContext ResolveHandle(LONG handle) { return CertContext(ActiveCertificateTable()->resolve(handle)); }

void FreeLocalCertificateTable() {
    std::vector<Slot> slots;
    {
        TableLock lock;
        slots.swap(g_slots);
    }
    for (const Slot& slot : slots) {
        if (slot.context) CertFreeCertificateContext(slot.context);
    }
}

}  // namespace ombrix

extern "C" const ombrix::CertificateTableApi* WINAPI OmbrixCertificateTable() { return ombrix::LocalCertificateTable(); }
