#include "i18n/si_custom_lang.h"

#include "i18n/lang_entry.h"
#include "i18n/lang_window.h"
#include "i18n/language_error.h"
#include "i18n/si_lang_dispatcher.h"
#include "i18n/sib_file_manager.h"
#include "i18n/sib_format_error.h"
#include "i18n/standard_dialog_captions.h"
#include "i18n/comma_text.h"
#include "i18n/text_codec.h"
#include "util/ascii_text.h"

#include <algorithm>
#include <mutex>
#include <set>

namespace mq::i18n {

namespace {

constexpr std::array<std::string_view, kSectionTypeCount> kSectionNames = {
    "stCaptions", "stHints",        "stDisplayLabels", "stFonts",       "stMultiLines", "stDlgsCaptions",
    "stStrings",  "stOtherStrings", "stLocales",       "stCollections", "stCharSets",   "stListView_TreeView_Items"};

// Windows that already carry a component; one component per window.
std::mutex& RegistryMutex() {
  static std::mutex m;
  return m;
}
std::set<const TLangWindow*>& Registry() {
  static std::set<const TLangWindow*> windows;
  return windows;
}

bool ContainsText(const std::vector<std::string>& list, std::string_view s) {
  return std::any_of(list.begin(), list.end(),
                     [&](const std::string& x) { return TsiStringsCollection::SameText(x, s); });
}

std::vector<std::string_view> SplitDots(std::string_view path) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t p = path.find('.', start);
    if (p == std::string_view::npos) {
      parts.push_back(path.substr(start));
      return parts;
    }
    parts.push_back(path.substr(start, p - start));
    start = p + 1;
  }
}

// "Comp.Prop.Sub" -> {"Comp", "Prop.Sub"}; no dot -> {name, ""}.
std::pair<std::string_view, std::string_view> SplitComponent(std::string_view name) {
  const std::size_t p = name.find('.');
  if (p == std::string_view::npos) return {name, {}};
  return {name.substr(0, p), name.substr(p + 1)};
}

std::string ExpandToFullPath(const std::string& text) {
  std::error_code ec;
  const auto full = std::filesystem::absolute(TTextCodec::PathFromUtf8(text), ec);
  if (ec) return text;
  return TTextCodec::Utf8FromPath(full.lexically_normal());
}

// Lines of a stored table: breaks at CR LF, lone CR or lone LF; a break at
// the very end adds no empty line.
std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    const char ch = text[i];
    if (ch == '\r' || ch == '\n') {
      lines.push_back(text.substr(start, i - start));
      i += (ch == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
      start = i;
    } else {
      ++i;
    }
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

// Section properties of the first five sections, for exclusion.
constexpr std::array<std::pair<int, std::string_view>, 5> kComponentSections = {{{stCaptions, "Caption"},
                                                                                 {stHints, "Hint"},
                                                                                 {stDisplayLabels, "DisplayLabel"},
                                                                                 {stFonts, "Font"},
                                                                                 {stCharSets, "CharSet"}}};

}  // namespace

TsiCustomLang::TsiCustomLang(TLangWindow* window) : window_(window) {
  if (window_ != nullptr) {
    std::lock_guard lock(RegistryMutex());
    if (!Registry().insert(window_).second)
      throw ELanguageError("Only one TsiCustomLang component per Form/DataModule allowed!");
  }
}

TsiCustomLang::~TsiCustomLang() {
  if (dispatcher_ != nullptr) dispatcher_->RemoveLangComponent(*this);
  if (window_ != nullptr) {
    std::lock_guard lock(RegistryMutex());
    Registry().erase(window_);
  }
}

std::string TsiCustomLang::WindowClassName() const { return window_ != nullptr ? window_->ClassName() : std::string{}; }

std::string_view TsiCustomLang::SectionName(int type) {
  if (type < 0 || type >= kSectionTypeCount) return {};
  return kSectionNames[static_cast<std::size_t>(type)];
}

