// Scripts the player and the init screen add to every document of their web view.
//
// Each script is a self-invoking function guarded by a flag on `window`, so running it twice in
// one document adds nothing the second time. The texts are the files of webview/scripts,
// compiled in at build time. All functions are pure and thread-safe.
#ifndef CORVEL_WEBVIEW_SCRIPTS_H_
#define CORVEL_WEBVIEW_SCRIPTS_H_

#include <string>

// Full-window loading overlay, removed once the document has loaded (at the latest after 5 s).
std::wstring LoaderScript();

// Replaces and locks window.print so that printing goes to the host ("requestPrint"); blocks
// the print, save and open shortcuts.
std::wstring PrintBlockScript();

// The init screen's floating bar (home, back, reload, full screen) and its loading overlay.
std::wstring NavigationBarScript();

// The round print button of PDF content.
std::wstring PrintButtonScript();

// The watermark layer of PDF content showing `watermarkText`; the text is escaped as a script
// string, so any text (quotes, "</script>", line breaks) is shown literally.
std::wstring WatermarkScript(const std::wstring& watermarkText);

// The host's print page of a PDF lesson (run after PDF.js): window.corvelPdfPrint.
std::wstring PdfPrintPageScript();

// Runs `pageScript` once the document has been parsed (at once when it already has been).
std::wstring WrapPageScript(const std::wstring& pageScript);

#endif  // CORVEL_WEBVIEW_SCRIPTS_H_
