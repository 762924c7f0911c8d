#include "version/file_version_info_error.h"

#include "version/utf16_text.h"

namespace mq {

EFileVersionInfo::EFileVersionInfo(const std::u16string& text)
    : std::runtime_error(Utf16ToUtf8(text)), FText(text) {}

}  // namespace mq
