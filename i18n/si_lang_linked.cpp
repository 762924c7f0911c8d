#include "i18n/si_lang_linked.h"

#include "i18n/si_lang_dispatcher.h"

namespace mq::i18n {

std::vector<std::string>* TsiLangLinked::GetPropListByType(int type) {
    if (type == stDlgsCaptions || type == stLocales)
        return nullptr;
    return TsiCustomLang::GetPropListByType(type);
}

void TsiLangLinked::ApplyPadLinkSettings() {
    SetLangNames(TsiLangDispatcher::ProgramLangNames());
    SetActiveLanguage(1);
    DefaultLanguage = 1;
    UseDefaultLanguage = true;
    TranslateType = TTranslateType::ttNoChange;
    SetLangDelim(1);
    StoreAsUTF8 = true;
    NeedAllDlgs = false;
    DoNotTranslate = {"ComPort"};
    SmartExcludeProps = {"TMarqsForm.Caption"};
    ExcludedProperties = DefaultExcludedProperties();
}

} // namespace mq::i18n
