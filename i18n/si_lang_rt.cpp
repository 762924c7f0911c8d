#include "i18n/si_lang_rt.h"

namespace mq::i18n {

std::vector<std::string> TsiLangRT::MainWindowDoNotTranslate() {
  return {"lblFirmware", "lblPort", "lblChannel",   "lblEcho",    "lblMQVer", "lblTime", "J0",
          "J1",          "J2",      "J3",           "J4",         "J5",       "J6",      "J7",
          "J8",          "J9",      "apdslcntrlr1", "SpTBXDock1", "lblRX",    "lblTX",   "rgBandwidth"};
}

std::vector<std::string> TsiLangRT::MainWindowSmartExcludeProps() {
  return {"TfrmMain.Caption",          "SpTBXToolbar1.Caption", "lblVersion.Caption",
          "SpTBXToolbar1.ChevronHint", "J10.Caption",           "J11.Caption"};
}

void TsiLangRT::ApplyMainWindowSettings() {
  ApplyProgramSettings();
  NeedAllDlgs = true;
  DoNotTranslate = MainWindowDoNotTranslate();
  SmartExcludeProps = MainWindowSmartExcludeProps();
}

}  // namespace mq::i18n
