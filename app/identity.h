// The player's identity rules that need no window: the instance mutex name and the mapping of
// the true Windows version.
#ifndef CORVEL_APP_IDENTITY_H_
#define CORVEL_APP_IDENTITY_H_

#include <string>

// "Local\KelmoPlayer.WebView2." + FNV-1a (custom start value) over the lower-cased UTF-16 units
// of text, in lower-case hex without leading zeros. text = displayName + "|player" or "|init".
std::wstring BuildInstanceMutexName(const std::wstring& text);

// 11, 10, 8, 7 or -1 (unknown or older).
int MapWindowsVersion(unsigned long major, unsigned long minor, unsigned long build);

// Whether the player runs on that version: Windows 10 or later (an unknown version, -1, is not).
bool IsSupportedWindowsVersion(int version);

// Windows only (identity_win.cpp): the mapping applied to the operating system's real version
// numbers; -1 when they cannot be read.
int GetTrueWindowsVersion();

#endif  // CORVEL_APP_IDENTITY_H_
