#include "version/file_version_info_error.h"

#include "util/utf16_convert.h"

namespace mq {

EFileVersionInfo::EFileVersionInfo(const std::u16string& text)
    : std::runtime_error(Utf16Convert::Utf16ToUtf8(text)), FText(text) {}

}  // namespace mq
