// Text functions shared by the whole program: UTF-8 <-> wide conversion, escaping for HTML and
// script string literals, percent-coding, Base64, hex, ASCII lower-casing and splitting.
//
// Wide strings are UTF-16 on Windows and UTF-32 on Linux; narrow strings are UTF-8 or raw bytes.
// Every function is pure, reentrant and reports no error: malformed input gives the documented
// best-effort result (U+FFFD for invalid UTF, a stop in Base64, a kept "%" in percent-decoding).
// Only memory exhaustion escapes, as std::bad_alloc.
#ifndef CORVEL_TEXT_TEXT_H_
#define CORVEL_TEXT_TEXT_H_

#include <string>
#include <vector>

std::string Utf16ToUtf8(const std::wstring& text);
std::wstring Utf8ToUtf16(const std::string& text);

// & < > " ' become entities; everything else is copied.
std::wstring HtmlEscape(const std::wstring& text);

// Safe inside a single- or double-quoted script string; "<" and ">" become \x3C and \x3E.
std::wstring JsStringEscape(const std::wstring& text);

// "%XX" becomes one byte; the bytes are read as UTF-8. "+" stays "+".
std::wstring UrlDecode(const std::wstring& text);

// Unreserved characters (A-Z a-z 0-9 - . _ ~) stay; every other UTF-8 byte becomes "%xx".
std::wstring UrlEncode(const std::wstring& text);

// Standard alphabet; stops at the first "=" or the first character outside the alphabet.
std::vector<unsigned char> Base64Decode(const std::string& text);
std::string Base64Encode(const std::vector<unsigned char>& bytes);
std::string Base64Encode(const std::string& bytes);

// Two lower-case digits per byte.
std::string HexEncode(const std::vector<unsigned char>& bytes);

// "A"-"Z" become "a"-"z"; every other unit stays, so positions in the copy match the input.
std::wstring ToLowerCopy(const std::wstring& text);

// Every delimiter ends a part; text after the last delimiter is a part when it is not empty.
std::vector<std::wstring> SplitString(const std::wstring& text, wchar_t delimiter);

// Each byte widened to one unit (for ASCII texts such as addresses and codes).
std::wstring WidenAscii(const std::string& text);

#endif  // CORVEL_TEXT_TEXT_H_
