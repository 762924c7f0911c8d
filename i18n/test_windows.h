// TTestWindows: the program's two windows for tests — a fake main window
// "TfrmMain" with siLangRT1's settings and a message-only pad-link form
// "TMarqsForm" with siLang1's — over the small test tables, and the
// dispatcher they link to. A fixture adds the controls it needs to `main`,
// then links the windows in the order it is testing.
//
// Threading: test thread only.
#pragma once

#include <memory>

#include "i18n/fake_lang_window.h"
#include "i18n/message_only_lang_window.h"
#include "i18n/si_lang_dispatcher.h"
#include "i18n/si_lang_linked.h"
#include "i18n/si_lang_rt.h"
#include "i18n/test_tables.h"

namespace mq::i18n {

struct TTestWindows {
  TTestWindows() : main("TfrmMain", "frmMain"), pad("TMarqsForm", "MarqsForm") { dispatcher.ApplyProgramSettings(); }
  void LinkMain() {
    mainLang = std::make_unique<TsiLangRT>(&main);
    mainLang->ApplyMainWindowSettings();
    mainLang->LoadTranslationData(TTestTables::Utf16(TTestTables::MainWindowLines()));
    mainLang->Loaded(&dispatcher);
  }
  void LinkPad() {
    padLang = std::make_unique<TsiLangLinked>(&pad);
    padLang->ApplyPadLinkSettings();
    padLang->LoadTranslationData(TTestTables::Utf16(TTestTables::PadLinkLines()));
    padLang->Loaded(&dispatcher);
  }

  TsiLangDispatcher dispatcher;
  TFakeLangWindow main;
  TMessageOnlyLangWindow pad;
  std::unique_ptr<TsiLangRT> mainLang;
  std::unique_ptr<TsiLangLinked> padLang;
};

}  // namespace mq::i18n
