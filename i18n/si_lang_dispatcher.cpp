#include "i18n/si_lang_dispatcher.h"

#include "i18n/language_error.h"
#include "i18n/si_custom_lang.h"
#include "i18n/si_strings_collection.h"
#include "i18n/sib_format_error.h"
#include "i18n/text_codec.h"

#include <algorithm>

namespace mq::i18n {

TsiLangDispatcher::TsiLangDispatcher() { ApplyProgramSettings(); }

TsiLangDispatcher::~TsiLangDispatcher() {
  for (auto* c : components_) c->dispatcher_ = nullptr;
}

std::vector<std::string> TsiLangDispatcher::ProgramLangNames() {
  return {"English", "Dutch", "French", "German", "Spanish", "Italian", "Croatian", "Turkish", "Danish", "Swedish"};
}

void TsiLangDispatcher::ApplyProgramSettings() {
  SetLangNames(ProgramLangNames());
  UseDefaultLanguage = true;
  DefaultLanguage = 1;
}

void TsiLangDispatcher::SetLangNames(const std::vector<std::string>& names) {
  if (names.empty()) throw ELanguageError::BadNumberOfLanguages(0);
  langNames_ = names;
  if (activeLanguage_ >= 1 && static_cast<std::size_t>(activeLanguage_) <= langNames_.size())
    language_ = langNames_[static_cast<std::size_t>(activeLanguage_) - 1];
}

void TsiLangDispatcher::SetActiveLanguage(int v) {
  if (v == activeLanguage_) return;
  // Check every component first so that a rejected number leaves every
  // window, and the dispatcher, as they were.
  for (auto* c : components_)
    if (v < 1 || v > c->NumOfLanguages())
      throw ELanguageError::LanguageOutOfRange(c->WindowClassName(), v, c->NumOfLanguages());
  if (components_.empty() && (v < 1 || v > NumOfLanguages()))
    throw ELanguageError::LanguageOutOfRange("", v, NumOfLanguages());
  if (OnLanguageChanging && !OnLanguageChanging(v)) return;
  activeLanguage_ = v;
  const auto linked = components_;  // a handler may unlink a component
  for (auto* c : linked) c->SetActiveLanguage(v);
  if (static_cast<std::size_t>(v) <= langNames_.size()) language_ = langNames_[static_cast<std::size_t>(v) - 1];
  if (OnLanguageChanged) OnLanguageChanged();
}

void TsiLangDispatcher::AddLangComponent(TsiCustomLang& component) {
  if (std::find(components_.begin(), components_.end(), &component) != components_.end()) return;
  if (component.dispatcher_ != nullptr) component.dispatcher_->RemoveLangComponent(component);
  components_.push_back(&component);
  component.dispatcher_ = this;
  component.SetLangNames(langNames_);

  std::error_code ec;
  const bool fileExists = !FileName.empty() && std::filesystem::is_regular_file(FileName, ec);
  if (fileExists) {
    component.SetActiveLanguageQuietly(activeLanguage_);
    component.LoadAllFromBinaryFile(FileName);
    SetLangNames(component.LangNames());
  } else {
    component.SetActiveLanguage(activeLanguage_);
  }
}

void TsiLangDispatcher::RemoveLangComponent(TsiCustomLang& component) {
  const auto it = std::find(components_.begin(), components_.end(), &component);
  if (it == components_.end()) return;
  components_.erase(it);
  component.dispatcher_ = nullptr;
}

void TsiLangDispatcher::LoadAllFromFile(const std::filesystem::path& fileName) {
  if (!TsiStringsCollection::SameText(TTextCodec::Utf8FromPath(fileName.extension()), ".sib"))
    throw ESibFormatError("Unsupported translation file \"" + TTextCodec::Utf8FromPath(fileName) +
                          "\": only .sib files can be read");
  const auto linked = components_;
  for (auto* c : linked) c->LoadAllFromBinaryFile(fileName);
  if (linked.empty()) return;
  SetLangNames(linked.front()->LangNames());
  for (auto* c : linked) {
    c->SetLangNames(langNames_);
    c->Prepare();
  }
}

}  // namespace mq::i18n
