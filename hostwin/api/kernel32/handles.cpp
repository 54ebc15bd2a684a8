#include "handles.h"

#include <map>

#include "hostwin/session.h"

namespace hostwin {

namespace {

// The kernel handle table of the session.
struct Table : SessionPart {
    std::map<uintptr_t, std::unique_ptr<KernelObject>> objects;
    uintptr_t next = 0x100;
};

Table& TheTable() { return Session::Current().Part<Table>(Session::kHandles); }

}  // namespace

HANDLE InsertHandle(std::unique_ptr<KernelObject> object) {
    Table& t = TheTable();
    uintptr_t value = t.next;
    t.next += 4;
    t.objects[value] = std::move(object);
    return reinterpret_cast<HANDLE>(value);
}

KernelObject* LookupHandle(HANDLE handle) {
    Table& t = TheTable();
    auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
    return it == t.objects.end() ? nullptr : it->second.get();
}

bool RemoveHandle(HANDLE handle) {
    Table& t = TheTable();
    auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
    if (it == t.objects.end()) return false;
    std::unique_ptr<KernelObject> object = std::move(it->second);
    t.objects.erase(it);
    return true;
}

}  // namespace hostwin
