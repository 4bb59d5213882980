// Names that Windows, other programs and earlier installs of the player know it by. Several carry
// the product's earlier name, Kelmo; they must never be renamed, whatever the product is called:
//
// - the instance mutex: a player of an earlier release that is still running holds a mutex of
//   this name, and a new one must see it to stay the only instance;
// - the window classes and the splash title: programs outside the player may look for its
//   windows by them;
// - the write-test file: earlier releases wrote and removed it in the same web-view data
//   folders, which the new release shares;
// - the URL scheme's display name: the installer (resources/package/corvel.nsi) writes it too,
//   and every start rewrites it;
// - the runtime prompt's caption: users and support know the prompt by it.
//
// The page scripts' own names (the `_kelmo…` guard flags, the "kelmo-…" element ids and the
// "km_nx"/"km_ny" storage keys) live in webview/scripts/*.js and are as fixed as these.
#ifndef CORVEL_BASE_STABLE_NAMES_H_
#define CORVEL_BASE_STABLE_NAMES_H_

// The instance mutex: this prefix, then the hash of the role (app/identity.h).
inline constexpr wchar_t kInstanceMutexPrefix[] = L"Local\\KelmoPlayer.WebView2.";

// Window classes of the player window, the init screen and the splash, and the splash's title.
inline constexpr wchar_t kPlayerWindowClass[] = L"CorvelWindow";
inline constexpr wchar_t kInitScreenWindowClass[] = L"KelmoInitWindow";
inline constexpr wchar_t kSplashWindowClass[] = L"KelmoTransparentSplashClass";
inline constexpr wchar_t kSplashWindowTitle[] = L"Kelmo Splash";

// The file that proves a web-view data folder writable (created and removed at once).
inline constexpr wchar_t kWriteTestFileName[] = L".kelmo_write_test";

// The display name under which the URL scheme is registered.
inline constexpr wchar_t kUrlProtocolDisplayName[] = L"Kelmo Desktop Player";

// The caption of the prompt that offers to install the WebView2 runtime (with an em dash).
inline constexpr wchar_t kRuntimeOfferCaption[] = L"Kelmo \u2014 Component Required";

#endif  // CORVEL_BASE_STABLE_NAMES_H_