void TsiCustomLang::ApplyProgramSettings() {
  SetLangNames(TsiLangDispatcher::ProgramLangNames());
  SetActiveLanguage(1);
  DefaultLanguage = 1;
  UseDefaultLanguage = true;
  TranslateType = TTranslateType::ttNoChange;
  SetLangDelim(1);
  StoreAsUTF8 = true;
  ExcludedProperties = DefaultExcludedProperties();
}

std::vector<std::string> TsiCustomLang::DefaultExcludedProperties() {
  return {"Category",
          "SecondaryShortCuts",
          "HelpKeyword",
          "InitialDir",
          "HelpKeyword",
          "ActivePage",
          "ImeName",
          "DefaultExt",
          "FileName",
          "FieldName",
          "PickList",
          "DisplayFormat",
          "EditMask",
          "KeyList",
          "LookupDisplayFields",
          "DropDownSpecRow",
          "TableName",
          "DatabaseName",
          "IndexName",
          "MasterFields",
          "Font",
          "Version"};
}

// ---- settings -------------------------------------------------------------

void TsiCustomLang::SetNumOfLanguages(int n) {
  if (n < 1) throw ELanguageError::BadNumberOfLanguages(n);
  if (n < numOfLanguages_) {
    for (auto& section : sections_)
      for (auto& e : section) e = TLangEntry::KeepColumns(e, delim_, n);
  }
  numOfLanguages_ = n;
  while (static_cast<int>(langNames_.size()) < n)
    langNames_.push_back("Language N" + std::to_string(langNames_.size() + 1));
  langNames_.resize(static_cast<std::size_t>(n));
  if (activeLanguage_ >= 1 && activeLanguage_ <= n)
    language_ = langNames_[static_cast<std::size_t>(activeLanguage_) - 1];
  RebuildStringIndex();
}

void TsiCustomLang::SetLangNames(const std::vector<std::string>& names) {
  if (names.empty()) throw ELanguageError::BadNumberOfLanguages(0);
  langNames_ = names;
  SetNumOfLanguages(static_cast<int>(names.size()));
}

void TsiCustomLang::SetLanguage(std::string_view name) {
  for (std::size_t i = 0; i < langNames_.size(); ++i) {
    if (TsiStringsCollection::SameText(langNames_[i], name)) {
      SetActiveLanguage(static_cast<int>(i) + 1);
      return;
    }
  }
  throw ELanguageError::UnknownLanguageName();
}

void TsiCustomLang::SetActiveLanguage(int v) {
  if (v == activeLanguage_) return;
  if (v < 1 || v > numOfLanguages_) throw ELanguageError::LanguageOutOfRange(WindowClassName(), v, numOfLanguages_);
  SetActiveLanguageQuietly(v);
  ChangeLanguage();
}

void TsiCustomLang::SetActiveLanguageQuietly(int v) {
  activeLanguage_ = v;
  if (v >= 1 && static_cast<std::size_t>(v) <= langNames_.size())
    language_ = langNames_[static_cast<std::size_t>(v) - 1];
}

void TsiCustomLang::SetLangDelim(int charCode) {
  if (!TLangEntry::IsValidDelimiter(charCode))
    throw ELanguageError(std::to_string(charCode) + " - is not a valid property value!");
  const std::string next = TLangEntry::DelimiterText(charCode);
  for (auto& section : sections_)
    for (auto& e : section) e = TLangEntry::ReplaceDelimiter(e, delim_, next);
  langDelim_ = charCode;
  delim_ = next;
  RebuildStringIndex();
}

// ---- table ----------------------------------------------------------------

std::vector<std::string>* TsiCustomLang::GetPropListByType(int type) {
  if (type < 0 || type >= stListView_TreeView_Items) return nullptr;
  return &sections_[static_cast<std::size_t>(type)];
}

const std::vector<std::string>* TsiCustomLang::GetPropListByType(int type) const {
  return const_cast<TsiCustomLang*>(this)->GetPropListByType(type);
}

