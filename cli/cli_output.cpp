#include "cli/cli_output.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/console_window.h"
#include "padlink/echo_record.h"
#include "padlink/echo_report.h"
#include "padlink/frames.h"
#include "padlink/pad_link.h"

namespace mq::padlink {

namespace {

constexpr const char* kBandwidthLabels[] = {"12.5", "25", "50", "100", "300"};

}  // namespace

std::string CliOutput::Summary(const TMarqsForm& form, int bandwidthIndex) {
  std::ostringstream s;
  s << "Base station: " << TConsoleWindow::Visible(form.BaseIdent()) << '\n'
    << "Port: " << (form.BasePort() > 0 ? std::to_string(form.BasePort()) : form.PortText()) << '\n'
    << "Channel: " << form.ChannelText() << '\n'
    << "Bandwidth: " << BandwidthLabel(bandwidthIndex) << " kHz (index " << bandwidthIndex << ")\n"
    << "Channel separation: " << (form.DCSAvailable() ? "available" : "not available") << '\n'
    << "Pads: " << (form.PadList().empty() ? "none" : Joined(form.PadList())) << '\n'
    << "Firmware: " << TConsoleWindow::Visible(Joined(form.FirmwareList())) << '\n';
  return s.str();
}

std::string CliOutput::SummaryJson(const TMarqsForm& form, int bandwidthIndex) {
  // Keys in this order: scripts read them.
  nlohmann::ordered_json j;
  j["port"] = form.BasePort();
  j["ident"] = form.BaseIdent();
  j["channel"] = form.ChannelText();
  j["bandwidth_index"] = bandwidthIndex;
  j["dcs_available"] = form.DCSAvailable();
  j["pads"] = form.PadList();
  j["firmware"] = form.FirmwareList();
  return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string CliOutput::EchoTable(const TEchoRecord& record, const std::array<TEchoStat, 12>& stats, int loopsRun) {
  const std::vector<int>& judges = record.Judges();
  auto registered = [&](int j) { return std::find(judges.begin(), judges.end(), j) != judges.end(); };
  std::ostringstream s;
  s << "                   ---Missed---\n"
    << "J Replies Resends   Reads   Sends\n";
  for (int j = 0; j < 12; ++j) {
    const TEchoStat& stat = stats[static_cast<std::size_t>(j)];
    if (!registered(j))
      s << j << '\n';
    else
      s << ReportRow(j, stat) << (stat.Replies == 0 ? "   (no reply)" : "") << '\n';
  }
  if (!record.EarlyEnd().empty())
    s << "Loops: " << loopsRun << " of " << record.LoopsAsked() << " (" << TConsoleWindow::Visible(record.EarlyEnd())
      << ")\n";
  return s.str();
}

std::string CliOutput::ReportRow(int judge, const TEchoStat& s) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%1d%8d%8d%8d%8d", judge, static_cast<int>(s.Replies), static_cast<int>(s.Resends),
                static_cast<int>(s.MissedReads), static_cast<int>(s.MissedSends));
  return buf;
}

std::string CliOutput::EchoCsv(const TEchoRecord& record, const std::array<TEchoStat, 12>& stats, int loopsRun,
                               int delayMs, const std::string& dateTime) {
  const TEchoStation& station = record.Station();
  std::ostringstream csv;
  csv << "pad,judge,replies,resends,missed_reads,missed_sends,loops,delay_ms,channel,bandwidth_khz,"
         "base_ident,date_time,loops_asked,ended_early\r\n";
  for (int j : record.Judges()) {
    const TEchoStat& s = stats[static_cast<std::size_t>(j)];
    csv << CsvField(std::string(1, PadId(j))) << ',' << j << ',' << s.Replies << ',' << s.Resends << ','
        << s.MissedReads << ',' << s.MissedSends << ',' << loopsRun << ',' << delayMs << ','
        << CsvField(station.Channel) << ',' << BandwidthLabel(station.BandwidthIndex) << ','
        << CsvField(station.BaseIdent) << ',' << dateTime << ',' << record.LoopsAsked() << ','
        << CsvField(record.EarlyEnd()) << "\r\n";
  }
  return csv.str();
}

std::string CliOutput::EchoReportHtml(const TEchoRecord& record, const std::array<TEchoStat, 12>& stats,
                                      const std::string& dateTime) {
  const TEchoStation& station = record.Station();
  TEchoReportFacts facts;
  facts.DateTime = dateTime;
  facts.ProgramVersion = MQ_PROGRAM_VERSION;
  facts.Port = station.Port > 0 ? "COM" + std::to_string(station.Port) : std::string();
  facts.BaseIdent = station.BaseIdent;
  facts.Channel = station.Channel;
  facts.Bandwidth = BandwidthLabel(station.BandwidthIndex) + " kHz";
  return TEchoReport(facts, record, stats).Html();
}

std::string CliOutput::JsonString(const std::string& utf8) {
  // Malformed UTF-8 (bytes a pad sent) becomes U+FFFD rather than an error.
  return nlohmann::json(utf8).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string CliOutput::CsvField(const std::string& text) { return mq::padlink::CsvField(text); }

std::string CliOutput::BandwidthLabel(int index) {
  return (index >= 0 && index <= 4) ? kBandwidthLabels[index] : std::to_string(index);
}

std::string CliOutput::Joined(const std::vector<std::string>& items) {
  std::string s;
  for (std::size_t i = 0; i < items.size(); ++i) s += (i ? ", " : "") + items[i];
  return s;
}

std::string CliOutput::ErrorText(std::exception_ptr e) {
  try {
    std::rethrow_exception(e);
  } catch (const std::exception& ex) {
    return ex.what();
  } catch (...) {
    return "unknown error";
  }
}

std::string CliOutput::LocalDateTime() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &now);
#else
  localtime_r(&now, &tm);
#endif
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

}  // namespace mq::padlink
