// Fuzz target: the .sib translation-file reader and the load of a record
// into a translation component.
#include "i18n/fake_lang_window.h"
#include "i18n/language_error.h"
#include "i18n/si_lang_rt.h"
#include "i18n/sib_file_manager.h"
#include "i18n/sib_format_error.h"

#include <cstdint>
#include <vector>

using namespace mq::i18n;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> bytes(data, data + size);
  try {
    const TSIBFileManager file(bytes);
    for (const auto& entry : file.Directory()) {
      try {
        (void)file.ReadRecord(entry.className);
      } catch (const ESibFormatError&) {
      }
    }
  } catch (const ESibFormatError&) {
  }

  TFakeLangWindow window("T", "t");
  window.AcceptAll = true;
  TsiLangRT lang(&window);
  lang.ApplyMainWindowSettings();
  try {
    lang.LoadFromBinaryData(bytes);
    (void)lang.GetTextOrDefault("IDS_1");
    lang.SetActiveLanguage(lang.NumOfLanguages());
    (void)lang.GetDlgCaption("OK");
  } catch (const ESibFormatError&) {
  } catch (const ELanguageError&) {
  }
  return 0;
}