TsiCustomLang::TSections TsiCustomLang::ReadStoredTable(std::span<const std::uint8_t> bytes, std::string_view delim,
                                                        bool storeAsUTF8) const {
  TSections out;
  if (bytes.size() < 2) return out;
  std::string text;
  if (bytes[1] == 0)
    text = TTextCodec::Utf16LeToUtf8(bytes);
  else if (storeAsUTF8)
    text = TTextCodec::SanitizeUtf8(bytes);
  else
    text = TTextCodec::Windows1252ToUtf8(bytes);

  const std::string classPrefix = WindowClassName().empty() ? std::string{} : WindowClassName() + std::string(delim);
  // Class-name entries go to the front, the latest first; they are
  // collected apart so a long table is not shifted for each of them.
  TSections fronts;
  std::vector<std::string>* current = nullptr;
  std::vector<std::string>* currentFront = nullptr;
  bool inSection = false;  // lines before the first header are ignored
  for (auto& line : SplitLines(text)) {
    int header = -1;
    for (int t = 0; t < kSectionTypeCount && header < 0; ++t) {
      const std::string_view name = kSectionNames[static_cast<std::size_t>(t)];
      if (TsiStringsCollection::SameText(line, name) ||
          (line.size() == name.size() + 8 &&
           TsiStringsCollection::SameText(std::string_view(line).substr(0, name.size()), name) &&
           TsiStringsCollection::SameText(std::string_view(line).substr(name.size()), "_Unicode")))
        header = t;
    }
    if (header >= 0) {
      inSection = true;
      current = KeepsSection(header) ? &out[static_cast<std::size_t>(header)] : nullptr;
      currentFront = &fronts[static_cast<std::size_t>(header)];
      if (current != nullptr) {
        current->clear();
        currentFront->clear();
      }
      continue;
    }
    if (!inSection || current == nullptr) continue;
    std::replace(line.begin(), line.end(), '\x19', '\r');
    std::replace(line.begin(), line.end(), '\x1A', '\n');
    if (!classPrefix.empty() && line.starts_with(classPrefix))
      currentFront->push_back(std::move(line));
    else
      current->push_back(std::move(line));
  }
  for (std::size_t t = 0; t < out.size(); ++t) {
    if (fronts[t].empty()) continue;
    std::reverse(fronts[t].begin(), fronts[t].end());
    out[t].insert(out[t].begin(), std::make_move_iterator(fronts[t].begin()), std::make_move_iterator(fronts[t].end()));
  }
  return out;
}

void TsiCustomLang::LoadTranslationData(std::span<const std::uint8_t> bytes) {
  sections_ = ReadStoredTable(bytes, delim_, StoreAsUTF8);
  RebuildStringIndex();
}

void TsiCustomLang::MoveClassEntriesToFront(TSections& sections) const {
  const std::string cls = WindowClassName();
  if (cls.empty()) return;
  for (const int t : {stCaptions, stHints, stFonts, stCharSets}) {
    auto& list = sections[static_cast<std::size_t>(t)];
    const auto it = std::find_if(list.begin(), list.end(), [&](const std::string& e) {
      return TLangEntry::Name(e, delim_) == cls && e.size() > cls.size();
    });
    if (it != list.end()) std::rotate(list.begin(), it, it + 1);
  }
}

bool TsiCustomLang::IsExcluded(std::string_view component, std::string_view path) const {
  const auto parts = SplitDots(path);
  for (const auto part : parts)
    if (ContainsText(ExcludedProperties, part)) return true;
  const std::string_view property = parts.front();
  if (TsiStringsCollection::SameText(property, "Name")) return true;
  const std::string compProp = std::string(component) + "." + std::string(property);
  if (ContainsText(SmartExcludeProps, compProp) ||
      ContainsText(SmartExcludeProps, std::string(component) + "." + std::string(path)))
    return true;
  std::string componentClass;
  if (window_ != nullptr) {
    if (TsiStringsCollection::SameText(component, window_->ClassName()) ||
        TsiStringsCollection::SameText(component, window_->Name()))
      componentClass = window_->ClassName();
    else
      componentClass = window_->ComponentClassName(component);
  }
  return !componentClass.empty() && ContainsText(SmartExcludeProps, "!" + componentClass + "." + std::string(property));
}

