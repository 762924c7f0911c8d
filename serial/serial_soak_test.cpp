// Soak: 100,000 random-length pad frames written at full speed to the far
// side of a pseudo-terminal reach the framed framer's handler exactly once
// each, in order. A separate executable so it can be run or left out alone.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

#include "loop/realtime_loop.h"
#include "serial/com_port.h"
#include "serial/data_packet.h"
#include "serial/testing/collect_errors.h"
#include "serial/testing/pty_link.h"
#include "serial/serial_platform_posix.h"

namespace mq::serial {
namespace {

TEST(SerialSoak, HundredThousandFramesArriveOnceAndInOrder) {
  constexpr int kFrames = 100000;
  const std::string ids = "0123456789ac";
  std::mt19937 rng(20261209);
  std::vector<std::string> frames;
  frames.reserve(kFrames);
  std::string stream;
  for (int i = 0; i < kFrames; ++i) {
    std::string f = "\x02";
    f += ids[rng() % ids.size()];
    const std::size_t len = rng() % 48;
    for (std::size_t k = 0; k < len; ++k) {
      char c;
      do {
        c = static_cast<char>(rng() & 0xFF);
      } while (c == '\x04');  // any byte but EOT, STX included
      f += c;
    }
    f += std::to_string(i);  // makes every frame distinct
    f += '\x04';
    stream += f;
    frames.push_back(std::move(f));
  }

  PtyLink link({1});
  RealtimeLoop loop;
  std::vector<std::string> errors;
  CollectErrors(loop, errors);
  TApdComPort port(loop, std::make_shared<PosixSerialPlatform>(link.DataFolder()));
  port.SetAutoOpen(false);
  port.SetComNumber(1);
  TApdDataPacket framed;
  framed.SetComPort(&port);
  framed.SetStartString("\x02");
  framed.SetEndString("\x04");
  framed.SetEndCond({TPacketEndCond::ecString});
  framed.SetTimeOut(18);
  framed.SetAutoEnable(true);
  std::size_t next = 0, mismatches = 0;
  framed.OnStringPacket = [&](TApdDataPacket&, const std::string& data) {
    if (next >= frames.size() || data != frames[next]) ++mismatches;
    ++next;
  };
  port.SetOpen(true);
  framed.SetEnabled(true);

  std::thread writer([&] { link.Write(1, stream); });
  const bool done = loop.runUntil([&] { return next >= frames.size(); }, 50000);
  writer.join();
  loop.runFor(200);  // nothing more may come
  EXPECT_TRUE(done);
  EXPECT_EQ(next, frames.size());
  EXPECT_EQ(mismatches, 0u);
  EXPECT_TRUE(errors.empty());
  port.SetOpen(false);
}

}  // namespace
}  // namespace mq::serial
