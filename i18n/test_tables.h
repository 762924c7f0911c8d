// TTestTables: small translation tables for the tests, built in the stored
// form (UTF-16LE lines ended by CR LF) so they go through the same reader as
// built-in tables and translation files.
// Threading: stateless test helper.
#pragma once

#include "i18n/lang_entry.h"
#include "i18n/text_codec.h"

#include <cstdint>
#include <string>
#include <vector>

namespace mq::i18n {

class TTestTables {
 public:
  // An entry with ten columns (missing texts empty), stored form: CR/LF as
  // characters 25/26.
  static std::string Entry(const std::string& name, std::vector<std::string> texts, const std::string& delim = "\x01",
                           std::size_t columns = 10) {
    texts.resize(columns);
    for (auto& t : texts)
      for (auto& c : t) c = c == '\r' ? '\x19' : c == '\n' ? '\x1A' : c;
    return TLangEntry::Make(name, texts, delim);
  }

  static std::vector<std::uint8_t> Utf16(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& l : lines) text += l + "\r\n";
    const std::string u16 = TTextCodec::Utf8ToUtf16Le(text);
    return {u16.begin(), u16.end()};
  }
  static std::vector<std::uint8_t> Raw(const std::string& s) { return {s.begin(), s.end()}; }

  // A main-window table in the shape of the real one (all twelve headers
  // but the list-view one), with a handful of entries.
  static std::vector<std::string> MainWindowLines() {
    return {
        "stCaptions_Unicode",
        Entry("btnAbort", {"Abort test", "Test afbreken", "Interrompre le test"}),
        Entry("btnCmd", {"Send cmd", "", "Envoyer commande", "", "Enviar cmd"}),
        Entry("SpTBXItemNextDive", {"Next\r\nDive", "Volgende\r\nSprong", "Prochain\r\nPlongeon"}),
        Entry("SpTBXItemHelp",
              {"Help", "&Help", "&Aide", "&Hilfe", "Ayuda", "Guida", "Pomoć", "Yardım", "Hjælp", "Hjälp"}),
        Entry("lblFirmware", {"Firmware", "Firmware NL", "Firmware FR"}),
        Entry("J0", {"J", "JNL", "JFR"}),
        Entry("J10", {"J10", "J10NL", "J10FR"}),
        Entry("lblVersion", {"Version", "Versie"}),
        Entry("Label2", {"Marq", "Marq", "Marq"}),
        "stHints_Unicode",
        "stDisplayLabels_Unicode",
        "stFonts_Unicode",
        Entry("TfrmMain", {"Tahoma"}),
        "stMultiLines_Unicode",
        Entry("rgDCS.Items", {"ON,OFF", "", "ON,OFF", "", "ON,OFF"}),
        "stDlgsCaptions_Unicode",
        Entry("Warning", {"Warning", "Waarschuwing", "Avertissement", "Warnung"}),
        Entry("OK", {"OK", "OK", "OK", "OK", "OK", "OK", "U redu", "Tamam", "OK", "OK"}),
        Entry("Cancel", {"Cancel", "Annuleren", "A&nnuler", "&Abbrechen"}),
        "stStrings_Unicode",
        Entry("IDS_1", {"If you are willing to help translate this program",
                        "Als u bereid bent om mee te helpen dit programma"}),
        Entry("IDS_2", {"into your language, please send me an email.",
                        "te vertalen in uw eigen taal , stuur mij dan een email."}),
        Entry("IDS_5", {"Marq Utility Translation", "Marq Utility vertaling", "Traduction de Marq Utility"}),
        Entry("IDS_6", {"Translating this program is not a big job.  ",
                        "Vertalen van dit programma is niet een enorme klus.  "}),
        Entry("IDS_7", {"You will be provided with the necessary tools and information.",
                        "U wordt voorzien van de nodige tools en informatie."}),
        Entry("IDS_8", {"Translation", "Vertaling", "Traduction"}),
        "stOtherStrings_Unicode",
        Entry("siTaskDialog1.ExpandButtonCaption", {"More..", "Meer..", "Plus..", "", "Mas.."}),
        "stLocales_Unicode",
        "stCollections_Unicode",
        "stCharSets_Unicode",
    };
  }

  static std::vector<std::string> PadLinkLines() {
    return {
        "stCaptions_Unicode",
        "stHints_Unicode",
        "stDisplayLabels_Unicode",
        "stFonts_Unicode",
        "stMultiLines_Unicode",
        "stStrings_Unicode",
        Entry("IDS_100", {"No Base Station found", "Geen basisstation gevonden"}),
        Entry("IDS_102", {"N/A", "N/A", "N/A", "", "N/A"}),
        Entry("IDS_103", {"Please run a 'Scans, Full Scan' first", "A.u.b. eerst 'Scannen, Volledige Scan' uitvoeren"}),
        Entry("IDS_106", {"Available port numbers: ", "Beschikbare Poorten:"}),
        "stOtherStrings_Unicode",
        "stCollections_Unicode",
        "stCharSets_Unicode",
    };
  }
};

}  // namespace mq::i18n