void TsiCustomLang::Prepare() {
  if (NeedAllDlgs) {
    if (auto* dlgs = GetPropListByType(stDlgsCaptions);
        dlgs != nullptr && dlgs->size() < TStandardDialogCaptions::kCount) {
      std::set<std::string> present;  // ids in ASCII lower case
      for (const auto& e : *dlgs) present.insert(AsciiText::ToLower(TLangEntry::Name(e, delim_)));
      for (const auto& c : TStandardDialogCaptions::All())
        if (present.count(AsciiText::ToLower(c.id)) == 0)
          dlgs->push_back(TLangEntry::Make(c.id, {std::string(c.english)}, delim_));
    }
  }

  // Whole sections whose property is excluded.
  auto clearIf = [&](std::string_view prop, std::initializer_list<int> types) {
    if (!ContainsText(ExcludedProperties, prop)) return;
    for (const int t : types)
      if (auto* list = GetPropListByType(t)) list->clear();
  };
  clearIf("Caption", {stCaptions});
  clearIf("Hint", {stHints});
  clearIf("DisplayLabel", {stDisplayLabels});
  clearIf("Font", {stFonts, stCharSets});
  clearIf("Charset", {stCharSets});

  for (const auto& section : kComponentSections) {
    const std::string_view prop = section.second;
    if (auto* list = GetPropListByType(section.first)) {
      std::erase_if(*list, [&](const std::string& e) { return IsExcluded(TLangEntry::Name(e, delim_), prop); });
    }
  }
  for (const int type : {stMultiLines, stOtherStrings, stCollections}) {
    if (auto* list = GetPropListByType(type)) {
      std::erase_if(*list, [&](const std::string& e) {
        const auto [component, path] = SplitComponent(TLangEntry::Name(e, delim_));
        return !path.empty() && IsExcluded(component, path);
      });
    }
  }
  RebuildStringIndex();
}

void TsiCustomLang::Loaded(TsiLangDispatcher* dispatcher) {
  Prepare();
  if (dispatcher != nullptr && dispatcher_ == nullptr) SetLangDispatcher(dispatcher);
}

void TsiCustomLang::RebuildStringIndex() {
  if (const auto* strings = GetPropListByType(stStrings))
    strings_.Build(*strings, delim_, numOfLanguages_);
  else
    strings_.Clear();
}

// ---- lookups --------------------------------------------------------------

std::string TsiCustomLang::EntryText(std::string_view entry) const {
  // Field 0 is the entry's name, never a text.
  auto field = [&](int k) { return k >= 1 ? std::string(TLangEntry::Field(entry, delim_, k)) : std::string(); };
  std::string text = field(activeLanguage_);
  if (text.empty() && UseDefaultLanguage && activeLanguage_ != DefaultLanguage) text = field(DefaultLanguage);
  if (text.empty() && TranslateType == TTranslateType::ttGetDefault) text = TLangEntry::Field(entry, delim_, 1);
  return text;
}

std::string TsiCustomLang::LookupString(std::string_view id, int language) const {
  std::string text = strings_.Text(id, language);
  if (text.empty() && TranslateType == TTranslateType::ttGetDefault) text = strings_.Text(id, 1);
  return text;
}

std::string TsiCustomLang::GetTextOrDefault(std::string_view id) const {
  if (RaiseOnUnknownString && strings_.Find(id) == nullptr) throw ELanguageError::StringNotFound(std::string(id));
  std::string text = LookupString(id, activeLanguage_);
  if (text.empty()) {
    if (UseDefaultLanguage) text = LookupString(id, DefaultLanguage);
    if (text.empty()) text = strings_.Text(id, 1);
  }
  return text;
}

