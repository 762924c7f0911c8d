// TsiCustomLang: the translation component of one window. It holds the
// window's translation table (the sections below, each a list of entries in
// the line format of TLangEntry), the string index for message lookups and
// the settings that decide what is translated, and it re-applies the active
// language to the window's controls through TLangWindow.
//
// Life cycle as a window uses it:
//   1. construct with the window (at most one component per window);
//   2. set the settings (or call the program's preset on the subclass);
//   3. LoadTranslationData(stored table bytes);
//   4. Loaded(&dispatcher): prepares the table and links to the dispatcher.
// Messages are then fetched with GetTextOrDefault(id) when they are shown.
//
// The subclasses differ only in the sections they keep (GetPropListByType).
// Threading: UI thread only. The one-per-window registry is the only shared
// state and is guarded.
#pragma once

#include "i18n/si_strings_collection.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace mq::i18n {

class TLangWindow;
class TsiLangDispatcher;
class TSIBFileManager;

// Section types; the number is also the stored order.
enum TStringsType : int {
  stCaptions = 0,
  stHints = 1,
  stDisplayLabels = 2,
  stFonts = 3,
  stMultiLines = 4,
  stDlgsCaptions = 5,
  stStrings = 6,
  stOtherStrings = 7,
  stLocales = 8,
  stCollections = 9,
  stCharSets = 10,
  stListView_TreeView_Items = 11,
};
inline constexpr int kSectionTypeCount = 12;

enum class TTranslateType { ttNoChange, ttGetDefault };

class TsiCustomLang {
 public:
  using TSections = std::array<std::vector<std::string>, kSectionTypeCount>;

  // `window` may be null (a component without a window). Throws
  // ELanguageError when the window already has a component.
  explicit TsiCustomLang(TLangWindow* window);
  virtual ~TsiCustomLang();
  TsiCustomLang(const TsiCustomLang&) = delete;
  TsiCustomLang& operator=(const TsiCustomLang&) = delete;

  TLangWindow* Window() const { return window_; }
  std::string WindowClassName() const;

  // Section names as stored ("stCaptions" ...); empty for a bad type.
  static std::string_view SectionName(int type);

  // ---- settings -------------------------------------------------------
  int NumOfLanguages() const { return numOfLanguages_; }
  // Below 1 fails with ELanguageError. Shrinking drops the surplus columns
  // of every entry; the names are padded with "Language N<k>" or cut.
  void SetNumOfLanguages(int n);
  const std::vector<std::string>& LangNames() const { return langNames_; }
  // Sets the names and, with them, the number of languages (at least one
  // name is required).
  void SetLangNames(const std::vector<std::string>& names);
  const std::string& Language() const { return language_; }
  // Switches to the language of that name (any case); unknown names fail
  // with "Language name shall be included in LangNames property!".
  void SetLanguage(std::string_view name);
  int ActiveLanguage() const { return activeLanguage_; }
  // Switches this window: nothing on an unchanged value; outside
  // 1..NumOfLanguages fails with ELanguageError and changes nothing.
  void SetActiveLanguage(int v);
  int LangDelim() const { return langDelim_; }
  const std::string& LangDelimText() const { return delim_; }
  // Existing entries are converted to the new delimiter, so nothing is lost.
  void SetLangDelim(int charCode);

  int DefaultLanguage = 1;
  bool UseDefaultLanguage = false;
  TTranslateType TranslateType = TTranslateType::ttNoChange;
  bool StoreAsUTF8 = false;
  bool NeedAllDlgs = false;
  bool ChangeLocales = false;  // locale entries are never applied by this program
  bool RaiseOnUnknownString = false;
  // Raised at the end of every ChangeLanguage (e.g. to re-lay out a window).
  std::function<void()> OnChangeLanguage;
  std::vector<std::string> DoNotTranslate;
  std::vector<std::string> SmartExcludeProps;
  std::vector<std::string> ExcludedProperties = DefaultExcludedProperties();

