#include "sim/sim_options.h"

#include <charconv>
#include <cstdlib>
#include <map>
#include <optional>

#ifndef MQ_DEFAULT_DATA_FOLDER
#define MQ_DEFAULT_DATA_FOLDER "/var/lib/Corvane/Ledgerkit/"
#endif

namespace mqsim {

namespace {

std::optional<long long> parseInt(const std::string& text) {
  long long v = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, v);
  if (ec != std::errc() || ptr != end || text.empty()) return std::nullopt;
  return v;
}

bool printable(const std::string& text) {
  for (const char ch : text)
    if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F) return false;
  return true;
}

std::vector<std::string> splitCommas(const std::string& text) {
  std::vector<std::string> parts;
  std::string cur;
  for (const char ch : text) {
    if (ch == ',') {
      parts.push_back(cur);
      cur.clear();
    } else {
      cur += ch;
    }
  }
  parts.push_back(cur);
  return parts;
}

// "912" (all pads) or "0=905,3=,a=912" (per pad), or a mix of both.
bool parsePerPad(const std::string& option, const std::string& text, std::string& all,
                 std::map<char, std::string>& each, std::string& error) {
  for (const std::string& item : splitCommas(text)) {
    const auto eq = item.find('=');
    if (eq == std::string::npos) {
      all = item;
      continue;
    }
    if (eq != 1 || judgeIndexOf(item[0]) < 0) {
      error = option + ": '" + item + "' must be <pad>=<value> with a pad id 0-9, a or c";
      return false;
    }
    each[item[0]] = item.substr(2);
  }
  return true;
}

}  // namespace

SimOptions::SimOptions() : dataFolder(MQ_DEFAULT_DATA_FOLDER), config(SimConfig::withAllPads()) {}

std::string SimOptions::usage() {
  return "usage: marq-sim --com N [--data-folder DIR] [--pads 0,1,2,3,a,c]\n"
         "                [--firmware 912 | --firmware 0=905,3=,a=912] [--ident ER400TRS-02V2.01.7]\n"
         "                [--channel 7] [--pad-channel 7 | --pad-channel 3=5,...] [--bandwidth 6]\n"
         "                [--loss 0.0] [--latency-ms 20] [--awards auto|manual] [--seed S]\n"
         "                [--trace] [--control-fifo PATH]\n"
         "Simulates an ER400TRS base station and judge pads on a pseudo-terminal bound as COM N\n"
         "(link <data folder>/ports/COM<N>). Control commands on standard input: award, judgeid,\n"
         "on, off, channel, loss, garble, status, stats, help, quit. See docs/marq-sim.md.\n";
}