std::string TsiCustomLang::GetDlgCaption(std::string_view id) const {
  const auto* dlgs = GetPropListByType(stDlgsCaptions);
  if (dlgs == nullptr) return {};
  for (const auto& e : *dlgs)
    if (TsiStringsCollection::SameText(TLangEntry::Name(e, delim_), id))
      return activeLanguage_ >= 1 ? std::string(TLangEntry::Field(e, delim_, activeLanguage_)) : std::string();
  return {};
}

// ---- switching ------------------------------------------------------------

bool TsiCustomLang::IsDoNotTranslate(std::string_view component) const {
  return ContainsText(DoNotTranslate, component);
}

bool TsiCustomLang::ResolveComponent(std::string_view name, std::string& resolved) const {
  if (window_ == nullptr || name.empty()) return false;
  if (TsiStringsCollection::SameText(name, window_->ClassName()) ||
      TsiStringsCollection::SameText(name, window_->Name())) {
    resolved.clear();
    return true;
  }
  if (!window_->HasComponent(name)) return false;
  resolved.assign(name);
  return true;
}

void TsiCustomLang::ApplyText(std::string_view component, std::string_view property, const std::string& text,
                              bool comparePath) {
  if (text.empty()) return;  // a missing translation never blanks a control
  const auto current = window_->GetText(component, property);
  if (!current) return;
  const bool pathLike = comparePath && (text.find("..") != std::string::npos || text.find(".\\") != std::string::npos);
  const std::string compared = pathLike ? ExpandToFullPath(text) : text;
  if (compared != *current) window_->SetText(component, property, text);
}

void TsiCustomLang::ChangeLanguage() {
  if (window_ == nullptr) return;
  const std::string cls = window_->ClassName();

  // The window's own caption and hint: the first entry, when named by the class.
  for (const auto& [type, prop] :
       {std::pair<int, std::string_view>{stCaptions, "Caption"}, std::pair<int, std::string_view>{stHints, "Hint"}}) {
    const auto* list = GetPropListByType(type);
    if (list == nullptr || list->empty()) continue;
    const std::string& first = list->front();
    if (TLangEntry::Name(first, delim_) == cls && !ContainsText(SmartExcludeProps, cls + "." + std::string(prop)) &&
        !IsDoNotTranslate(cls))
      ApplyText("", prop, EntryText(first), false);
  }

  std::string target;
  for (const auto& [type, prop] :
       {std::pair<int, std::string_view>{stCaptions, "Caption"}, std::pair<int, std::string_view>{stHints, "Hint"},
        std::pair<int, std::string_view>{stDisplayLabels, "DisplayLabel"}}) {
    const auto* list = GetPropListByType(type);
    if (list == nullptr) continue;
    for (const auto& e : *list) {
      const auto name = TLangEntry::Name(e, delim_);
      if (IsDoNotTranslate(name) || !ResolveComponent(name, target)) continue;
      if (target.empty() && ContainsText(SmartExcludeProps, cls + "." + std::string(prop))) continue;
      ApplyText(target, prop, EntryText(e), type == stDisplayLabels);
    }
  }

  // Fonts and character sets are excluded in this program and never applied.

  if (const auto* list = GetPropListByType(stMultiLines)) {
    for (const auto& e : *list) {
      const auto [component, path] = SplitComponent(TLangEntry::Name(e, delim_));
      if (path.empty() || IsDoNotTranslate(component) || !ResolveComponent(component, target)) continue;
      const std::string text = EntryText(e);
      if (text.empty()) continue;
      const auto current = window_->GetList(target, path);
      if (!current || TCommaText::Join(*current) == text) continue;
      window_->SetList(target, path, TCommaText::Split(text));
    }
  }

  // Other strings, then collection items ("Coll[i].Prop" as the property
  // path); locales would need ChangeLocales, which this program never sets.
  for (const int type : {stOtherStrings, stCollections}) {
    const auto* list = GetPropListByType(type);
    if (list == nullptr) continue;
    for (const auto& e : *list) {
      const auto [component, path] = SplitComponent(TLangEntry::Name(e, delim_));
      if (path.empty() || IsDoNotTranslate(component) || !ResolveComponent(component, target)) continue;
      ApplyText(target, path, EntryText(e), type == stOtherStrings);
    }
  }

  if (OnChangeLanguage) OnChangeLanguage();
}

