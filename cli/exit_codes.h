// Exit codes of phone-updater-cli.
#pragma once

inline constexpr int kExitOk = 0;
inline constexpr int kExitWriteFailed = 1;   // OUT or standard output could not be written
inline constexpr int kExitCannotOpen = 2;    // "Unable to open flash image"
inline constexpr int kExitUnrecognized = 3;  // "Unrecognized flash image format"
inline constexpr int kExitCorrupt = 4;       // "File is corrupt or unknown format"
inline constexpr int kExitUsage = 64;        // bad command line
inline constexpr int kExitNoPort = 69;  // no single USB serial device for --port auto; no port listing here
inline constexpr int kExitCannotCreate = 73;  // flash --log FILE cannot be opened for appending
