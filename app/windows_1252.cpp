#include "app/windows_1252.h"

#include <array>

namespace mq {
namespace {

// 0x80..0x9F; 0 marks the undefined bytes (kept as C1 controls).
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0, 0x017D, 0, 0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178};

char16_t DecodeByte(unsigned char b) {
  if (b >= 0x80 && b <= 0x9F && kHigh[b - 0x80] != 0) return kHigh[b - 0x80];
  return b;
}

}  // namespace

QString Windows1252::Decode(const std::string& bytes) {
  QString out;
  out.reserve(static_cast<qsizetype>(bytes.size()));
  for (char c : bytes) out.append(QChar(DecodeByte(static_cast<unsigned char>(c))));
  return out;
}

std::string Windows1252::Encode(const QString& text) {
  std::string out;
  out.reserve(static_cast<std::size_t>(text.size()));
  for (QChar qc : text) {
    const char16_t u = qc.unicode();
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
      out.push_back(static_cast<char>(u));
      continue;
    }
    char byte = '?';
    for (int i = 0; i < 32; ++i) {
      const char16_t mapped = kHigh[i] != 0 ? kHigh[i] : static_cast<char16_t>(0x80 + i);
      if (mapped == u) {
        byte = static_cast<char>(0x80 + i);
        break;
      }
    }
    out.push_back(byte);  // surrogate halves and unmapped characters become '?'
  }
  return out;
}

}  // namespace mq
