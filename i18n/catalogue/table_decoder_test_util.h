#pragma once
// A strict decoder of stored TranslationData for the catalogue tests.
// It checks the stored layout rather than tolerating variants: UTF-16LE
// without byte-order mark, every line ended by CR LF, sections opened by
// "<name>_Unicode" headers, entries split at the delimiter (character 1).

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace mq::i18n::testing {

inline constexpr char16_t kDelim = 1;

inline const std::vector<std::string>& AllSectionNames() {
  static const std::vector<std::string> names = {
      "stCaptions", "stHints",        "stDisplayLabels", "stFonts",       "stMultiLines", "stDlgsCaptions",
      "stStrings",  "stOtherStrings", "stLocales",       "stCollections", "stCharSets",   "stListView_TreeView_Items"};
  return names;
}

inline std::string ToUtf8(std::u16string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    std::uint32_t c = s[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

inline std::u16string Utf16(std::span<const std::uint8_t> bytes) {
  std::u16string s;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    s += static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
  }
  return s;
}

struct DecodedEntry {
  std::u16string line;             // the stored line, without CR LF
  std::string name;                // field 0
  std::vector<std::string> texts;  // fields 1..N in memory form (25/26 turned into CR/LF), UTF-8
  std::size_t delimiters = 0;      // number of delimiters in the line
};

struct DecodedSection {
  std::string name;  // header without "_Unicode"
  std::vector<DecodedEntry> entries;

  const DecodedEntry* Find(std::string_view entryName) const {
    for (const auto& e : entries) {
      if (e.name == entryName) return &e;
    }
    return nullptr;
  }
  // Number of entries whose text in language `language` (1-based) is not empty.
  int CountTexts(int language) const {
    int n = 0;
    for (const auto& e : entries) {
      if (static_cast<std::size_t>(language) <= e.texts.size() && !e.texts[language - 1].empty()) ++n;
    }
    return n;
  }
};

struct DecodedTable {
  std::string error;  // empty when the bytes follow the stored layout
  std::vector<std::u16string> lines;
  std::vector<DecodedSection> sections;

  const DecodedSection* Section(std::string_view name) const {
    for (const auto& s : sections) {
      if (s.name == name) return &s;
    }
    return nullptr;
  }
  std::vector<std::string> SectionNames() const {
    std::vector<std::string> names;
    for (const auto& s : sections) names.push_back(s.name);
    return names;
  }
};

inline DecodedTable DecodeStoredTable(std::span<const std::uint8_t> bytes, std::size_t languages = 10) {
  DecodedTable t;
  if (bytes.size() % 2 != 0) {
    t.error = "odd number of bytes";
    return t;
  }
  const std::u16string text = Utf16(bytes);
  if (!text.empty() && text[0] == 0xFEFF) {
    t.error = "byte-order mark";
    return t;
  }
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t cr = text.find(u"\r\n", start);
    if (cr == std::u16string::npos) {
      t.error = "last line not ended by CR LF";
      return t;
    }
    std::u16string line = text.substr(start, cr - start);
    if (line.find_first_of(u"\r\n") != std::u16string::npos) {
      t.error = "lone CR or LF inside a line";
      return t;
    }
    t.lines.push_back(std::move(line));
    start = cr + 2;
  }
  for (const auto& line : t.lines) {
    const std::string utf8 = ToUtf8(line);
    const std::string_view suffix = "_Unicode";
    if (line.find(kDelim) == std::u16string::npos && utf8.size() > suffix.size() && utf8.ends_with(suffix)) {
      const std::string name = utf8.substr(0, utf8.size() - suffix.size());
      bool known = false;
      for (const auto& s : AllSectionNames()) known = known || s == name;
      if (!known) {
        t.error = "unknown section header " + utf8;
        return t;
      }
      t.sections.push_back({name, {}});
      continue;
    }
    if (t.sections.empty()) {
      t.error = "entry before the first header: " + utf8;
      return t;
    }
    DecodedEntry e;
    e.line = line;
    std::vector<std::u16string> fields(1);
    for (char16_t c : line) {
      if (c == kDelim) {
        ++e.delimiters;
        fields.emplace_back();
      } else {
        fields.back() += c;
      }
    }
    e.name = ToUtf8(fields[0]);
    for (std::size_t k = 1; k <= languages; ++k) {
      std::u16string field = k + 1 < fields.size() ? fields[k] : std::u16string();
      for (auto& c : field) {
        if (c == 25) c = u'\r';
        if (c == 26) c = u'\n';
      }
      e.texts.push_back(ToUtf8(field));
    }
    t.sections.back().entries.push_back(std::move(e));
  }
  return t;
}

}  // namespace mq::i18n::testing