// ---- translation file -----------------------------------------------------

void TsiCustomLang::LoadAllFromBinaryFile(const std::filesystem::path& fileName) {
  ApplyRecordFrom(TSIBFileManager::FromFile(fileName));
}

void TsiCustomLang::LoadFromBinaryData(std::span<const std::uint8_t> fileBytes) {
  ApplyRecordFrom(TSIBFileManager({fileBytes.begin(), fileBytes.end()}));
}

void TsiCustomLang::ApplyRecordFrom(const TSIBFileManager& file) {
  const auto record = file.ReadRecord(WindowClassName());
  if (!record) {
    // No record for this window: it keeps its tables, but still shows
    // the active language (it may have been set without a switch).
    RebuildStringIndex();
    ChangeLanguage();
    return;
  }

  // Everything is read and checked before anything is replaced, so a bad
  // record leaves this component as it was.
  constexpr std::int64_t kMaxLanguages = 255;
  const std::int64_t recDelim = record->langDelim.value_or(1);
  if (recDelim < 1 || recDelim > 0x10FFFF || !TLangEntry::IsValidDelimiter(static_cast<int>(recDelim)))
    throw ESibFormatError("Translation file damaged: record \"" + record->windowClassName +
                          "\" has an invalid LangDelim " + std::to_string(recDelim));
  std::vector<std::string> names;
  if (record->langNames) {
    names = *record->langNames;
  } else {
    const std::int64_t n = record->numOfLanguages.value_or(1);
    if (n >= 1 && n <= kMaxLanguages)
      for (std::int64_t k = 1; k <= n; ++k) names.push_back("Language N" + std::to_string(k));
  }
  if (names.empty() || static_cast<std::int64_t>(names.size()) > kMaxLanguages)
    throw ESibFormatError("Translation file damaged: record \"" + record->windowClassName +
                          "\" has an invalid number of languages");

  const bool storeAsUTF8 = record->storeAsUTF8.value_or(false);
  const std::string recDelimText = TLangEntry::DelimiterText(static_cast<int>(recDelim));
  const std::vector<std::uint8_t> empty;
  TSections sections = ReadStoredTable(record->translationData ? *record->translationData : empty, recDelimText,
                                       storeAsUTF8);
  if (recDelimText != delim_)
    for (auto& section : sections)
      for (auto& e : section) e = TLangEntry::ReplaceDelimiter(e, recDelimText, delim_);
  MoveClassEntriesToFront(sections);

  StoreAsUTF8 = storeAsUTF8;
  for (int t = 0; t < kSectionTypeCount; ++t)
    if (auto* list = GetPropListByType(t)) *list = std::move(sections[static_cast<std::size_t>(t)]);
  langNames_ = names;
  SetNumOfLanguages(static_cast<int>(names.size()));
  // Excluded entries of the file must not reach the controls either.
  Prepare();
  ChangeLanguage();
}

// ---- dispatcher -----------------------------------------------------------

void TsiCustomLang::SetLangDispatcher(TsiLangDispatcher* dispatcher) {
  if (dispatcher == dispatcher_) return;
  if (dispatcher_ != nullptr) dispatcher_->RemoveLangComponent(*this);
  if (dispatcher != nullptr) dispatcher->AddLangComponent(*this);
}

}  // namespace mq::i18n
