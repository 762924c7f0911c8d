// mqtool-cli's printed and written texts, byte for byte, from a link state
// and an echo record built directly (no run needed).
#include "cli/cli_output.h"

#include <gtest/gtest.h>

#include "loop/virtual_loop.h"
#include "padlink/echo_record.h"
#include "padlink/pad_link.h"
#include "padlink/window_recorder.h"
#include "serial/testing/fake_serial_platform.h"

namespace mq::padlink {
namespace {

// A station on COM3 that answered the scan: pad 1 (firmware 912) and pad c.
class CliSummary : public ::testing::Test {
 protected:
  void ScanStation(const std::string& identReply) {
    fake->AddPort(3);
    form.ComPort().SetComNumber(3);
    form.ComPort().SetOpen(true);
    form.ScanPortForPads();
    loop.runPending();
    form.FixedDataPacketStringPacket(identReply);
    fake->Inject(3,
                 "\x02"
                 "1\x06"
                 "912\x04");
    loop.runPending();
    fake->Inject(3,
                 "\x02"
                 "c\x06\x04");
    loop.runPending();
  }

  VirtualLoop loop;
  std::shared_ptr<mq::serial::FakeSerialPlatform> fake = std::make_shared<mq::serial::FakeSerialPlatform>(loop);
  TWindowRecorder win;
  TShellState shell;
  TMarqsForm form{loop, fake, win, shell, nullptr};
};

TEST_F(CliSummary, LinesOfAScannedStation) {
  ScanStation("ER_CMD#T3ER400TRS-02V2.01.7\x01");
  EXPECT_EQ(CliOutput::Summary(form, 0),
            "Base station: ER400TRS-02V2.01.7\u2401\n"  // a control byte shown, not sent to the terminal
            "Port: 3\n"
            "Channel: \n"
            "Bandwidth: 12.5 kHz (index 0)\n"
            "Channel separation: available\n"
            "Pads: 1, c\n"
            "Firmware: 0, 912\n");
  EXPECT_NE(CliOutput::Summary(form, 7).find("Bandwidth: 7 kHz (index 7)\n"), std::string::npos);
}

TEST_F(CliSummary, JsonHasTheAgreedKeys) {
  EXPECT_EQ(CliOutput::SummaryJson(form, 4),
            "{\"port\":0,\"ident\":\"\",\"channel\":\"\",\"bandwidth_index\":4,\"dcs_available\":false,"
            "\"pads\":[],\"firmware\":[]}");
  ScanStation("ER_CMD#T3ER400TRS-02V2.01.7");
  EXPECT_EQ(CliOutput::SummaryJson(form, 2),
            "{\"port\":3,\"ident\":\"ER400TRS-02V2.01.7\",\"channel\":\"\",\"bandwidth_index\":2,"
            "\"dcs_available\":true,\"pads\":[\"1\",\"c\"],\"firmware\":[\"0\",\"912\"]}");
}

// Pad 2 answered both loops (one after a resend), pad c never; the test was
// aborted after two of five loops.
class CliOutputEcho : public ::testing::Test {
 protected:
  CliOutputEcho() {
    record.Start(5, 130, {2, 11}, 0);
    record.SetStation({3, "ER400TRS \"B\", 2", "7", 2});
    record.StepStarted(1, 2);
    record.Reply(2, 1);
    record.StepStarted(1, 11);
    record.StepStarted(2, 2);
    record.Resent();
    record.Reply(2, 2);
    record.StepStarted(2, 11);
    record.Ended(1000, "ended early: aborted by the user");
    stats[2] = {2, 1, 0, 1};
    stats[11] = {0, 2, 0, 0};
  }
  TEchoRecord record;
  std::array<TEchoStat, 12> stats{};
};

TEST_F(CliOutputEcho, TableMarksSilentPadsAndTheEarlyEnd) {
  EXPECT_EQ(CliOutput::EchoTable(record, stats, 2),
            "                   ---Missed---\n"
            "J Replies Resends   Reads   Sends\n"
            "0\n1\n"
            "2       2       1       0       1\n"
            "3\n4\n5\n6\n7\n8\n9\n10\n"
            "11       0       2       0       0   (no reply)\n"
            "Loops: 2 of 5 (ended early: aborted by the user)\n");
}

TEST_F(CliOutputEcho, CsvQuotesTheStationAndSaysWhyItEnded) {
  EXPECT_EQ(CliOutput::EchoCsv(record, stats, 2, 130, "2026-05-14 07:12:09"),
            "pad,judge,replies,resends,missed_reads,missed_sends,loops,delay_ms,channel,bandwidth_khz,base_ident,"
            "date_time,loops_asked,ended_early\r\n"
            "2,2,2,1,0,1,2,130,7,50,\"ER400TRS \"\"B\"\", 2\",2026-05-14 07:12:09,5,"
            "ended early: aborted by the user\r\n"
            "c,11,0,2,0,0,2,130,7,50,\"ER400TRS \"\"B\"\", 2\",2026-05-14 07:12:09,5,"
            "ended early: aborted by the user\r\n");
  const std::string html = CliOutput::EchoReportHtml(record, stats, "2026-05-14 07:12:09");
  EXPECT_NE(html.find("<th>Port</th><td>COM3</td>"), std::string::npos);
  EXPECT_NE(html.find("<th>Bandwidth</th><td>50 kHz</td>"), std::string::npos);
}

}  // namespace
}  // namespace mq::padlink
