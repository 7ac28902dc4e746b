// What panel_driver and its hook DLL share: the WM_PAINT counts per control id, in named shared memory.
#pragma once

inline constexpr int kPaintCounters = 2048;  // control ids below this
inline constexpr const wchar_t* kPaintCountsName = L"phone-updater paint counts";
