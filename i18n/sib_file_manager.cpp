#include "i18n/sib_file_manager.h"

#include "i18n/si_strings_collection.h"
#include "i18n/sib_format_error.h"
#include "i18n/text_codec.h"
#include "util/safe_file_reader.h"

#include <algorithm>
#include <cstring>

namespace mq::i18n {

namespace {

enum : std::uint8_t {
  vaNull = 0,
  vaList = 1,
  vaInt8 = 2,
  vaInt16 = 3,
  vaInt32 = 4,
  vaExtended = 5,
  vaString = 6,
  vaIdent = 7,
  vaFalse = 8,
  vaTrue = 9,
  vaBinary = 10,
  vaSet = 11,
  vaLString = 12,
  vaNil = 13,
  vaCollection = 14,
  vaSingle = 15,
  vaCurrency = 16,
  vaDate = 17,
  vaWString = 18,
  vaInt64 = 19,
  vaUTF8String = 20,
  vaDouble = 21,
};

// Bounded little-endian reader over the file bytes.
class Cursor {
 public:
  Cursor(std::span<const std::uint8_t> bytes, std::size_t pos) : bytes_(bytes), pos_(pos) {}

  std::size_t Remaining() const { return bytes_.size() - pos_; }

  void Need(std::uint64_t n, const char* what) const {
    if (n > Remaining()) Fail(std::string("unexpected end of file while reading ") + what);
  }
  [[noreturn]] void Fail(const std::string& what) const {
    throw ESibFormatError("Translation file damaged at offset " + std::to_string(pos_) + ": " + what);
  }
  std::uint8_t Peek(const char* what) const {
    Need(1, what);
    return bytes_[pos_];
  }
  std::uint8_t U8(const char* what) {
    Need(1, what);
    return bytes_[pos_++];
  }
  std::uint64_t ULE(int size, const char* what) {
    Need(static_cast<std::uint64_t>(size), what);
    std::uint64_t v = 0;
    for (int i = size - 1; i >= 0; --i) v = (v << 8) | bytes_[pos_ + static_cast<std::size_t>(i)];
    pos_ += static_cast<std::size_t>(size);
    return v;
  }
  std::int64_t SLE(int size, const char* what) {
    const std::uint64_t u = ULE(size, what);
    const int bits = size * 8;
    if (bits < 64 && (u & (std::uint64_t{1} << (bits - 1))) != 0)
      return static_cast<std::int64_t>(u | (~std::uint64_t{0} << bits));
    return static_cast<std::int64_t>(u);
  }
  std::span<const std::uint8_t> Take(std::uint64_t n, const char* what) {
    Need(n, what);
    auto s = bytes_.subspan(pos_, static_cast<std::size_t>(n));
    pos_ += static_cast<std::size_t>(n);
    return s;
  }
  void Skip(std::uint64_t n, const char* what) { Take(n, what); }
  std::string ShortString(const char* what) {
    const std::uint8_t n = U8(what);
    return TTextCodec::Windows1252ToUtf8(Take(n, what));
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t pos_;
};

class RecordParser {
 public:
  explicit RecordParser(Cursor& c) : c_(c) {}

  void SkipValue(int depth) { SkipValueOfType(c_.U8("a value type"), depth); }

