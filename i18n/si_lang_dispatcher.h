// TsiLangDispatcher: holds the program's active language and makes every
// linked translation component follow it, in the order they linked (the
// main window first). It also loads the translation file for all linked
// components and hands its file name to components that link later, so
// each window reads its own record when it links.
// Switching is all-or-nothing: a language number that any linked component
// rejects raises that component's ELanguageError before any window or the
// dispatcher itself changes.
// Threading: UI thread only.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace mq::i18n {

class TsiCustomLang;

class TsiLangDispatcher {
 public:
  // Starts with this program's values: ten languages, English active.
  TsiLangDispatcher();
  ~TsiLangDispatcher();
  TsiLangDispatcher(const TsiLangDispatcher&) = delete;
  TsiLangDispatcher& operator=(const TsiLangDispatcher&) = delete;

  // The ten column names of this program, English first.
  static std::vector<std::string> ProgramLangNames();
  // NumOfLanguages 10, the ten names, UseDefaultLanguage, DefaultLanguage 1.
  void ApplyProgramSettings();

  int ActiveLanguage() const { return activeLanguage_; }
  // Nothing on an unchanged value; otherwise every linked component
  // switches in link order. Throws ELanguageError (nothing changed) when a
  // component rejects the number, or when no component is linked and the
  // number lies outside 1..NumOfLanguages.
  void SetActiveLanguage(int v);

  int NumOfLanguages() const { return static_cast<int>(langNames_.size()); }
  const std::vector<std::string>& LangNames() const { return langNames_; }
  // Sets the names and with them the number of languages (at least one).
  void SetLangNames(const std::vector<std::string>& names);
  // Name of the active language ("English").
  const std::string& Language() const { return language_; }

  bool UseDefaultLanguage = true;
  int DefaultLanguage = 1;
  // Translation file; a component that links while it names an existing
  // file reads its window's record from it.
  std::filesystem::path FileName;

  // Optional notifications; OnLanguageChanging may return false to veto.
  std::function<bool(int newLanguage)> OnLanguageChanging;
  std::function<void()> OnLanguageChanged;

  // Loads every linked component from a ".sib" file (any case). Throws
  // ESibFormatError for another extension, an unreadable or damaged file;
  // components loaded before the failure keep what they loaded.
  void LoadAllFromFile(const std::filesystem::path& fileName);

  // Linking; AddLangComponent does nothing for a component already linked.
  void AddLangComponent(TsiCustomLang& component);
  void RemoveLangComponent(TsiCustomLang& component);
  const std::vector<TsiCustomLang*>& LinkedComponents() const { return components_; }

 private:
  int activeLanguage_ = 1;
  std::vector<std::string> langNames_;
  std::string language_;
  std::vector<TsiCustomLang*> components_;
};

}  // namespace mq::i18n
