#include "library.h"

#include <cstdio>
#include <cstring>

namespace qk42rt_wintest {
namespace {

// GetProcAddress hands back a generic function pointer; copying the bits avoids a cast
// between unrelated function types.
template <class F>
void assign(F& target, FARPROC found) {
    static_assert(sizeof target == sizeof found);
    std::memcpy(&target, &found, sizeof target);
}

struct Entry {
    const char* name;
    WORD ordinal;
    void (*store)(Functions&, FARPROC);
};

#define QK42RT_ENTRY(fn, ord)                                                \
    {                                                                        \
        "QK42RT_" #fn, ord, [](Functions& f, FARPROC p) { assign(f.fn, p); } \
    }

// The export table hosts rely on: names and ordinals.
const Entry kEntries[] = {
    QK42RT_ENTRY(InitPort, 1),       QK42RT_ENTRY(ReadUnit, 2),
    QK42RT_ENTRY(SetUnit, 3),        QK42RT_ENTRY(ReadFlow, 4),
    QK42RT_ENTRY(ReadSetpoint, 5),   QK42RT_ENTRY(ReadMaxflow, 6),
    QK42RT_ENTRY(ReadIntflow, 7),    QK42RT_ENTRY(ReadInttime, 8),
    QK42RT_ENTRY(IntControl, 9),     QK42RT_ENTRY(ReadRatioTotal, 10),
    QK42RT_ENTRY(SetRatioTotal, 11), QK42RT_ENTRY(ControlRatioTotal, 12),
    QK42RT_ENTRY(ReadOnOff, 13),     QK42RT_ENTRY(SetOnOff, 14),
    QK42RT_ENTRY(SetSetpoint, 15),   QK42RT_ENTRY(SetMaxflow, 16),
    QK42RT_ENTRY(ReadVersion, 17),   QK42RT_ENTRY(SetDisplay, 18),
    QK42RT_ENTRY(ClosePort, 19),     QK42RT_ENTRY(SetKeyLock, 20),
};

#undef QK42RT_ENTRY

}  // namespace

HMODULE load_library(const std::string& path, Functions& out, bool& all_resolved) {
    all_resolved = false;
    const HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) {
        std::printf("FAIL LoadLibrary(%s): error %lu\n", path.c_str(), GetLastError());
        return nullptr;
    }
    bool ok = true;
    for (const Entry& entry : kEntries) {
        const FARPROC by_name = GetProcAddress(module, entry.name);
        const FARPROC by_ordinal = GetProcAddress(module, MAKEINTRESOURCEA(entry.ordinal));
        if (by_name == nullptr || by_name != by_ordinal) {
            std::printf("FAIL %s: by name %p, by ordinal %u %p\n", entry.name,
                        reinterpret_cast<void*>(by_name), entry.ordinal,
                        reinterpret_cast<void*>(by_ordinal));
            ok = false;
            continue;
        }
        entry.store(out, by_name);
    }
    // Nothing answers beyond the last ordinal.
    if (GetProcAddress(module, MAKEINTRESOURCEA(21)) != nullptr) {
        std::printf("FAIL ordinal 21 is exported\n");
        ok = false;
    }
    if (ok) std::printf("ok   20 functions resolved by name and by ordinal, same addresses\n");
    all_resolved = ok;
    return module;
}

}  // namespace qk42rt_wintest
