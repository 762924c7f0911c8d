// Fuzz target: reading a stored translation table (UTF-16LE / UTF-8 /
// Windows-1252 detection, headers, entries), preparing the component and
// switching languages over it. The first input byte picks the settings.
#include "i18n/comma_text.h"
#include "i18n/fake_lang_window.h"
#include "i18n/language_error.h"
#include "i18n/si_lang_rt.h"

#include <cstdint>
#include <span>

using namespace mq::i18n;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t flags = data[0];
  const std::span<const std::uint8_t> table(data + 1, size - 1);

  TFakeLangWindow window("T", "t");
  window.AcceptAll = true;
  TsiLangRT lang(&window);
  lang.ApplyMainWindowSettings();
  lang.StoreAsUTF8 = (flags & 1) != 0;
  lang.SetLangDelim((flags & 2) != 0 ? 1 : 9);
  if ((flags & 4) != 0) lang.TranslateType = TTranslateType::ttGetDefault;
  lang.LoadTranslationData(table);
  lang.Prepare();
  for (const int language : {2, 10, 1}) {
    lang.SetActiveLanguage(language);
    (void)lang.GetTextOrDefault("IDS_5");
    (void)lang.GetDlgCaption("Cancel");
  }
  if (const auto* lines = lang.GetPropListByType(stMultiLines))
    for (const auto& e : *lines) (void)TCommaText::Split(lang.EntryText(e));
  for (const auto& item : lang.StringIndex().Items()) (void)lang.GetTextOrDefault(item.id);
  return 0;
}
