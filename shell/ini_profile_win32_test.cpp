// Our INI code against the Windows profile calls: the same files read with
// GetPrivateProfileStringW and with IniFile, and the same writes done with
// WritePrivateProfileStringW and with IniFile.
//
// Reads must agree value for value, except where a query names the value
// IniFile gives on purpose. Writes must agree in what both readers then see
// and in the file's structure: sections in order, each with its keys in
// order (names compared without case, blanks around "=" ignored) and its
// comments. The exact bytes may differ: some profile implementations
// rewrite the whole file in their own layout (blank lines dropped, CR LF
// everywhere) where IniFile changes only the lines it must. Every
// difference is printed as a "[profile note]" line.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "shell/ini_file.h"
#include "shell/shell_test_util.h"
#include "shell/wide_text_win32.h"

namespace mq {
namespace {

using testing::ReadAll;
using testing::TempDir;
using testing::WriteAll;

// Marks a query whose IniFile result is compared with the profile call's.
constexpr const char* kAsProfile = "\x01";

struct Query {
  std::string section, key;
  // kAsProfile, or what IniFile gives on purpose (nullptr: nothing).
  const char* ours = kAsProfile;
};

std::optional<std::string> ProfileRead(const std::string& path, const std::string& section, const std::string& key) {
  static const wchar_t kMissing[] = L"\x1F<missing>\x1F";
  wchar_t buffer[4096] = {};
  GetPrivateProfileStringW(WideText::FromUtf8(section).c_str(), WideText::FromUtf8(key).c_str(), kMissing, buffer, 4096,
                           WideText::FromUtf8(path).c_str());
  const std::wstring v(buffer);
  if (v == kMissing) return std::nullopt;
  return WideText::ToUtf8(v);
}

std::string Show(const std::optional<std::string>& v) { return v ? "\"" + *v + "\"" : "(missing)"; }

std::string Escaped(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c < 0x20 || c >= 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string Trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// A file's structure, independent of layout: per section (in file order)
// its keys in order as "name=value" with the name in lower case and the
// value trimmed, then its comment lines in order.
std::vector<std::string> Structure(std::string text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);
  std::vector<std::string> sections(1, "[]");
  std::vector<std::string> comments(1);
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t end = text.find_first_of("\r\n", pos);
    const std::string line = Trim(text.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
    pos = end == std::string::npos ? text.size() : end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    if (line.empty()) continue;
    if (line[0] == '[' && line.find(']') != std::string::npos) {
      sections.push_back("[" + Lower(Trim(line.substr(1, line.find(']') - 1))) + "]");
      comments.emplace_back();
    } else if (line[0] != ';' && line.find('=') != std::string::npos) {
      const auto eq = line.find('=');
      sections.back() += " " + Lower(Trim(line.substr(0, eq))) + "=" + Trim(line.substr(eq + 1));
    } else {
      comments.back() += " {" + line + "}";
    }
  }
  for (std::size_t i = 0; i < sections.size(); ++i) sections[i] += comments[i];
  if (sections.front() == "[]") sections.erase(sections.begin());
  return sections;
}

struct ReadCase {
  const char* name;
  std::string content;
  std::vector<Query> queries;
};

TEST(IniFileVersusProfile, ReadsAgree) {
  const std::vector<ReadCase> cases = {
      {"names without case, blanks trimmed",
       "; comment\r\n[Other]\r\nLanguage=9\r\n[general]\r\n  LANGUAGE = 5 \r\nName=\"quoted\"\r\n",
       {{"General", "Language"},
        {"GENERAL", "name"},
        {"General", "Missing"},
        {"Nowhere", "Language"},
        {"other", "language"}}},
      {"quotes",
       "[S]\r\na=\"x\"\r\nb='y'\r\nc=\"z'\r\nd=\"\r\ne=\"\"\r\nf= \"spaced\" \r\ng=\" inner \"\r\nh=x\"y\"\r\n",
       {{"S", "a"}, {"S", "b"}, {"S", "c"}, {"S", "d"}, {"S", "e"}, {"S", "f"}, {"S", "g"}, {"S", "h"}}},
      {"duplicate keys and sections: the first of each counts",
       "[S]\r\nk=1\r\nk=2\r\n[T]\r\nt=1\r\n[s]\r\nk=3\r\nm=4\r\n",
       {{"S", "k"}, {"S", "m"}, {"T", "t"}}},
      {"section headers",
       "[ Spaced ]\r\nk=1\r\n[Tail] junk\r\nt=2\r\n  [Indented]\r\ni=3\r\n[NoClose\r\nn=4\r\n",
       // The profile calls also trim the section name asked for; the
       // program only ever asks for "General".
       {{"Spaced", "k"},
        {" Spaced ", "k", nullptr},
        {"Tail", "t"},
        {"Indented", "i"},
        {"NoClose", "n"},
        {"Indented", "n"}}},
      {"comment lines",
       // The profile calls have no comments: ";k=1" is the key ";k". IniFile
       // skips ";" and "#" lines; no real key starts with either.
       "[S]\r\n;k=1\r\n#h=2\r\nk=3\r\n  ;x=4\r\n",
       {{"S", "k"}, {"S", ";k", nullptr}, {"S", "#h", nullptr}, {"S", "h"}, {"S", "x"}, {"S", ";x", nullptr}}},
      {"lines without an equals sign", "[S]\r\nbare\r\nk=v\r\n", {{"S", "bare"}, {"S", "k"}}},
      {"keys before the first section", "k=0\r\n[S]\r\nk=1\r\n", {{"S", "k"}}},
      {"empty and blank values",
       "[S]\r\nempty=\r\nspaces=   \r\ntab=\tv\t\r\n",
       {{"S", "empty"}, {"S", "spaces"}, {"S", "tab"}}},
      {"values holding equals signs and semicolons",
       "[S]\r\nk=a=b\r\nc=5 ; note\r\nmy key = 1\r\n",
       {{"S", "k"}, {"S", "c"}, {"S", "my key"}}},
      {"UTF-8 byte order mark",
       // IniFile skips it on purpose (a Notepad "UTF-8" file); compared
       // value by value only where the profile calls skip it too.
       "\xEF\xBB\xBF[General]\r\nLanguage=5\r\n",
       {{"General", "Language", "5"}}},
      {"bare line feeds", "[General]\nLanguage=5\nDeveloper=1", {{"General", "Language"}, {"General", "Developer"}}},
      {"bare carriage returns",
       "[General]\rLanguage=5\rDeveloper=1\r",
       {{"General", "Language"}, {"General", "Developer"}}},
  };
  TempDir d;
  int n = 0;
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = d.file("read" + std::to_string(n++) + ".ini");
    WriteAll(path, c.content);
    IniFile ini(path);
    for (const Query& q : c.queries) {
      const auto profile = ProfileRead(path, q.section, q.key);
      const auto ours = ini.ReadValue(q.section, q.key);
      if (profile != ours)
        std::printf("[profile note] read, %s: [%s] \"%s\": profile call %s, IniFile %s\n", c.name, q.section.c_str(),
                    q.key.c_str(), Show(profile).c_str(), Show(ours).c_str());
      if (q.ours == kAsProfile) {
        EXPECT_EQ(ours, profile) << "[" << q.section << "] " << q.key;
      } else {
        EXPECT_EQ(ours, q.ours ? std::optional<std::string>(q.ours) : std::nullopt)
            << "[" << q.section << "] " << q.key;
      }
    }
  }
}

struct Write {
  std::string section, key, value;
};

struct WriteCase {
  const char* name;
  std::optional<std::string> content;  // nothing: the file does not exist
  std::vector<Write> writes;
  std::vector<Query> queries;  // read back afterwards
};

TEST(IniFileVersusProfile, WritesAgree) {
  const std::vector<WriteCase> cases = {
      {"new file: the three settings",
       std::nullopt,
       {{"General", "Language", "1"}, {"General", "Languages", "1110100000"}, {"General", "Developer", "0"}},
       {{"General", "Language"}, {"General", "Languages"}, {"General", "Developer"}}},
      {"update with other case, append a key, append a section",
       "[Other]\r\nKey=1\r\n\r\n; keep me\r\n[General]\r\nLanguage=2\r\nExtra=x\r\n",
       {{"general", "language", "5"}, {"General", "Languages", "1110100000"}, {"New", "K", "v"}},
       {{"General", "Language"}, {"General", "Languages"}, {"General", "Extra"}, {"Other", "Key"}, {"New", "K"}}},
      {"append to a section followed by a blank line",
       "[General]\r\nLanguage=2\r\n\r\n[Other]\r\nk=1\r\n",
       {{"General", "Developer", "1"}},
       {{"General", "Developer"}, {"Other", "k"}}},
      {"append to a section ending in a comment",
       "[General]\r\nLanguage=2\r\n; end of general\r\n[Other]\r\nk=1\r\n",
       {{"General", "Developer", "1"}},
       {{"General", "Developer"}, {"Other", "k"}}},
      {"file without a final line break",
       "[General]\r\nLanguage=2",
       {{"General", "Developer", "1"}, {"New", "K", "v"}},
       {{"General", "Language"}, {"General", "Developer"}, {"New", "K"}}},
      {"key with blanks around it",
       "[General]\r\n  Language = 2  \r\nDeveloper=1\r\n",
       {{"General", "Language", "5"}},
       {{"General", "Language"}, {"General", "Developer"}}},
      {"duplicate section",
       "[General]\r\nLanguage=2\r\n[Other]\r\nk=1\r\n[General]\r\nDeveloper=1\r\n",
       {{"General", "Developer", "0"}, {"General", "Languages", "x"}},
       {{"General", "Developer"}, {"General", "Languages"}, {"General", "Language"}}},
      {"bare line feeds",
       "[General]\nLanguage=2\n",
       {{"General", "Developer", "1"}},
       {{"General", "Language"}, {"General", "Developer"}}},
      {"empty file", "", {{"General", "Language", "1"}}, {{"General", "Language"}}},
      {"value with blanks", "[General]\r\n", {{"General", "Languages", "  1110  "}}, {{"General", "Languages"}}},
      {"UTF-8 byte order mark",
       "\xEF\xBB\xBF[General]\r\nLanguage=2\r\n",
       {{"General", "Language", "5"}},
       {{"General", "Language", "5"}}},
  };
  TempDir d;
  int n = 0;
  for (const WriteCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string a = d.file("profile" + std::to_string(n) + ".ini");
    const std::string b = d.file("ours" + std::to_string(n++) + ".ini");
    if (c.content) {
      WriteAll(a, *c.content);
      WriteAll(b, *c.content);
    }
    IniFile ini(b);
    for (const Write& w : c.writes) {
      EXPECT_TRUE(WritePrivateProfileStringW(WideText::FromUtf8(w.section).c_str(), WideText::FromUtf8(w.key).c_str(),
                                             WideText::FromUtf8(w.value).c_str(), WideText::FromUtf8(a).c_str()));
      ini.WriteString(w.section, w.key, w.value);
    }
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, WideText::FromUtf8(a).c_str());  // flush any cache
    const std::string fa = ReadAll(a), fb = ReadAll(b);
    if (fa != fb)
      std::printf("[profile note] write, %s:\n  profile call: %s\n  IniFile:      %s\n", c.name, Escaped(fa).c_str(),
                  Escaped(fb).c_str());
    if (c.queries.front().ours == kAsProfile) {
      EXPECT_EQ(Structure(fb), Structure(fa));
    }

    for (const Query& q : c.queries) {
      const auto viaProfileOfOurs = ProfileRead(b, q.section, q.key);
      const auto viaProfileOfTheirs = ProfileRead(a, q.section, q.key);
      const auto viaOursOfOurs = IniFile(b).ReadValue(q.section, q.key);
      const auto viaOursOfTheirs = IniFile(a).ReadValue(q.section, q.key);
      if (q.ours != kAsProfile) {
        EXPECT_EQ(viaOursOfOurs, std::optional<std::string>(q.ours));
        continue;
      }
      EXPECT_EQ(viaOursOfOurs, viaProfileOfTheirs) << "[" << q.section << "] " << q.key;
      EXPECT_EQ(viaProfileOfOurs, viaProfileOfTheirs) << "[" << q.section << "] " << q.key;
      EXPECT_EQ(viaOursOfTheirs, viaProfileOfTheirs) << "[" << q.section << "] " << q.key;
    }
  }
}

}  // namespace
}  // namespace mq
