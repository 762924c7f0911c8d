#include "sim/trace_entry.h"

#include <cstdio>

namespace mqsim {

const char* traceDirName(TraceDir dir) {
  switch (dir) {
    case TraceDir::HostToBase: return "host>base";
    case TraceDir::BaseToHost: return "base>host";
    case TraceDir::BaseToPad: return "base>pad";
    case TraceDir::PadToBase: return "pad>base";
  }
  return "?";
}

const char* traceFateName(TraceFate fate) {
  switch (fate) {
    case TraceFate::Ok: return "ok";
    case TraceFate::Ignored: return "ignored";
    case TraceFate::Dropped: return "DROPPED";
    case TraceFate::Off: return "off";
    case TraceFate::OtherChannel: return "chan";
    case TraceFate::NoPad: return "nopad";
  }
  return "?";
}

std::string readableBytes(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + 8);
  for (const char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    switch (b) {
      case 0x02: out += "<STX>"; continue;
      case 0x03: out += "<ETX>"; continue;
      case 0x04: out += "<EOT>"; continue;
      case 0x06: out += "<ACK>"; continue;
      case 0x1A: out += "<SUB>"; continue;
      case 0x1B: out += "<ESC>"; continue;
      default: break;
    }
    if (b >= 0x20 && b < 0x7F && b != '<') {
      out += ch;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "<0x%02X>", b);
      out += hex;
    }
  }
  return out;
}

std::string formatTraceLine(const TraceEntry& entry) {
  std::string line = std::to_string(entry.at);
  line += ' ';
  line += traceDirName(entry.dir);
  line += ' ';
  if (entry.pad == 0)
    line += '-';
  else if (entry.pad == ' ')
    line += "<0x20>";  // keeps the pad field free of spaces
  else
    line += readableBytes(std::string_view(&entry.pad, 1));
  line += ' ';
  line += traceFateName(entry.fate);
  line += ' ';
  line += readableBytes(entry.bytes);
  return line;
}

}  // namespace mqsim
