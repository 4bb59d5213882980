#include "base/fatal_dialog.h"

#include <atomic>
#include <string>
#include <thread>

#include "text/text.h"

namespace {

// A value placed into the dialog document. The document travels as an "about:" address on a
// double-quoted command line and runs with the rights of an HTML Application, so besides the
// markup characters the percent sign is written as an entity too: the address is
// percent-decoded before the document is parsed.
std::wstring DocumentText(const std::wstring& value) {
  const std::wstring escaped = HtmlEscape(value);
  std::wstring out;
  out.reserve(escaped.size());
  for (wchar_t c : escaped) {
    if (c == L'%') {
      out += L"&#37;";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

bool ClaimFatalDialog() {
  static std::atomic<std::thread::id> owner{std::thread::id()};
  std::thread::id current;  // no thread
  const std::thread::id self = std::this_thread::get_id();
  if (owner.compare_exchange_strong(current, self))
    return true;
  return current == self;
}

std::wstring BuildDiagnosticDocument(const std::wstring& title,
                                     const std::wstring& english,
                                     const std::wstring& arabic,
                                     const std::string& code) {
  const std::wstring safeTitle = DocumentText(title);
  std::wstring doc;
  doc += L"<html><head><title>";
  doc += safeTitle;
  doc += L"</title>";
  doc += L"<hta:application id='diag' border='dialog' innerborder='no' scroll='no' ";
  doc += L"maximizebutton='no' minimizebutton='no' sysmenu='yes' ";
  doc += L"windowstate='normal' />";
  doc += L"<style>";
  doc += L"body{font-family:Segoe UI,Tahoma,sans-serif;background:#1a1a2e;color:#eee;";
  doc += L"margin:0;padding:20px;display:flex;flex-direction:column;align-items:center;}";
  doc += L".icon{font-size:48px;margin-bottom:10px;}";
  doc += L"h2{color:#e94560;margin:5px 0 10px;font-size:18px;}";
  doc += L"p{text-align:center;font-size:13px;line-height:1.5;margin:5px 0;color:#ccc;}";
  doc += L".ar{direction:rtl;font-family:Segoe UI,Tahoma,sans-serif;}";
  doc += L"textarea{width:90%;height:60px;margin:10px 0;padding:8px;font-family:Consolas,monospace;";
  doc += L"font-size:11px;background:#0f3460;color:#e94560;border:1px solid #e94560;";
  doc += L"border-radius:4px;resize:none;text-align:center;}";
  doc += L".btn{padding:8px 24px;background:#e94560;color:#fff;border:none;border-radius:4px;";
  doc += L"font-size:13px;cursor:pointer;margin:5px;}";
  doc += L".btn:hover{background:#c73e54;}";
  doc += L".info{font-size:11px;color:#888;margin-top:8px;}";
  doc += L"</style></head><body>";
  doc += L"<div class='icon'>&#9888;</div>";
  doc += L"<h2>";
  doc += safeTitle;
  doc += L"</h2>";
  doc += L"<p>";
  doc += DocumentText(english);
  doc += L"</p>";
  doc += L"<p class='ar'>";
  doc += DocumentText(arabic);
  doc += L"</p>";
  doc += L"<p style='margin-top:15px;color:#e94560;font-size:12px;'>";
  doc += L"&#128274; Diagnostic Code / ";
  doc += L"كود التشخيص";
  doc += L"</p>";
  doc += L"<textarea id='dc' readonly onclick='this.select()'>";
  doc += DocumentText(WidenAscii(code));
  doc += L"</textarea>";
  doc += L"<div>";
  doc += L"<button class='btn' onclick='copyCode()'>&#128203; Copy Code</button>";
  doc += L"<button class='btn' style='background:#555;' onclick='window.close()'>Close</button>";
  doc += L"</div>";
  doc += L"<p class='info'>The code has been copied to your clipboard automatically.</p>";
  doc += L"<p class='info'>Please send this code to support for assistance.</p>";
  doc += L"<p class='info ar'>";
  doc += L"تم نسخ الكود ";
  doc += L"تلقائياً. ";
  doc += L"يرجى إرساله ";
  doc += L"للدعم الفني.";
  doc += L"</p>";
  doc += L"<script>";
  doc += L"function copyCode(){var t=document.getElementById('dc');";
  doc += L"t.select();document.execCommand('copy');}";
  doc += L"window.resizeTo(700,580);window.moveTo(";
  doc += L"(screen.width-700)/2,(screen.height-580)/2);";
  doc += L"</script></body></html>";
  return doc;
}

std::wstring BuildDiagnosticCommandLine(const std::wstring& title,
                                        const std::wstring& english,
                                        const std::wstring& arabic,
                                        const std::string& code) {
  return L"mshta \"about:" + BuildDiagnosticDocument(title, english, arabic, code) + L"\"";
}

std::wstring BuildDiagnosticFallbackText(const std::wstring& english,
                                         const std::wstring& arabic,
                                         const std::string& code) {
  return english + L"\n\n" + arabic + L"\n\nDiagnostic Code:\n" + WidenAscii(code);
}
