#include "i18n/comma_text.h"

namespace mq::i18n {

namespace {
bool IsBlank(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u >= 1 && u <= ' ';
}
}  // namespace

std::string TCommaText::Join(const std::vector<std::string>& items) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += ',';
    const std::string& s = items[i];
    bool quote = false;
    for (const char c : s) {
      const auto u = static_cast<unsigned char>(c);
      if (u < 32 || c == ' ' || c == ',' || c == '"') {
        quote = true;
        break;
      }
    }
    if (!quote) {
      out += s;
      continue;
    }
    out += '"';
    for (const char c : s) {
      if (c == '"') out += '"';
      out += c;
    }
    out += '"';
  }
  return out;
}

std::vector<std::string> TCommaText::Split(std::string_view text) {
  // A NUL ends the text, as it ends the list form everywhere else.
  if (const auto nul = text.find('\0'); nul != std::string_view::npos) text = text.substr(0, nul);
  std::vector<std::string> items;
  std::size_t p = 0;
  const std::size_t n = text.size();
  while (p < n && IsBlank(text[p])) ++p;
  while (p < n) {
    std::string s;
    if (text[p] == '"') {
      ++p;
      while (p < n) {
        if (text[p] == '"') {
          if (p + 1 < n && text[p + 1] == '"') {
            s += '"';
            p += 2;
            continue;
          }
          ++p;  // closing quote
          break;
        }
        s += text[p++];
      }
    } else {
      const std::size_t start = p;
      while (p<n&& static_cast<unsigned char>(text[p])> ' ' && text[p] != ',') ++p;
      s.assign(text.substr(start, p - start));
    }
    items.push_back(std::move(s));
    while (p < n && IsBlank(text[p])) ++p;
    if (p < n && text[p] == ',') {
      if (p + 1 == n) items.emplace_back();
      do {
        ++p;
      } while (p < n && IsBlank(text[p]));
    }
  }
  return items;
}

}  // namespace mq::i18n
