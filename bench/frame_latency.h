// Shared pieces of the serial_latency benchmark: the frame the far side
// writes and the percentile summary.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

namespace mq::bench {

// A 10-byte pad frame: STX, pad id, ACK, six digits, EOT.
inline std::string LatencyFrame(int i) {
  std::string digits = std::to_string(100000 + i % 900000);
  return std::string(
             "\x02"
             "3\x06") +
         digits + "\x04";
}

struct Summary {
  double p50 = 0, p99 = 0, max = 0;
  std::size_t n = 0;
};

inline Summary Summarise(std::vector<double> v) {
  Summary s;
  s.n = v.size();
  if (v.empty()) return s;
  std::sort(v.begin(), v.end());
  auto at = [&](double q) {
    return v[std::min(v.size() - 1, static_cast<std::size_t>(q * static_cast<double>(v.size())))];
  };
  s.p50 = at(0.50);
  s.p99 = at(0.99);
  s.max = v.back();
  return s;
}

// QSerialPort on the pty at path: microseconds from each write on the far
// side (masterFd) to the frame reaching the main thread through a blocking
// queued call. Empty when Qt could not open the port.
std::vector<double> QSerialPortLatency(const std::string& path, int masterFd, int samples);

}  // namespace mq::bench
