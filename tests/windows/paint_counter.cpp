// A hook DLL for panel_driver: loaded into the updater's process, it counts the WM_PAINT messages its window
// thread takes, per control id, in memory the driver reads.
#include <windows.h>

#include "tests/windows/paint_counter.h"

namespace {

LONG* counts() {
    static LONG* shared = [] {
        const HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                  sizeof(LONG) * kPaintCounters, kPaintCountsName);
        return static_cast<LONG*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    }();
    return shared;
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK countPaints(int code, WPARAM removal, LPARAM message) {
    const MSG& taken = *reinterpret_cast<const MSG*>(message);
    if (code == HC_ACTION && removal == PM_REMOVE && taken.message == WM_PAINT) {
        const int id = GetDlgCtrlID(taken.hwnd);
        if (id > 0 && id < kPaintCounters && counts() != nullptr) InterlockedIncrement(&counts()[id]);
    }
    return CallNextHookEx(nullptr, code, removal, message);
}
