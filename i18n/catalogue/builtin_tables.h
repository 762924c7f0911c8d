#pragma once
// Built-in translation tables of the program's windows.
//
// The tables are kept as readable text (TfrmMain.txt, TMarqsForm.txt beside
// this header) and turned into their stored form at build time, so that they
// go through the same reading path as a record of a translation file.

#include <cstdint>
#include <span>
#include <string_view>

namespace mq::i18n {

// Returns the stored UTF-16LE TranslationData of a window's translation component:
// "TfrmMain" (main window, siLangRT1) or "TMarqsForm" (pad-link form, siLang1);
// an empty span for any other name. The class name is compared exactly.
std::span<const std::uint8_t> BuiltinTranslationData(std::string_view windowClassName);

// The names of the ten text columns in order ("English", "Dutch", ... "Swedish");
// language n is entry n - 1.
std::span<const std::string_view> BuiltinLanguageNames();

}  // namespace mq::i18n
