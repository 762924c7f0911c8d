// TsiLangRT: the main window's translation component. It keeps every
// section but the list-view/tree-view items, dialog captions included.
// ApplyMainWindowSettings() sets this program's values for siLangRT1.
// Threading: UI thread only.
#pragma once

#include "i18n/si_custom_lang.h"

namespace mq::i18n {

class TsiLangRT : public TsiCustomLang {
 public:
  using TsiCustomLang::TsiCustomLang;

  // Ten languages, English fallback, UTF-8 storage, delimiter 1, the
  // dialog captions kept complete, and the main window's lists of controls
  // and properties that are never translated.
  void ApplyMainWindowSettings();
  static std::vector<std::string> MainWindowDoNotTranslate();
  static std::vector<std::string> MainWindowSmartExcludeProps();
};

}  // namespace mq::i18n
