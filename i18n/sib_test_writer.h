// TSibTestWriter: writes .sib translation files for the tests: the header,
// the directory and one component record per window, with the typed
// values the reader must take or read past.
// Threading: single-threaded test helper.
#pragma once

#include "i18n/sib_file_manager.h"
#include "i18n/text_codec.h"

#include <cstdint>
#include <string>
#include <vector>

namespace mq::i18n {

class TSibTestWriter {
 public:
  using Bytes = std::vector<std::uint8_t>;

  // Typed-value encoders for record properties.
  static void U8(Bytes& b, std::uint8_t v) { b.push_back(v); }
  static void LE(Bytes& b, std::uint64_t v, int size) {
    for (int i = 0; i < size; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  static void Short(Bytes& b, const std::string& s) {
    b.push_back(static_cast<std::uint8_t>(s.size()));
    b.insert(b.end(), s.begin(), s.end());
  }
  static Bytes Int(std::int32_t v) {
    Bytes b{4};
    LE(b, static_cast<std::uint32_t>(v), 4);
    return b;
  }
  static Bytes Bool(bool v) { return {static_cast<std::uint8_t>(v ? 9 : 8)}; }
  static Bytes Binary(const Bytes& data) {
    Bytes b{10};
    LE(b, data.size(), 4);
    b.insert(b.end(), data.begin(), data.end());
    return b;
  }
  // A list of texts, as UTF-16 (type 18) values.
  static Bytes WideList(const std::vector<std::string>& items) {
    Bytes b{1};
    for (const auto& s : items) {
      const std::string u16 = TTextCodec::Utf8ToUtf16Le(s);
      b.push_back(18);
      LE(b, u16.size() / 2, 4);
      b.insert(b.end(), u16.begin(), u16.end());
    }
    b.push_back(0);
    return b;
  }

  struct Property {
    std::string name;
    Bytes value;
  };

  // "TPF0", class and name, properties, end of properties, end of children.
  static Bytes Record(const std::vector<Property>& props, const std::string& cls = "TsiLangRT",
                      const std::string& name = "siLangRT1") {
    Bytes b{'T', 'P', 'F', '0'};
    Short(b, cls);
    Short(b, name);
    for (const auto& p : props) {
      Short(b, p.name);
      b.insert(b.end(), p.value.begin(), p.value.end());
    }
    b.push_back(0);
    b.push_back(0);
    return b;
  }

  // The usual properties of a record: the table, the names and the flags.
  static Bytes StandardRecord(const Bytes& table, const std::vector<std::string>& names, int delim = 1) {
    return Record({{"LangDelim", Int(delim)},
                   {"LangNames.Strings", WideList(names)},
                   {"NumOfLanguages", Int(static_cast<std::int32_t>(names.size()))},
                   {"StoreAsUTF8", Bool(true)},
                   {"TranslationData", Binary(table)}});
  }

  struct Window {
    std::string className;
    Bytes record;
  };

  static Bytes File(const std::vector<Window>& windows, const std::string& fixedLanguages = "English\r\n",
                    bool withTrailer = true) {
    Bytes b(TSIBFileManager::kHeader.begin(), TSIBFileManager::kHeader.end());
    LE(b, windows.size(), 2);
    LE(b, fixedLanguages.size(), 2);
    b.insert(b.end(), fixedLanguages.begin(), fixedLanguages.end());
    std::size_t dirSize = 0;
    for (const auto& w : windows) dirSize += 2 + w.className.size() + 4;
    std::size_t offset = b.size() + dirSize;
    for (const auto& w : windows) {
      LE(b, w.className.size(), 2);
      b.insert(b.end(), w.className.begin(), w.className.end());
      LE(b, offset, 4);
      offset += w.record.size();
    }
    for (const auto& w : windows) b.insert(b.end(), w.record.begin(), w.record.end());
    if (!withTrailer) return b;
    const std::string comments = TTextCodec::Utf8ToUtf16Le("comments.txt");
    LE(b, comments.size(), 2);
    b.insert(b.end(), comments.begin(), comments.end());
    return b;
  }
};

}  // namespace mq::i18n