  void SkipValueOfType(std::uint8_t type, int depth) {
    if (depth > TSIBFileManager::kMaxDepth) c_.Fail("values nested too deeply");
    switch (type) {
      case vaNull:
      case vaFalse:
      case vaTrue:
      case vaNil: return;
      case vaList:
        while (c_.Peek("a list") != vaNull) SkipValue(depth + 1);
        c_.U8("a list");
        return;
      case vaInt8: c_.Skip(1, "an integer"); return;
      case vaInt16: c_.Skip(2, "an integer"); return;
      case vaInt32: c_.Skip(4, "an integer"); return;
      case vaExtended: c_.Skip(10, "a float"); return;
      case vaString:
      case vaIdent: c_.Skip(c_.U8("a text"), "a text"); return;
      case vaBinary:
      case vaLString:
      case vaUTF8String: c_.Skip(c_.ULE(4, "a length"), "a long value"); return;
      case vaSet:
        for (;;) {
          const std::uint8_t n = c_.U8("a set");
          if (n == 0) return;
          c_.Skip(n, "a set");
        }
      case vaCollection: SkipCollection(depth + 1); return;
      case vaSingle: c_.Skip(4, "a float"); return;
      case vaCurrency:
      case vaDate:
      case vaInt64:
      case vaDouble: c_.Skip(8, "an 8-byte value"); return;
      case vaWString: c_.Skip(c_.ULE(4, "a length") * 2, "a UTF-16 text"); return;
      default: c_.Fail("unknown value type " + std::to_string(type));
    }
  }

  void SkipCollection(int depth) {
    if (depth > TSIBFileManager::kMaxDepth) c_.Fail("values nested too deeply");
    for (;;) {
      std::uint8_t b = c_.U8("a collection");
      if (b == vaNull) return;
      if (b == vaInt8 || b == vaInt16 || b == vaInt32) {
        SkipValueOfType(b, depth);
        b = c_.U8("a collection");
      }
      if (b != vaList) c_.Fail("collection item without list marker");
      SkipProperties(depth + 1);
    }
  }

  void SkipProperties(int depth) {
    for (;;) {
      const std::string name = c_.ShortString("a property name");
      if (name.empty()) return;
      SkipValue(depth);
    }
  }

  std::int64_t Integer(const char* what) {
    switch (c_.U8(what)) {
      case vaInt8: return c_.SLE(1, what);
      case vaInt16: return c_.SLE(2, what);
      case vaInt32: return c_.SLE(4, what);
      case vaInt64: return c_.SLE(8, what);
      default: c_.Fail(std::string("integer expected for ") + what);
    }
  }

  bool Boolean(const char* what) {
    switch (c_.U8(what)) {
      case vaFalse: return false;
      case vaTrue: return true;
      default: c_.Fail(std::string("boolean expected for ") + what);
    }
  }

  std::string TextOfType(std::uint8_t type, const char* what) {
    switch (type) {
      case vaString:
      case vaIdent: {
        const std::uint8_t n = c_.U8(what);
        return TTextCodec::Windows1252ToUtf8(c_.Take(n, what));
      }
      case vaLString: return TTextCodec::Windows1252ToUtf8(c_.Take(c_.ULE(4, what), what));
      case vaUTF8String: return TTextCodec::SanitizeUtf8(c_.Take(c_.ULE(4, what), what));
      case vaWString: return TTextCodec::Utf16LeToUtf8(c_.Take(c_.ULE(4, what) * 2, what));
      default: c_.Fail(std::string("text expected in ") + what);
    }
  }

  std::vector<std::string> TextList(const char* what) {
    if (c_.U8(what) != vaList) c_.Fail(std::string("list expected for ") + what);
    std::vector<std::string> items;
    for (;;) {
      const std::uint8_t t = c_.U8(what);
      if (t == vaNull) return items;
      if (items.size() >= TSIBFileManager::kMaxListItems) c_.Fail(std::string("too many items in ") + what);
      items.push_back(TextOfType(t, what));
    }
  }

  std::vector<std::uint8_t> Binary(const char* what) {
    if (c_.U8(what) != vaBinary) c_.Fail(std::string("binary data expected for ") + what);
    const auto s = c_.Take(c_.ULE(4, what), what);
    return {s.begin(), s.end()};
  }

