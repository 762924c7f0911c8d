#include "app/windows_1252.h"

#include "i18n/text_codec.h"

namespace mq {

QString Windows1252::Decode(const std::string& bytes) {
  QString out;
  out.reserve(static_cast<qsizetype>(bytes.size()));
  for (char c : bytes)
    out.append(QChar(static_cast<char16_t>(mq::i18n::TTextCodec::Windows1252Char(static_cast<std::uint8_t>(c)))));
  return out;
}

std::string Windows1252::Encode(const QString& text) {
  std::string out;
  out.reserve(static_cast<std::size_t>(text.size()));
  for (QChar qc : text) {
    // Surrogate halves and unmapped characters have no byte.
    const auto byte = mq::i18n::TTextCodec::Windows1252Byte(qc.unicode());
    out.push_back(byte ? static_cast<char>(*byte) : '?');
  }
  return out;
}

}  // namespace mq
