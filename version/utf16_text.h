// UTF-8 <-> UTF-16 conversion for version texts.
//
// Version data is UTF-16 (as in a Windows version block); file names, build
// definitions and console output are UTF-8. Ill-formed input never throws:
// each bad sequence becomes U+FFFD, so a damaged block still yields text.
//
// Threading: pure functions, safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace mq {

std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace mq