 private:
  Cursor& c_;
};

}  // namespace

TSIBFileManager::TSIBFileManager(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {
  // The header is read up to its zero byte but never into the last two
  // bytes of the file, so a file must hold more than the header.
  if (bytes_.size() < kHeader.size() + 2 || std::memcmp(bytes_.data(), kHeader.data(), kHeader.size()) != 0)
    throw ESibFormatError("Unrecognized stream format!");
  Cursor c(bytes_, kHeader.size());
  const auto count = static_cast<std::size_t>(c.ULE(2, "the record count"));
  const auto fixedLen = c.ULE(2, "the fixed languages");
  fixedLanguages_ = TTextCodec::Windows1252ToUtf8(c.Take(fixedLen, "the fixed languages"));
  directory_.reserve(std::min<std::size_t>(count, c.Remaining() / 6));
  for (std::size_t i = 0; i < count; ++i) {
    TDirEntry e;
    const auto n = c.ULE(2, "the record directory");
    e.className = TTextCodec::Windows1252ToUtf8(c.Take(n, "the record directory"));
    e.offset = static_cast<std::int32_t>(c.SLE(4, "the record directory"));
    directory_.push_back(std::move(e));
  }
}

TSIBFileManager TSIBFileManager::FromFile(const std::filesystem::path& fileName) {
  // The file sits in the shared data folder: a link, FIFO or device put in
  // its place by another user is refused, never followed or waited on.
  const FileReadResult r = SafeFileReader::Read(fileName, kMaxFileSize);
  const std::string name = "\"" + TTextCodec::Utf8FromPath(fileName) + "\"";
  switch (r.status) {
    case FileReadStatus::Read: break;
    case FileReadStatus::TooLarge: throw ESibFormatError("Translation file " + name + " is too large");
    case FileReadStatus::Missing: throw ESibFormatError("Cannot open translation file " + name);
    default: throw ESibFormatError("Cannot read translation file " + name + ": " + r.Reason());
  }
  return TSIBFileManager(std::vector<std::uint8_t>(r.bytes.begin(), r.bytes.end()));
}

std::optional<TSIBFileManager::TRecord> TSIBFileManager::ReadRecord(std::string_view windowClassName) const {
  const auto it = std::find_if(directory_.begin(), directory_.end(),
                               [&](const TDirEntry& e) { return e.className == windowClassName; });
  if (it == directory_.end()) return std::nullopt;
  if (it->offset < 0 || static_cast<std::size_t>(it->offset) >= bytes_.size())
    throw ESibFormatError("Translation file damaged: record \"" + it->className + "\" lies outside the file");

  Cursor c(bytes_, static_cast<std::size_t>(it->offset));
  RecordParser p(c);
  TRecord r;
  r.windowClassName = it->className;
  const auto sig = c.Take(4, "the record signature");
  if (std::memcmp(sig.data(), "TPF0", 4) != 0) c.Fail("record signature \"TPF0\" expected");
  if ((c.Peek("the record flags") & 0xF0) == 0xF0) {
    const std::uint8_t flags = c.U8("the record flags");
    if ((flags & 0x02) != 0) p.Integer("the child position");
  }
  r.componentClassName = c.ShortString("the component class");
  r.componentName = c.ShortString("the component name");
  for (;;) {
    const std::string name = c.ShortString("a property name");
    if (name.empty()) break;
    if (TsiStringsCollection::SameText(name, "TranslationData"))
      r.translationData = p.Binary("TranslationData");
    else if (TsiStringsCollection::SameText(name, "LangNames.Strings"))
      r.langNames = p.TextList("LangNames.Strings");
    else if (TsiStringsCollection::SameText(name, "NumOfLanguages"))
      r.numOfLanguages = p.Integer("NumOfLanguages");
    else if (TsiStringsCollection::SameText(name, "LangDelim"))
      r.langDelim = p.Integer("LangDelim");
    else if (TsiStringsCollection::SameText(name, "StoreAsUTF8"))
      r.storeAsUTF8 = p.Boolean("StoreAsUTF8");
    else
      p.SkipValue(0);
  }
  // Child components (none expected) are of no use here and are not read.
  return r;
}

}  // namespace mq::i18n
