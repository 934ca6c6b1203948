#include "certificate_table.h"

#include <new>
#include <vector>

namespace certstandin {
namespace {

struct Slot {
    PCCERT_CONTEXT context = nullptr;  // null: the slot is free
    ULONG holds = 0;
};

// Objects of several apartments may share the table.
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

}  // namespace

TableHandle TableHandle::Add(CertContext context) {
    if (!context.Get()) return {};
    TableLock lock;
    size_t index = 0;
    while (index < g_slots.size() && g_slots[index].context) ++index;
    if (index == g_slots.size()) {
        if (g_slots.size() >= 0x7FFFFFFF) return {};
        try {
            g_slots.emplace_back();
        } catch (const std::bad_alloc&) {
            return {};
        }
    }
    g_slots[index] = Slot{context.Detach(), 1};
    return TableHandle(static_cast<LONG>(index + 1));
}

TableHandle TableHandle::Share(LONG handle) {
    TableLock lock;
    Slot* slot = Find(handle);
    if (!slot) return {};
    ++slot->holds;
    return TableHandle(handle);
}

void TableHandle::Reset() {
    if (handle_ == 0) return;
    PCCERT_CONTEXT freed = nullptr;
    {
        TableLock lock;
        Slot* slot = Find(handle_);
        if (slot && --slot->holds == 0) freed = std::exchange(slot->context, nullptr);
    }
    if (freed) CertFreeCertificateContext(freed);
    handle_ = 0;
}

CertContext ResolveHandle(LONG handle) {
    TableLock lock;
    Slot* slot = Find(handle);
    return CertContext(slot ? CertDuplicateCertificateContext(slot->context) : nullptr);
}

void FreeTable() {
    std::vector<Slot> slots;
    {
        TableLock lock;
        slots.swap(g_slots);
    }
    for (const Slot& slot : slots) {
        if (slot.context) CertFreeCertificateContext(slot.context);
    }
}

}  // namespace certstandin
