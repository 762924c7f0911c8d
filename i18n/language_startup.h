// TLanguageStartup: the language steps of the main window's creation and of
// the "Your language" command, as logic the window calls; the window only
// moves the results into its widgets.
//   1. LoadTranslationFile: FileName = data folder + "MqTool.sib"; the file
//      is loaded when it exists (nothing is reported when it does not).
//   2. LanguageItemsEnabled: the enabling of the ten language items from the
//      "Languages" text.
//   3. ActivateLanguage: the saved language becomes active; FlagImageIndex
//      gives the drop-down's image.
// Threading: UI thread only (it drives the dispatcher and its windows).
#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mq::i18n {

class TsiCustomLang;
class TsiLangDispatcher;

class TLanguageStartup {
 public:
  static constexpr int kLanguageItems = 10;
  static constexpr std::string_view kTranslationFileName = "MqTool.sib";
  // Line break between the two lines of a composed message.
  static constexpr std::string_view kLineBreak = "\r\n";

  // `dataFolder` ends with a path separator, as the data folder does.
  static std::filesystem::path TranslationFilePath(std::string_view dataFolder);
  // Sets the dispatcher's FileName and loads the file when it exists.
  // Returns whether a file was loaded; load errors propagate.
  static bool LoadTranslationFile(TsiLangDispatcher& dispatcher, std::string_view dataFolder);

  // Item i (0-based, language i + 1) is enabled exactly when character
  // i + 1 is '1'; nullopt keeps the layout's state (text too short).
  // Characters beyond the tenth name no item and are ignored.
  static std::array<std::optional<bool>, kLanguageItems> LanguageItemsEnabled(std::string_view languages);

  // The drop-down's image for a language: language + 13 for 1..10, and the
  // neutral image 13 for any other number.
  static int FlagImageIndex(int language);

  struct TActivation {
    bool ok = true;
    std::string error;   // the ELanguageError message when not ok
    int flagImage = 13;  // image to show on the Language drop-down
  };
  // Makes `language` the dispatcher's active language. A number the
  // components reject leaves every window as it was and is reported in the
  // result instead of aborting the window's creation.
  static TActivation ActivateLanguage(TsiLangDispatcher& dispatcher, int language);

  // Texts of the "Your language" task dialog in the active language.
  struct TYourLanguageTexts {
    std::string caption;       // "IDS_5"
    std::string instruction;   // "IDS_8"
    std::string content;       // "IDS_1" + line break + "IDS_2"
    std::string expandedText;  // "IDS_6" + "IDS_7"
  };
  static TYourLanguageTexts YourLanguageTexts(const TsiCustomLang& mainWindowLang);
  // Message of the fallback box when no task dialog can be shown.
  static std::string YourLanguageFallbackMessage(const TsiCustomLang& mainWindowLang);

  // Relabels a dialog's child controls from the dialog captions: for each
  // child text, the new text to write, or nullopt to leave it (empty text,
  // no translation in the active language, or already equal). Ampersands
  // are removed before the lookup; texts longer than 255 characters are
  // cut there, as the platform hands out no more.
  static std::vector<std::optional<std::string>> RelabelDialogTexts(const TsiCustomLang& lang,
                                                                    const std::vector<std::string>& childTexts);
};

}  // namespace mq::i18n