bool SimOptions::parse(const std::vector<std::string>& args, std::string& error) {
  std::optional<std::string> padsText, firmwareText, padChannelText;
  bool comGiven = false;

  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> inlineValue;
    if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      inlineValue = name.substr(eq + 1);
      name.resize(eq);
    }
    if (name == "--help" || name == "-h") {
      help = true;
      continue;
    }
    if (name == "--trace") {
      trace = true;
      continue;
    }
    std::string value;
    if (inlineValue) {
      value = *inlineValue;
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      error = name.rfind("--", 0) == 0 ? name + " needs a value" : "unexpected argument '" + name + "'";
      return false;
    }

    if (name == "--com") {
      const auto v = parseInt(value);
      if (!v || *v < 1 || *v > 50) {
        error = "--com: '" + value + "' is not a COM number from 1 to 50";
        return false;
      }
      com = static_cast<int>(*v);
      comGiven = true;
    } else if (name == "--data-folder") {
      if (value.empty()) {
        error = "--data-folder: empty folder name";
        return false;
      }
      dataFolder = value;
    } else if (name == "--pads") {
      padsText = value;
    } else if (name == "--firmware") {
      firmwareText = value;
    } else if (name == "--pad-channel") {
      padChannelText = value;
    } else if (name == "--ident") {
      if (value.empty() || value.size() > 64 || !printable(value)) {
        error = "--ident: the identification must be 1 to 64 printable characters";
        return false;
      }
      config.ident = value;
    } else if (name == "--channel") {
      const auto v = parseInt(value);
      if (!v || *v < 0 || *v > 9) {
        error = "--channel: '" + value + "' is not a channel from 0 to 9";
        return false;
      }
      config.channel = static_cast<int>(*v);
    } else if (name == "--bandwidth") {
      if (value.size() != 1 || !((value[0] >= '0' && value[0] <= '3') || value[0] == '6')) {
        error = "--bandwidth: '" + value + "' is not one of the codes 0, 1, 2, 3, 6";
        return false;
      }
      config.bandwidth = value[0];
    } else if (name == "--loss") {
      char* end = nullptr;
      const double p = std::strtod(value.c_str(), &end);
      if (value.empty() || end != value.c_str() + value.size() || !(p >= 0.0 && p <= 1.0)) {
        error = "--loss: '" + value + "' is not a probability from 0 to 1";
        return false;
      }
      config.loss = p;
    } else if (name == "--latency-ms") {
      const auto v = parseInt(value);
      if (!v || *v < 0 || *v > 60000) {
        error = "--latency-ms: '" + value + "' is not a delay from 0 to 60000 ms";
        return false;
      }
      config.latencyMs = static_cast<int>(*v);
    } else if (name == "--awards") {
      if (value != "auto" && value != "manual") {
        error = "--awards: '" + value + "' must be auto or manual";
        return false;
      }
      config.autoEntries = value == "auto";
    } else if (name == "--seed") {
      std::uint64_t s = 0;
      const char* end = value.data() + value.size();
      const auto [ptr, ec] = std::from_chars(value.data(), end, s);
      if (value.empty() || ec != std::errc() || ptr != end) {
        error = "--seed: '" + value + "' is not a whole number";
        return false;
      }
      config.seed = s;
      seedGiven = true;
    } else if (name == "--control-fifo") {
      if (value.empty()) {
        error = "--control-fifo: empty path";
        return false;
      }
      controlFifo = value;
    } else {
      error = "unknown option '" + name + "'";
      return false;
    }
  }

  if (help) return true;
  if (!comGiven) {
    error = "--com N is required (the COM number the utility will see)";
    return false;
  }

  std::vector<char> ids;
  if (padsText) {
    if (!padsText->empty() && *padsText != "none") {
      for (const std::string& item : splitCommas(*padsText)) {
        if (item.size() != 1 || judgeIndexOf(item[0]) < 0) {
          error = "--pads: '" + item + "' is not a pad id (0-9, a, c)";
          return false;
        }
        for (const char seen : ids) {
          if (seen == item[0]) {
            error = "--pads: pad " + item + " is listed twice";
            return false;
          }
        }
        ids.push_back(item[0]);
      }
    }
  } else {
    for (const char* p = kPadIdAlphabet; *p != 0; ++p) ids.push_back(*p);
  }

  std::string allFirmware = "912";
  std::map<char, std::string> firmware;
  if (firmwareText && !parsePerPad("--firmware", *firmwareText, allFirmware, firmware, error)) return false;
  std::string allChannel = std::to_string(config.channel);
  std::map<char, std::string> channels;
  if (padChannelText && !parsePerPad("--pad-channel", *padChannelText, allChannel, channels, error)) return false;

  auto simulated = [&ids](char id) {
    for (const char c : ids)
      if (c == id) return true;
    return false;
  };
  for (const auto* table : {&firmware, &channels}) {
    for (const auto& [id, v] : *table) {
      if (!simulated(id)) {
        error = std::string(table == &firmware ? "--firmware" : "--pad-channel") + ": pad " + std::string(1, id) +
                " is not among --pads";
        return false;
      }
    }
  }
  auto checkFirmware = [&error](const std::string& fw) {
    if (fw.size() > 16 || !printable(fw)) {
      error = "--firmware: '" + fw + "' must be at most 16 printable characters";
      return false;
    }
    return true;
  };
  auto toChannel = [&error](const std::string& text, int& out) {
    const auto v = parseInt(text);
    if (!v || *v < 0 || *v > 9) {
      error = "--pad-channel: '" + text + "' is not a channel from 0 to 9";
      return false;
    }
    out = static_cast<int>(*v);
    return true;
  };

  config.pads.clear();
  for (const char id : ids) {
    PadConfig pc;
    pc.id = id;
    const auto fw = firmware.find(id);
    pc.firmware = fw != firmware.end() ? fw->second : allFirmware;
    if (!checkFirmware(pc.firmware)) return false;
    const auto ch = channels.find(id);
    if (!toChannel(ch != channels.end() ? ch->second : allChannel, pc.channel)) return false;
    config.pads.push_back(pc);
  }
  return true;
}

}  // namespace mqsim
