// mqtool-cli: argument parsing, the JSON summary and CSV quoting, and whole
// runs against fake ports answered by a scripted base station.
#include "cli/mqtool_cli.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "loop/virtual_loop.h"
#include "cli/cli_output.h"
#include "cli/console_window.h"
#include "padlink/frames.h"
#include "padlink/pad_link.h"
#include "padlink/window_recorder.h"
#include "serial/testing/fake_serial_platform.h"

namespace mq::padlink {
namespace {

std::optional<TCliOptions> P(std::vector<std::string> args, std::string* errorOut = nullptr) {
  std::string error;
  auto o = TCliOptions::Parse(args, error);
  if (errorOut) *errorOut = error;
  return o;
}

TEST(CliParse, CommandsAndOptions) {
  auto o = P({"scan", "--data-folder", "/tmp/x", "--json"});
  ASSERT_TRUE(o);
  EXPECT_EQ(o->command, "scan");
  EXPECT_EQ(o->dataFolder, "/tmp/x");
  EXPECT_TRUE(o->json);
  o = P({"echo", "--loops", "20", "--delay", "150", "--csv", "out.csv"});
  ASSERT_TRUE(o);
  EXPECT_EQ(o->loops, 20);
  EXPECT_EQ(o->delay, 150);
  EXPECT_EQ(o->csv, "out.csv");
  o = P({"dive", "--text", "201B 3m    Diver Two", "--broadcast", "--count", "4"});
  ASSERT_TRUE(o);
  EXPECT_EQ(o->text, "201B 3m    Diver Two");
  EXPECT_TRUE(o->broadcast);
  EXPECT_EQ(o->count, 4);
  EXPECT_EQ(P({"dive"})->text, "103B 3m    First Diver");
  EXPECT_EQ(P({"channel", "4"})->value, 4);
  EXPECT_EQ(P({"bandwidth", "0"})->value, 0);
  EXPECT_TRUE(P({"dcs", "on"})->dcsOn);
  EXPECT_FALSE(P({"dcs", "off"})->dcsOn);
  EXPECT_EQ(P({"send-cmd", "ER_CMD#T3"})->cmdText, "ER_CMD#T3");
  for (const char* c : {"lock", "unlock", "reset", "judge-ids"}) EXPECT_TRUE(P({c})) << c;
  auto help = P({"--help"});
  ASSERT_TRUE(help);
  EXPECT_TRUE(help->command.empty());
}

TEST(CliParse, UsageErrorsSayWhy) {
  std::string e;
  EXPECT_FALSE(P({}, &e));
  EXPECT_EQ(e, "no command given");
  EXPECT_FALSE(P({"fly"}, &e));
  EXPECT_EQ(e, "unknown command 'fly'");
  EXPECT_FALSE(P({"echo"}, &e));
  EXPECT_EQ(e, "--loops is required");
  EXPECT_FALSE(P({"echo", "--loops", "0"}, &e));
  EXPECT_NE(e.find("--loops"), std::string::npos) << e;
  EXPECT_NE(e.find("1 to 10000"), std::string::npos) << e;
  EXPECT_FALSE(P({"echo", "--loops", "10001"}));
  EXPECT_FALSE(P({"echo", "--loops", "5", "--delay", "120"}, &e));
  EXPECT_FALSE(P({"echo", "--loops"}, &e));
  EXPECT_NE(e.find("--loops"), std::string::npos) << e;
  EXPECT_FALSE(P({"channel", "10"}, &e));
  EXPECT_NE(e.find("0 to 9"), std::string::npos) << e;
  EXPECT_FALSE(P({"channel"}, &e));
  EXPECT_NE(e.find("N is required"), std::string::npos) << e;
  EXPECT_FALSE(P({"bandwidth", "5"}));
  EXPECT_FALSE(P({"bandwidth", "-1"}));
  EXPECT_FALSE(P({"dcs", "yes"}));
  EXPECT_FALSE(P({"scan", "extra"}, &e));
  EXPECT_NE(e.find("extra"), std::string::npos) << e;
  EXPECT_FALSE(P({"scan", "--colour"}, &e));
  EXPECT_NE(e.find("--colour"), std::string::npos) << e;
}

TEST(CliParse, OptionsOfAnotherCommandAreRefused) {
  std::string e;
  EXPECT_FALSE(P({"dive", "--loops", "3"}, &e));
  EXPECT_EQ(e, "The following arguments were not expected: --loops 3");
  EXPECT_FALSE(P({"lock", "--csv", "x.csv"}, &e));
  EXPECT_FALSE(P({"scan", "--text", "x"}, &e));
  EXPECT_FALSE(P({"echo", "--loops", "2", "--count", "3"}, &e));
  EXPECT_FALSE(P({"scan", "--no-scan"}, &e));
  EXPECT_EQ(e, "--no-scan does not go with scan");
  EXPECT_FALSE(P({"lock", "--no-scan", "--port", "3"}, &e));
  EXPECT_NE(e.find("needs the base station and the pads"), std::string::npos) << e;
  EXPECT_FALSE(P({"dive", "--json"}, &e));
  EXPECT_EQ(e, "--json does not go with dive: it prints no summary");
  EXPECT_FALSE(P({"scan", "--port", "3"}, &e));
  EXPECT_EQ(e, "--port goes with --no-scan (otherwise the full scan finds the port)");
  // --no-scan names the port it works on, and says so when it is missing.
  EXPECT_FALSE(P({"send-cmd", "ER_CMD#B?", "--no-scan"}, &e));
  EXPECT_EQ(e, "send-cmd --no-scan needs --port N: the port to send to");
  EXPECT_FALSE(P({"reset", "--no-scan"}, &e));
  EXPECT_EQ(e, "reset --no-scan needs --port N: the port to send to");
  EXPECT_FALSE(P({"reset", "--no-scan", "--port", "51"}));
  auto o = P({"--no-scan", "--port", "7", "channel", "3"});
  ASSERT_TRUE(o) << e;
  EXPECT_EQ(o->port, 7);
  EXPECT_TRUE(o->noScan);
  // The global options may follow the command too.
  o = P({"lock", "--json", "--data-folder", "/tmp/y"});
  ASSERT_TRUE(o);
  EXPECT_TRUE(o->json);
  EXPECT_EQ(o->dataFolder, "/tmp/y");
}

TEST(CliParse, HelpExplainsJsonAndNoScan) {
  const std::string usage = TCliOptions::Usage();
  for (const char* word : {"--json", "JSON object on standard output", "--no-scan", "skip the opening full scan",
                           "--port", "send-cmd", "Exit codes"})
    EXPECT_NE(usage.find(word), std::string::npos) << word << "\n" << usage;
  auto o = P({"echo", "--help"});
  ASSERT_TRUE(o);
  EXPECT_TRUE(o->command.empty());
  EXPECT_NE(o->help.find("--loops"), std::string::npos) << o->help;
}

TEST(CliParse, TextGoesOutInThePadsCodePage) {
  std::string e;
  EXPECT_EQ(P({"dive", "--text", "M\u00fcller"})->text, "M\xFCller");
  EXPECT_EQ(P({"send-cmd", "\u20ac5"})->cmdText,
            "\x80"
            "5");
  EXPECT_FALSE(P({"dive", "--text", "\u0141\u00f3d\u017a"}, &e));
  EXPECT_EQ(e, "dive --text: '\u0141' (U+0141) is not in the pads' character set (Windows-1252)");
  EXPECT_FALSE(P({"send-cmd", "ER_CMD#\xFF"}, &e));
  EXPECT_EQ(e, "send-cmd TEXT is not valid UTF-8 text");
  // An EOT inside the dive text would end the pad's frame early.
  EXPECT_FALSE(P({"dive", "--text",
                  "a\x04"
                  "b"},
                 &e));
  EXPECT_EQ(e, "dive --text: the control character U+0004 cannot be sent to the pads");
}

TEST(CliText, JsonAndCsvEscaping) {
  EXPECT_EQ(CliOutput::JsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(CliOutput::JsonString(std::string("x\x02y", 3)), "\"x\\u0002y\"");
  EXPECT_EQ(CliOutput::JsonString("Türkçe"), "\"Türkçe\"");
  EXPECT_EQ(CliOutput::JsonString("a\xFF"), "\"a\uFFFD\"");  // not UTF-8: replaced, not thrown
  EXPECT_EQ(CliOutput::CsvField("912"), "912");
  EXPECT_EQ(CliOutput::CsvField("a,b"), "\"a,b\"");
  EXPECT_EQ(CliOutput::CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(TConsoleWindow::Visible(std::string("\x02"
                                                "3\x1b"
                                                "1\x04",
                                                5)),
            "\u2402"
            "3\u241b"
            "1\u2404");
}

TEST(ConsoleWindow, ProgressEveryTenthAndReportRows) {
  std::ostringstream log, progress;
  TConsoleWindow win(log, progress);
  win.ProgressSetMax(40);
  for (int i = 0; i < 40; ++i) win.ProgressStep();
  std::string text = progress.str();
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 11);  // the first request, then every tenth
  EXPECT_NE(text.find("echo test: 40/40 requests"), std::string::npos);
  win.SetReportRow(3, "3       1       0       0       0", TReportColour::Red);
  win.SetReportRowText(3, "3");
  EXPECT_EQ(win.Rows()[3], "3");
  EXPECT_EQ(win.RowColours()[3], TReportColour::Red);
  win.SetReportRow(12, "x", TReportColour::Red);  // no such row: ignored
  win.AddLogLine(std::string("3 --> \x02", 7));
  EXPECT_EQ(log.str(), "3 --> \u2402\n");
  win.SetBusyCursor(true);
  win.SetBusyCursor(false);
  EXPECT_EQ(win.ScansEnded(), 1);
  // What the window shows in a message box is not buried in the log.
  win.ShowInformation("No serial port could be opened:\nCOM5: in use by another program");
  EXPECT_EQ(log.str(), "3 --> \u2402\n");
  EXPECT_EQ(progress.str().substr(text.size()), "No serial port could be opened:\nCOM5: in use by another program\n");
}

// ---- Whole runs on fake ports, answered by a scripted station, on virtual time ----

class CliRun : public ::testing::Test {
 protected:
  CliRun() : fake(std::make_shared<mq::serial::FakeSerialPlatform>(loop)) {}

  // Answers every write on `port` from the loop thread, polling every 2 ms.
  void Serve(unsigned port, std::string ident, std::string pads) {
    port_ = port;
    ident_ = std::move(ident);
    pads_ = std::move(pads);
    Poll();
  }
  void Poll() {
    const auto writes = fake->Writes(port_);
    for (; seen_ < writes.size(); ++seen_) {
      const std::string& w = writes[seen_].bytes;
      std::string reply;
      if (!gone_.empty() && w == gone_) answering_ = false;  // the station goes quiet
      if (!answering_) continue;
      if (w == "ER_CMD#T3") {
        identAsked_ = true;
      } else if (w == "ACK" && identAsked_) {
        identAsked_ = false;
        reply = "ER_CMD#T3" + ident_;
      } else if (w == "ER_CMD#C?") {
        reply = "ER_CMD#C7";
      } else if (w == "ER_CMD#B?") {
        reply = "ER_CMD#B3";
      } else if (w.size() >= 5 && w[0] == STX && pads_.find(w[1]) != std::string::npos) {
        const std::string cmd = w.substr(w.size() - 3, 2);
        if (w.find("\x1b"
                   "13") != std::string::npos)
          reply = std::string("\x02") + w[1] +
                  "\x06"
                  "912\x04";
        if (cmd ==
                "\x1b"
                "4" &&
            EchoLeft(w[1]))
          reply = std::string("\x02") + w[1] + "\x06" + w.substr(2, w.size() - 5) + "\x04";
        if (cmd ==
                "\x1b"
                "0" &&
            w[2] == 'J') {
          reply = std::string("\x02") + w[1] + "8.5\x04";
          if (onAward_) loop.post(onAward_);  // once the award is on its way
        }
      }
      if (w.size() >= 5 && w[0] == STX && w[1] == 'F' && w[2] == 'J')  // a broadcast dive reaches every pad
        for (char id : pads_) reply += std::string("\x02") + id + "8.5\x04";
      if (!reply.empty()) fake->Inject(port_, reply);
      if (w.size() > 3 && w[0] == STX && w[w.size() - 2] == '4' && onEcho_) loop.post(onEcho_);
    }
    loop.addTimer(loop.nowMs() + 2, [this] { Poll(); });
  }

  bool EchoLeft(char pad) {
    const auto it = echoesLeft_.find(pad);
    return it == echoesLeft_.end() || it->second-- > 0;
  }

  // The command line on the virtual clock; "no limit" is ten virtual minutes.
  TMqToolCli Cli() {
    return TMqToolCli(
        loop,
        [this](const std::function<bool()>& done, int timeoutMs) {
          return loop.advanceUntil(done, timeoutMs < 0 ? 600'000 : timeoutMs);
        },
        fake, out, err);
  }

  VirtualLoop loop;
  std::shared_ptr<mq::serial::FakeSerialPlatform> fake;
  std::ostringstream out, err;
  unsigned port_ = 0;
  std::string ident_, pads_;
  std::size_t seen_ = 0;
  bool identAsked_ = false;
  bool answering_ = true;
  std::string gone_;                // after this write the station answers nothing
  std::map<char, int> echoesLeft_;  // echo replies a pad still gives (absent: all)
  std::function<void()> onAward_, onEcho_;
};

std::size_t Count(const std::vector<mq::serial::FakeSerialPlatform::WriteRecord>& writes, const std::string& bytes) {
  return static_cast<std::size_t>(
      std::count_if(writes.begin(), writes.end(), [&](const auto& w) { return w.bytes == bytes; }));
}

TEST_F(CliRun, ScanJsonFindsTheStationAndItsPads) {
  fake->AddPort(2);
  fake->AddPort(5);
  Serve(5, "ER400TRS-02V2.01.7", "03a");
  TMqToolCli cli = Cli();
  TCliOptions o = *P({"scan", "--json"});
  EXPECT_EQ(cli.Run(o), 0) << err.str();
  EXPECT_EQ(out.str(),
            "{\"port\":5,\"ident\":\"ER400TRS-02V2.01.7\",\"channel\":\"7\",\"bandwidth_index\":3,"
            "\"dcs_available\":true,\"pads\":[\"0\",\"3\",\"a\"],\"firmware\":[\"912\"]}\n");
  EXPECT_NE(err.str().find("Available port numbers: 2, 5"), std::string::npos);  // the log, on stderr
}

TEST_F(CliRun, ScanWithoutAStationExitsOne) {
  fake->AddPort(4);
  TMqToolCli cli = Cli();
  EXPECT_EQ(cli.Run(*P({"scan"})), 1);
  EXPECT_NE(out.str().find("Base station: No Base Station found"), std::string::npos);
  EXPECT_NE(out.str().find("Pads: none"), std::string::npos);
}

TEST_F(CliRun, EchoWritesTheReportAndTheCsv) {
  fake->AddPort(3);
  Serve(3, "ER400TRS-02V2.02.10", "5c");
  const std::string csvPath = ::testing::TempDir() + "/mqtool_cli_echo.csv";
  TMqToolCli cli = Cli();
  EXPECT_EQ(cli.Run(*P({"echo", "--loops", "2", "--delay", "130", "--csv", csvPath})), 0) << err.str();
  EXPECT_NE(out.str().find("5       2       0       0       0\n"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("11       2       0       0       0\n"), std::string::npos);
  std::ifstream in(csvPath, std::ios::binary);
  std::stringstream csv;
  csv << in.rdbuf();
  const std::string text = csv.str();
  EXPECT_EQ(text.substr(0, text.find("\r\n")),
            "pad,judge,replies,resends,missed_reads,missed_sends,loops,delay_ms,channel,bandwidth_khz,base_ident,"
            "date_time,loops_asked,ended_early");
  EXPECT_NE(text.find("\r\n5,5,2,0,0,0,2,130,7,100,ER400TRS-02V2.02.10,"), std::string::npos) << text;
  EXPECT_NE(text.find("\r\nc,11,2,0,0,0,2,130,7,100,ER400TRS-02V2.02.10,"), std::string::npos);
  EXPECT_NE(text.find(",2,\r\n"), std::string::npos);  // two loops asked, not ended early
}

TEST_F(CliRun, DivePrintsTheAwardsAndAcknowledgesThem) {
  fake->AddPort(3);
  Serve(3, "ER400TRS-02V2.02.10", "12");
  TMqToolCli cli = Cli();
  TCliOptions o = *P({"dive", "--count", "2", "--timeout", "20"});
  o.decimalSeparator = ',';
  EXPECT_EQ(cli.Run(o), 0) << err.str();
  EXPECT_NE(out.str().find("J1 8,5\n"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("J2 8,5\n"), std::string::npos);
  const auto writes = fake->Writes(3);
  int acks = 0;
  for (const auto& w : writes)
    if (w.bytes == EntryAck('1', "8.5", false) || w.bytes == EntryAck('2', "8.5", false)) ++acks;
  EXPECT_EQ(acks, 2);
}

TEST_F(CliRun, DiveWithoutPadsSaysSoInsteadOfWaiting) {
  fake->AddPort(3);
  Serve(3, "ER400TRS-02V2.02.10", "");
  TMqToolCli cli = Cli();
  EXPECT_EQ(cli.Run(*P({"dive", "--count", "1"})), 1);
  EXPECT_NE(err.str().find("no pads registered"), std::string::npos);
}

TEST_F(CliRun, ConfigurationCommandsRescanAndSummarise) {
  fake->AddPort(3);
  Serve(3, "ER400TRS-02V2.02.10", "0");
  {
    TMqToolCli cli = Cli();
    EXPECT_EQ(cli.Run(*P({"channel", "4"})), 0) << err.str();
  }
  const auto writes = fake->Writes(3);
  EXPECT_NE(std::find_if(writes.begin(), writes.end(), [](const auto& w) { return w.bytes == "ER_CMD#C4"; }),
            writes.end());
  // Two scans: the opening one and the one after the command.
  const std::string log = out.str();
  std::size_t scans = 0;
  for (std::size_t p = 0; (p = log.find("Start Full Scan", p)) != std::string::npos; ++p) ++scans;
  EXPECT_EQ(scans, 2u);
  EXPECT_NE(log.find("Pads: 0\n"), std::string::npos);
  out.str("");
  TMqToolCli cli = Cli();
  EXPECT_EQ(cli.Run(*P({"send-cmd", "ER_CMD#B?"})), 0);
  EXPECT_NE(out.str().find("3 <-- ER_CMD#B3"), std::string::npos) << out.str();
}

TEST_F(CliRun, CommandWithoutAStationFails) {
  TMqToolCli cli = Cli();
  EXPECT_EQ(cli.Run(*P({"lock"})), 1);
  EXPECT_NE(err.str().find("no base station found"), std::string::npos);
}

// ---- reset, the rescan's verdict, interrupts, the report, text and files ----

TEST_F(CliRun, ResetWithoutAStationWalksThePortsOfTheScan) {
  for (unsigned p : {3u, 5u, 7u}) fake->AddPort(p);  // nothing answers
  TMqToolCli cli = Cli();
  EXPECT_EQ(cli.Run(*P({"reset"})), 0) << err.str();
  for (unsigned p : {3u, 5u, 7u}) {
    EXPECT_EQ(Count(fake->Writes(p), "ER_CMD#R1"), 1u) << p;
    EXPECT_EQ(Count(fake->Writes(p), "ACK"), 3u) << p;  // two identification passes, then the reset
  }
  EXPECT_NE(err.str().find("reset sent on port 7, 5, 3"), std::string::npos) << err.str();
  EXPECT_FALSE(fake->IsOpen(3));  // closed before the end
}

TEST_F(CliRun, ResetWithNothingToSendExitsOne) {
  TMqToolCli cli = Cli();
  EXPECT_EQ(cli.Run(*P({"reset"})), 1);
  EXPECT_NE(err.str().find("no port to reset"), std::string::npos) << err.str();
}

TEST_F(CliRun, ResetWithoutScanWalksThePortGiven) {
  fake->AddPort(4);
  TMqToolCli cli = Cli();
  EXPECT_EQ(cli.Run(*P({"reset", "--no-scan", "--port", "4"})), 0) << err.str();
  const auto writes = fake->Writes(4);
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0].bytes, "ER_CMD#R1");
  EXPECT_EQ(writes[1].bytes, "ACK");
}

TEST_F(CliRun, CommandsWithoutScanUseThePortGiven) {
  fake->AddPort(3);
  Serve(3, "ER400TRS-02V2.02.10", "");
  TMqToolCli cli = Cli();
  EXPECT_EQ(cli.Run(*P({"send-cmd", "ER_CMD#C?", "--no-scan", "--port", "3"})), 0) << err.str();
  EXPECT_NE(out.str().find("3 <-- ER_CMD#C7"), std::string::npos) << out.str();
  EXPECT_EQ(Count(fake->Writes(3), "ER_CMD#T3"), 0u);                                // no scan
  EXPECT_EQ(cli.Run(*P({"send-cmd", "ER_CMD#C?", "--no-scan", "--port", "9"})), 1);  // no such port
  EXPECT_NE(err.str().find("--port 9: "), std::string::npos) << err.str();
}

TEST_F(CliRun, SendCmdWithoutAReplyExitsOne) {
  fake->AddPort(3);
  Serve(3, "ER400TRS-02V2.02.10", "");
  TMqToolCli cli = Cli();
  EXPECT_EQ(cli.Run(*P({"send-cmd", "ER_CMD#Z9"})), 1);
  EXPECT_NE(err.str().find("no reply from the base station"), std::string::npos) << err.str();
}

TEST_F(CliRun, TextArgumentsLeaveAsWindows1252) {
  fake->AddPort(3);
  Serve(3, "ER400TRS-02V2.02.10", "2");
  {
    TMqToolCli cli = Cli();
    cli.Run(*P({"send-cmd", "M\u00fcller"}));
  }
  EXPECT_EQ(Count(fake->Writes(3), "\x4D\xFC\x6C\x6C\x65\x72"), 1u);
  TMqToolCli cli = Cli();
  EXPECT_EQ(cli.Run(*P({"dive", "--text", "M\u00fcller", "--count", "1"})), 0) << err.str();
  // Firmware 912 everywhere: the dive goes out as one broadcast frame.
  EXPECT_EQ(Count(fake->Writes(3), std::string("\x02"
                                               "FJ\x1a   M\xFCller\x1b"
                                               "0\x04")),
            1u)
      << out.str();
}

class CliRescan : public CliRun,
                  public ::testing::WithParamInterface<std::pair<std::vector<std::string>, std::string>> {};

// The station stops answering once the command is out: the rescan finds
// nothing, and the command says so in its exit code.
TEST_P(CliRescan, ExitStatusFollowsTheRescan) {
  fake->AddPort(3);
  gone_ = GetParam().second;
  Serve(3, "ER400TRS-02V2.02.10", "0");
  TMqToolCli cli = Cli();
  EXPECT_EQ(cli.Run(*P(GetParam().first)), 1) << out.str();
  EXPECT_NE(err.str().find("the rescan found no base station"), std::string::npos) << err.str();
  EXPECT_NE(out.str().find("Base station: No Base Station found"), std::string::npos) << out.str();
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CliRescan,
    ::testing::Values(std::pair{std::vector<std::string>{"reset"}, std::string("ER_CMD#R1")},
                      std::pair{std::vector<std::string>{"channel", "4"}, std::string("ER_CMD#C4")},
                      std::pair{std::vector<std::string>{"bandwidth", "2"}, std::string("ER_CMD#B2")},
                      std::pair{std::vector<std::string>{"dcs", "on"}, std::string("ER_CMD#A01")}));

TEST_F(CliRun, InterruptedDiveStillAcknowledgesTheAwards) {
  fake->AddPort(3);
  Serve(3, "ER400TRS-02V2.02.10", "12");
  TMqToolCli cli = Cli();
  onAward_ = [&] { cli.Interrupt(); };  // Ctrl+C as the first award comes in
  EXPECT_EQ(cli.Run(*P({"dive", "--count", "5", "--timeout", "20"})), 1);
  const auto writes = fake->Writes(3);
  EXPECT_EQ(Count(writes, EntryAck('1', "8.5", false)), 1u);
  EXPECT_EQ(Count(writes, EntryAck('2', "8.5", false)), 1u);
}

TEST_F(CliRun, InterruptedEchoSaysItWasAborted) {
  fake->AddPort(3);
  Serve(3, "ER400TRS-02V2.02.10", "5c");
  TMqToolCli cli = Cli();
  onEcho_ = [&] { cli.Interrupt(); };
  EXPECT_EQ(cli.Run(*P({"echo", "--loops", "10", "--delay", "130"})), 1);
  EXPECT_NE(err.str().find("echo test aborted: 1 of 10 loops ran"), std::string::npos) << err.str();
}

TEST_F(CliRun, EchoReportShowsTheFinalCountersLikeTheCsv) {
  fake->AddPort(3);
  Serve(3, "ER400TRS-02V2.02.10", "5c");
  echoesLeft_['c'] = 1;  // pad c answers loop 1 only: its loop-2 resend follows its last reply
  const std::string csvPath = ::testing::TempDir() + "/mqtool_cli_echo_final.csv";
  TMqToolCli cli = Cli();
  EXPECT_EQ(cli.Run(*P({"echo", "--loops", "2", "--delay", "130", "--csv", csvPath})), 1);
  EXPECT_NE(out.str().find("\n11       1       1       0       0\n"), std::string::npos) << out.str();
  std::ifstream in(csvPath, std::ios::binary);
  std::stringstream csv;
  csv << in.rdbuf();
  EXPECT_NE(csv.str().find("\r\nc,11,1,1,0,0,2,"), std::string::npos) << csv.str();
}

TEST_F(CliRun, UnwritableCsvIsRefusedBeforeTheTest) {
  fake->AddPort(3);
  Serve(3, "ER400TRS-02V2.02.10", "5");
  TMqToolCli cli = Cli();
  const std::string path = ::testing::TempDir() + "/no-such-folder/echo.csv";
  EXPECT_EQ(cli.Run(*P({"echo", "--loops", "2", "--csv", path})), 2);
  EXPECT_NE(err.str().find("cannot write " + path + ": "), std::string::npos) << err.str();
  EXPECT_EQ(fake->OpenCount(3), 0);  // nothing was sent
}

TEST_F(CliRun, EchoWritesThePerLoopCsvAndTheReport) {
  fake->AddPort(3);
  Serve(3, "ER400TRS-02V2.02.10", "5c");
  echoesLeft_['c'] = 1;  // pad c answers loop 1 only
  const std::string loops = ::testing::TempDir() + "/mqtool_cli_loops.csv";
  const std::string report = ::testing::TempDir() + "/mqtool_cli_report.html";
  TMqToolCli cli = Cli();
  EXPECT_EQ(cli.Run(*P({"echo", "--loops", "2", "--delay", "130", "--loops-csv", loops, "--report", report})), 1);
  auto read = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  };
  EXPECT_EQ(read(loops),
            "loop,pad,judge,outcome,resent,reply_loop,late_replies,ended_early\r\n"
            "1,5,5,at_once,0,1,0,\r\n"
            "1,c,11,at_once,0,1,0,\r\n"
            "2,5,5,at_once,0,2,0,\r\n"
            "2,c,11,no_answer,1,,0,\r\n");
  const std::string html = read(report);
  EXPECT_NE(html.find("<th>Port</th><td>COM3</td>"), std::string::npos);
  EXPECT_NE(html.find("<th>Program version</th><td>" MQ_TEST_PROGRAM_VERSION "</td>"), std::string::npos);
  EXPECT_NE(html.find("<th>Bandwidth</th><td>100 kHz</td>"), std::string::npos);
  EXPECT_NE(html.find("J11, loop 2: no answer"), std::string::npos);
}

TEST_F(CliRun, UnwritableReportOrLoopsCsvIsRefusedBeforeTheTest) {
  fake->AddPort(3);
  Serve(3, "ER400TRS-02V2.02.10", "5");
  const std::string path = ::testing::TempDir() + "/no-such-folder/echo.out";
  for (const char* option : {"--report", "--loops-csv"}) {
    err.str("");
    TMqToolCli cli = Cli();
    EXPECT_EQ(cli.Run(*P({"echo", "--loops", "2", option, path})), 2) << option;
    EXPECT_NE(err.str().find("cannot write " + path + ": "), std::string::npos) << err.str();
    EXPECT_EQ(fake->OpenCount(3), 0);  // nothing was sent
  }
}

}  // namespace
}  // namespace mq::padlink
