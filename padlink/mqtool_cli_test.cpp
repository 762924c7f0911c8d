// mqtool-cli: argument parsing, the JSON summary and CSV quoting, and whole
// runs against fake ports answered by a scripted base station.
#include "padlink/mqtool_cli.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "loop/virtual_loop.h"
#include "padlink/console_window.h"
#include "padlink/frames.h"
#include "padlink/pad_link.h"
#include "padlink/window_recorder.h"
#include "serial/fake_serial_platform.h"

namespace mq::padlink {
namespace {

std::optional<TCliOptions> P(std::vector<std::string> args, std::string* errorOut = nullptr) {
  std::string error;
  auto o = TMqToolCli::Parse(args, error);
  if (errorOut) *errorOut = error;
  return o;
}

TEST(CliParse, CommandsAndOptions) {
  auto o = P({"scan", "--data-folder", "/tmp/x", "--json"});
  ASSERT_TRUE(o);
  EXPECT_EQ(o->command, "scan");
  EXPECT_EQ(o->dataFolder, "/tmp/x");
  EXPECT_TRUE(o->json);
  o = P({"echo", "--loops", "20", "--delay", "150", "--csv", "out.csv", "--no-scan"});
  ASSERT_TRUE(o);
  EXPECT_EQ(o->loops, 20);
  EXPECT_EQ(o->delay, 150);
  EXPECT_EQ(o->csv, "out.csv");
  EXPECT_TRUE(o->noScan);
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
  EXPECT_EQ(e, "echo needs --loops N");
  EXPECT_FALSE(P({"echo", "--loops", "0"}, &e));
  EXPECT_EQ(e, "--loops takes a whole number from 1 to 10000, not '0'");
  EXPECT_FALSE(P({"echo", "--loops", "10001"}));
  EXPECT_FALSE(P({"echo", "--loops", "5", "--delay", "120"}, &e));
  EXPECT_FALSE(P({"echo", "--loops"}, &e));
  EXPECT_EQ(e, "--loops needs a value");
  EXPECT_FALSE(P({"channel", "10"}, &e));
  EXPECT_EQ(e, "channel takes a number from 0 to 9, not '10'");
  EXPECT_FALSE(P({"channel"}, &e));
  EXPECT_EQ(e, "channel takes one argument");
  EXPECT_FALSE(P({"bandwidth", "5"}));
  EXPECT_FALSE(P({"bandwidth", "-1"}));
  EXPECT_FALSE(P({"dcs", "yes"}));
  EXPECT_FALSE(P({"scan", "extra"}, &e));
  EXPECT_EQ(e, "scan takes no argument");
  EXPECT_FALSE(P({"scan", "--colour"}, &e));
  EXPECT_EQ(e, "unknown option --colour");
}

TEST(CliText, JsonAndCsvEscaping) {
  EXPECT_EQ(TMqToolCli::JsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(TMqToolCli::JsonString(std::string("x\x02y", 3)), "\"x\\u0002y\"");
  EXPECT_EQ(TMqToolCli::JsonString("Türkçe"), "\"Türkçe\"");
  EXPECT_EQ(TMqToolCli::CsvField("912"), "912");
  EXPECT_EQ(TMqToolCli::CsvField("a,b"), "\"a,b\"");
  EXPECT_EQ(TMqToolCli::CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(TConsoleWindow::Visible(std::string("\x02" "3\x1b" "1\x04", 5)), "\u2402" "3\u241b" "1\u2404");
}

TEST(CliText, SummaryJsonHasTheAgreedKeys) {
  VirtualLoop loop;
  auto fake = std::make_shared<mq::serial::FakeSerialPlatform>(loop);
  TWindowRecorder win;
  TShellState shell;
  TMarqsForm form(loop, fake, win, shell, nullptr);
  EXPECT_EQ(TMqToolCli::SummaryJson(form, 4),
            "{\"port\":0,\"ident\":\"\",\"channel\":\"\",\"bandwidth_index\":4,\"dcs_available\":false,"
            "\"pads\":[],\"firmware\":[]}");
  fake->AddPort(3);
  form.ComPort().SetComNumber(3);
  form.ComPort().SetOpen(true);
  form.ScanPortForPads();
  loop.runPending();
  form.FixedDataPacketStringPacket("ER_CMD#T3ER400TRS-02V2.01.7");
  fake->Inject(3, "\x02" "1\x06" "912\x04");
  loop.runPending();
  fake->Inject(3, "\x02" "c\x06\x04");
  loop.runPending();
  EXPECT_EQ(TMqToolCli::SummaryJson(form, 2),
            "{\"port\":3,\"ident\":\"ER400TRS-02V2.01.7\",\"channel\":\"\",\"bandwidth_index\":2,"
            "\"dcs_available\":true,\"pads\":[\"1\",\"c\"],\"firmware\":[\"0\",\"912\"]}");
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
        if (w.find("\x1b" "13") != std::string::npos) reply = std::string("\x02") + w[1] + "\x06" "912\x04";
        if (cmd == "\x1b" "4") reply = std::string("\x02") + w[1] + "\x06" + w.substr(2, w.size() - 5) + "\x04";
        if (cmd == "\x1b" "0" && w[2] == 'J') reply = std::string("\x02") + w[1] + "8.5\x04";
      }
      if (w.size() >= 5 && w[0] == STX && w[1] == 'F' && w[2] == 'J')  // a broadcast dive reaches every pad
        for (char id : pads_) reply += std::string("\x02") + id + "8.5\x04";
      if (!reply.empty()) fake->Inject(port_, reply);
    }
    loop.addTimer(loop.nowMs() + 2, [this] { Poll(); });
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
};

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
            "date_time");
  EXPECT_NE(text.find("\r\n5,5,2,0,0,0,2,130,7,100,ER400TRS-02V2.02.10,"), std::string::npos) << text;
  EXPECT_NE(text.find("\r\nc,11,2,0,0,0,2,130,7,100,ER400TRS-02V2.02.10,"), std::string::npos);
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

}  // namespace
}  // namespace mq::padlink
