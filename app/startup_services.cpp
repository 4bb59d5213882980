// The steps of the start-up sequence that are the same on every platform: the real
// StartupServices, and RunStartup with them.
#include <string>

#include "app/startup.h"
#include "app/url_scheme.h"
#include "base/app_state.h"
#include "base/fatal_dialog.h"
#include "base/shutdown_hook.h"
#include "link/launch_link.h"
#include "net/content_source.h"
#include "net/http_client.h"
#include "net/pin_list.h"
#include "net/pinning.h"
#include "net/version_check.h"
#include "webview/pin_gate.h"

StartupServices DefaultStartupServices() {
  StartupServices services;
  services.setShutdownHook = SetShutdownHook;
  services.installDefaultPins = [] { ReplacePins(DefaultPins()); };
  services.loadDynamicPins = [] { LoadDynamicPins(); };
  services.checkForUpdate = [](double currentVersion, const std::wstring& baseUrl) {
    return CheckForUpdate(currentVersion, baseUrl);
  };
  services.registerUrlProtocol = RegisterUrlProtocol;
  services.modulePath = GetModulePath;
  services.selectLinkArgument = [](const std::wstring& rawCommandLine) {
    return SelectLinkCandidate(SplitProcessCommandLine(), rawCommandLine, GetAppState().schemeName);
  };
  services.resolveLink = [](const std::wstring& argument) {
    LinkOutcome outcome = ResolveLaunchLink(argument, NetContentSource());
    if (outcome.kind == LinkOutcome::Kind::kContent)
      WriteLinkContent(outcome.content, GetAppState());
    return outcome;
  };
  services.linkPlatform = LaunchLinkPlatform;
  services.checkPagesPlatform = [](const std::wstring& platformDomain) {
    WebView::PassesPinGate(WebView::DefaultPinGate(), NormalizeBaseUrl(platformDomain) + L"/");
  };
  services.showFatalDiagnostic = ShowFatalDiagnosticDialog;
  return services;
}

void ShowUnexpectedErrorDialog() {
  ShowFatalDiagnosticDialog(GetAppState().displayName, L"The player stopped because of an unexpected error.",
                            L"توقف البرنامج بسبب خطأ غير متوقع.", "UNHANDLED_EXCEPTION");
}

int RunStartup(StartupPlatform& platform, const std::wstring& rawCommandLine) {
  return RunStartup(platform, DefaultStartupServices(), rawCommandLine);
}
