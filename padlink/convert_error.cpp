#include "padlink/convert_error.h"

#include <cstdint>
#include <limits>

#include "i18n/text_codec.h"

namespace mq::padlink {

int StrToInt(std::string_view text) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::int64_t value = 0;
  bool ok = i < text.size();
  for (; ok && i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') {
      ok = false;
      break;
    }
    value = value * 10 + (c - '0');
    if (value > std::int64_t{std::numeric_limits<int>::max()} + 1) ok = false;
  }
  if (ok && !negative && value > std::numeric_limits<int>::max()) ok = false;
  if (!ok)
    throw EConvertError("'" + mq::i18n::TTextCodec::Windows1252ToUtf8(mq::i18n::TTextCodec::Bytes(text)) +
                        "' is not a valid integer value");
  return static_cast<int>(negative ? -value : value);
}

}  // namespace mq::padlink
