#include "i18n/language_startup.h"

#include "i18n/language_error.h"
#include "i18n/si_custom_lang.h"
#include "i18n/si_lang_dispatcher.h"
#include "i18n/text_codec.h"
#include "util/utf16_convert.h"

namespace mq::i18n {

std::filesystem::path TLanguageStartup::TranslationFilePath(std::string_view dataFolder) {
  return TTextCodec::PathFromUtf8(std::string(dataFolder) + std::string(kTranslationFileName));
}

bool TLanguageStartup::LoadTranslationFile(TsiLangDispatcher& dispatcher, std::string_view dataFolder) {
  dispatcher.FileName = TranslationFilePath(dataFolder);
  // Only a missing file means "no translation file". Anything else in its
  // place (a link, a FIFO, a folder) is read, and refused, by the reader,
  // so that the user learns why the translations are not in use.
  std::error_code ec;
  if (std::filesystem::symlink_status(dispatcher.FileName, ec).type() == std::filesystem::file_type::not_found)
    return false;
  dispatcher.LoadAllFromFile(dispatcher.FileName);
  return true;
}

std::array<std::optional<bool>, TLanguageStartup::kLanguageItems> TLanguageStartup::LanguageItemsEnabled(
    std::string_view languages) {
  std::array<std::optional<bool>, kLanguageItems> out{};
  for (std::size_t i = 0; i < out.size() && i < languages.size(); ++i) out[i] = languages[i] == '1';
  return out;
}

int TLanguageStartup::FlagImageIndex(int language) {
  return (language >= 1 && language <= kLanguageItems) ? language + 13 : 13;
}

TLanguageStartup::TActivation TLanguageStartup::ActivateLanguage(TsiLangDispatcher& dispatcher, int language) {
  TActivation result;
  try {
    dispatcher.SetActiveLanguage(language);
    result.flagImage = FlagImageIndex(language);
  } catch (const ELanguageError& e) {
    result.ok = false;
    result.error = e.what();
    result.flagImage = FlagImageIndex(dispatcher.ActiveLanguage());
  }
  return result;
}

TLanguageStartup::TYourLanguageTexts TLanguageStartup::YourLanguageTexts(const TsiCustomLang& lang) {
  TYourLanguageTexts t;
  t.caption = lang.GetTextOrDefault("IDS_5");
  t.instruction = lang.GetTextOrDefault("IDS_8");
  t.content = YourLanguageFallbackMessage(lang);
  t.expandedText = lang.GetTextOrDefault("IDS_6") + lang.GetTextOrDefault("IDS_7");
  return t;
}

std::string TLanguageStartup::YourLanguageFallbackMessage(const TsiCustomLang& lang) {
  return lang.GetTextOrDefault("IDS_1") + std::string(kLineBreak) + lang.GetTextOrDefault("IDS_2");
}

std::vector<std::optional<std::string>> TLanguageStartup::RelabelDialogTexts(
    const TsiCustomLang& lang, const std::vector<std::string>& childTexts) {
  std::vector<std::optional<std::string>> out;
  out.reserve(childTexts.size());
  for (const auto& text : childTexts) {
    // At most 255 characters, cut at a character boundary.
    std::size_t pos = 0;
    for (int chars = 0; chars < 255 && pos < text.size(); ++chars) Utf16Convert::NextCodePoint(text, pos);
    const std::string shown = text.substr(0, pos);
    std::string id;
    for (const char c : shown)
      if (c != '&') id += c;
    if (id.empty()) {
      out.emplace_back();
      continue;
    }
    std::string translation = lang.GetDlgCaption(id);
    if (translation.empty() || translation == text)
      out.emplace_back();
    else
      out.emplace_back(std::move(translation));
  }
  return out;
}

}  // namespace mq::i18n
