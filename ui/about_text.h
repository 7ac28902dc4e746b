// The product's title (the window caption) and what the About pane shows besides its own title.
#pragma once

inline constexpr const char* kProductTitle = "Phone Flash Updater";

// A few short upper-case lines; the edit box upper-cases whatever it holds anyway.
inline constexpr const char* kCredits =
    "PHONE FLASH UPDATER\n"
    "WRITTEN BY THE UPDATER TEAM\n"
    "SERIAL, IMAGE AND SESSION CODE\n"
    "FREE TO USE AND SHARE";

// "Mmm dd yyyy hh:mm:ss": the date and time this file was compiled, joined by one space.
inline constexpr const char* kBuildStamp = __DATE__ " " __TIME__;
