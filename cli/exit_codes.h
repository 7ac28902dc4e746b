// Exit codes of phone-updater-cli. Every code means one thing per command; cli/help.txt lists them all.
#pragma once

inline constexpr int kExitOk = 0;
// info and convert.
inline constexpr int kExitWriteFailed = 1;   // OUT or standard output could not be written
inline constexpr int kExitCannotOpen = 2;    // "Unable to open flash image"
inline constexpr int kExitUnrecognized = 3;  // "Unrecognized flash image format"
inline constexpr int kExitCorrupt = 4;       // "File is corrupt or unknown format"
inline constexpr int kExitNoReadBack = 5;    // convert: OUT would not read back as the same image
// flash: 1..6 are the session's failure codes and 129/130/143 an abort by SIGHUP/SIGINT/SIGTERM; loading the
// image fails with sysexits' codes, apart from those.
inline constexpr int kExitFlashBadImage = 65;    // EX_DATAERR: unrecognized or corrupt image
inline constexpr int kExitFlashCannotOpen = 66;  // EX_NOINPUT: "Unable to open flash image"
inline constexpr int kExitUsage = 64;            // bad command line (every command)
inline constexpr int kExitNoPort = 69;  // no single USB serial device for --port auto; no port listing here
inline constexpr int kExitCannotCreate = 73;  // flash --log FILE cannot be opened for appending
inline constexpr int kExitRecordsLost =
    74;  // flash: every session succeeded but a record could not be written
// flash: every session succeeded and every record was written, but the standard error (its reader gone)
// could not take every line.
inline constexpr int kExitOutputLost = 75;
