// The page the player composes for content it cannot simply navigate to: a full-window frame
// with the content, a watermark layer over it and a one-line script that posts "pageLoaded".
#ifndef CORVEL_LINK_PAGE_COMPOSER_H_
#define CORVEL_LINK_PAGE_COMPOSER_H_

#include <string>

// Reads GetAppState().displayName for the title. The address and the watermark are escaped.
std::wstring ComposeContentPage(const std::wstring& contentUrl, const std::wstring& watermarkText);

#endif  // CORVEL_LINK_PAGE_COMPOSER_H_
