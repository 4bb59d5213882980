// The splash screen: a borderless, per-pixel transparent image (raw-data resource 102, a PNG)
// floating centred above all windows while the player starts. It is removed by DestroySplash()
// once real content is on screen or a start-up step fails, and by itself after 15 seconds.
//
// Main thread only. The splash has no message loop of its own: the caller's loop serves it.
// GDI+ is used only to decode and scale the image; it runs from StartGdiplus() to StopGdiplus().
#ifndef CORVEL_APP_SPLASH_WIN_H_
#define CORVEL_APP_SPLASH_WIN_H_

#include <windows.h>

// Starts GDI+ (version 1, no background thread suppression, no hook); true when it runs. A
// second call while it runs just says true.
bool StartGdiplus();

// Shuts GDI+ down when it runs; otherwise does nothing.
void StopGdiplus();

// Shows the splash and returns its window; when one is already shown, returns that one. The
// image of `instance` (null: the executable) is fitted into maxWidth × maxHeight (0 means 700 and
// 450), narrowed to 70 % of the screen. Returns null, leaving no window behind, when the image is
// missing or undecodable or the window cannot be made. Needs GDI+ running.
HWND CreateSplash(HINSTANCE instance, int maxWidth, int maxHeight);

// Removes the splash when one is shown. Safe to call at any time, any number of times.
void DestroySplash();

// The splash safety timer: the splash removes itself when it fires.
constexpr UINT_PTR kSplashTimerId = 9999;
constexpr UINT kSplashTimeoutMs = 15000;

#endif  // CORVEL_APP_SPLASH_WIN_H_
