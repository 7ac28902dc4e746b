// Resource ids of the Win32 window (read by the resource compiler too: #defines only).
#pragma once

#define IDD_PANEL 102
#define IDI_FRAME1 105  // the six animation frames, 105..110; the first is the class icon at start
#define IDI_FRAME2 106
#define IDI_FRAME3 107
#define IDI_FRAME4 108
#define IDI_FRAME5 109
#define IDI_FRAME6 110
#define IDB_LEDSTRIP 119