  static std::vector<std::string> DefaultExcludedProperties();

  // ---- table ----------------------------------------------------------
  // The section list of a type, or null for a section this class does not keep.
  virtual std::vector<std::string>* GetPropListByType(int type);
  const std::vector<std::string>* GetPropListByType(int type) const;
  bool KeepsSection(int type) const { return GetPropListByType(type) != nullptr; }

  // Replaces the whole table by a stored table (UTF-16LE, UTF-8 or
  // Windows-1252 text). Never fails: unreadable text becomes U+FFFD.
  void LoadTranslationData(std::span<const std::uint8_t> bytes);
  // Reads a stored table into sections the way LoadTranslationData does,
  // with the given delimiter and encoding flag, without touching `this`.
  TSections ReadStoredTable(std::span<const std::uint8_t> bytes, std::string_view delim, bool storeAsUTF8) const;

  // Completes the dialog captions (NeedAllDlgs), removes excluded entries
  // and rebuilds the string index.
  void Prepare();
  // Prepare, then link to `dispatcher` (when not null and not yet linked).
  void Loaded(TsiLangDispatcher* dispatcher);
  void RebuildStringIndex();
  const TsiStringsCollection& StringIndex() const { return strings_; }

  // ---- lookups --------------------------------------------------------
  // Message of a string id in the active language, English when that is
  // empty, empty for an unknown id.
  std::string GetTextOrDefault(std::string_view id) const;
  // Dialog caption for a control text without ampersands, active language
  // only, no fallback; empty when unknown.
  std::string GetDlgCaption(std::string_view id) const;
  // Text of an entry for the active language with the fallbacks.
  std::string EntryText(std::string_view entry) const;

  // Re-applies the active language to the window's controls.
  virtual void ChangeLanguage();

  // ---- translation file -----------------------------------------------
  // Reads this window's record from a translation file, then re-applies
  // the active language. Throws ESibFormatError on an unreadable or
  // damaged file (the component is then unchanged); without a record for
  // this window the component keeps its tables. Excluded entries of the
  // record are dropped before anything is applied.
  void LoadAllFromBinaryFile(const std::filesystem::path& fileName);
  void LoadFromBinaryData(std::span<const std::uint8_t> fileBytes);

  // ---- dispatcher -----------------------------------------------------
  TsiLangDispatcher* LangDispatcher() const { return dispatcher_; }
  void SetLangDispatcher(TsiLangDispatcher* dispatcher);

 protected:
  // The values both of this program's components share: the program's ten
  // language names, English active and the default, stored tables in UTF-8
  // with character 1 as the delimiter, no translation of a changed text
  // type, the default excluded properties.
  void ApplyProgramSettings();

  TSections sections_;

 private:
  friend class TsiLangDispatcher;

  void SetActiveLanguageQuietly(int v);
  void ApplyRecordFrom(const TSIBFileManager& file);
  void MoveClassEntriesToFront(TSections& sections) const;
  bool IsExcluded(std::string_view component, std::string_view path) const;
  void ApplyText(std::string_view component, std::string_view property, const std::string& text, bool comparePath);
  bool IsDoNotTranslate(std::string_view component) const;
  // Resolves an entry's component name into `resolved`: "" for the window
  // itself, the name for a child. False (and `resolved` untouched) when the
  // name is empty or the window has no such component.
  bool ResolveComponent(std::string_view name, std::string& resolved) const;
  std::string LookupString(std::string_view id, int language) const;

  TLangWindow* window_;
  TsiLangDispatcher* dispatcher_ = nullptr;
  int numOfLanguages_ = 1;
  std::vector<std::string> langNames_{"Language N1"};
  std::string language_ = "Language N1";
  int activeLanguage_ = 1;
  int langDelim_ = 1;
  std::string delim_ = std::string(1, '\x01');
  TsiStringsCollection strings_;
};

}  // namespace mq::i18n
