#include "i18n/lang_entry.h"

#include "util/utf16_convert.h"

namespace mq::i18n {

std::string_view TLangEntry::Field(std::string_view entry, std::string_view delim, int k) {
  if (k < 0 || delim.empty()) return {};
  std::size_t start = 0;
  for (int i = 0; i < k; ++i) {
    const std::size_t p = entry.find(delim, start);
    if (p == std::string_view::npos) return {};
    start = p + delim.size();
  }
  const std::size_t end = entry.find(delim, start);
  if (end == std::string_view::npos) return k == 0 ? entry : std::string_view{};
  return entry.substr(start, end - start);
}

std::string TLangEntry::Make(std::string_view name, const std::vector<std::string>& texts, std::string_view delim) {
  std::string out(name);
  for (const auto& t : texts) {
    out += delim;
    out += t;
  }
  out += delim;
  return out;
}

std::string TLangEntry::ReplaceDelimiter(std::string_view entry, std::string_view from, std::string_view to) {
  if (from.empty() || from == to) return std::string(entry);
  std::string out;
  out.reserve(entry.size());
  std::size_t start = 0;
  for (;;) {
    const std::size_t p = entry.find(from, start);
    if (p == std::string_view::npos) break;
    out.append(entry.substr(start, p - start));
    out.append(to);
    start = p + from.size();
  }
  out.append(entry.substr(start));
  return out;
}

std::string TLangEntry::KeepColumns(std::string_view entry, std::string_view delim, int languages) {
  if (delim.empty() || languages < 0) return std::string(entry);
  std::size_t pos = 0;
  for (int i = 0; i < languages + 1; ++i) {
    const std::size_t p = entry.find(delim, pos);
    if (p == std::string_view::npos) return std::string(entry);
    pos = p + delim.size();
  }
  return std::string(entry.substr(0, pos));
}

bool TLangEntry::IsValidDelimiter(int c) {
  // Line breaks and the stored forms of CR/LF would break the line format.
  return c >= 1 && c <= 0x10FFFF && c != 10 && c != 13 && c != 25 && c != 26 && !(c >= 0xD800 && c <= 0xDFFF);
}

std::string TLangEntry::DelimiterText(int charCode) {
  std::string s;
  Utf16Convert::AppendUtf8(s, static_cast<char32_t>(charCode));
  return s;
}

}  // namespace mq::i18n
