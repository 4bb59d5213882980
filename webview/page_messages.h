// What a web message from their page asks of the player window and the init screen.
//
// The host passes the message as a string when the page posted a string, otherwise as the
// message's JSON text; so "requestPrint" may arrive bare, in double quotes, or inside a JSON
// object. These functions only decide; the windows apply the answer.
#ifndef CORVEL_WEBVIEW_PAGE_MESSAGES_H_
#define CORVEL_WEBVIEW_PAGE_MESSAGES_H_

#include <string>

// What a page message asks of its window.
enum class PageRequest { kNone, kPrint, kToggleFullscreen, kPageLoaded, kHome, kBack, kReload };

// True for the bare word requestPrint, and for any text containing it in double quotes (its JSON
// string form, alone or as a value inside a JSON object).
bool IsPrintRequest(const std::wstring& message);

// Player window: print requests, then "toggleFullscreen" and "pageLoaded", each bare or in
// double quotes. Everything else (including the navigation-bar words) is kNone.
PageRequest DispatchPlayerMessage(const std::wstring& message);

// Init screen: print requests, then the navigation-bar words, which must match exactly.
PageRequest DispatchInitMessage(const std::wstring& message);

#endif  // CORVEL_WEBVIEW_PAGE_MESSAGES_H_
