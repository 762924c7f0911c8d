// Test fixture of the pad link: TMarqsForm on the virtual-time loop with
// fake serial ports and a window recorder, plus a scripted base station that
// answers what the link writes on one port (identification after "ACK",
// channel and bandwidth queries, registration polls of the pads it has).
//
// Threading: loop thread only (the test's thread).
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "loop/virtual_loop.h"
#include "padlink/frames.h"
#include "padlink/pad_link.h"
#include "padlink/window_recorder.h"
#include "serial/testing/fake_serial_platform.h"

namespace mq::padlink::test {

inline std::string Msg(std::exception_ptr e) {
  try {
    std::rethrow_exception(e);
  } catch (const std::exception& ex) {
    return ex.what();
  }
}

inline const std::string kStx(1, STX), kEot(1, EOT), kAck(1, ACK), kEsc(1, ESC);

// A base station on one fake port.
struct ScriptedBase {
  unsigned port = 0;
  std::string ident = "ER400TRS-02V2.02.10";  // 19 bytes: a 28-byte reply
  char channel = '7';
  char bandwidth = '6';
  bool answersChannel = true;
  std::map<char, std::string> pads;  // pad id -> firmware text it reports
  std::size_t seen = 0;              // write records already answered
  bool identAsked = false;
};

class PadLinkTest : public ::testing::Test {
 protected:
  PadLinkTest() : fake(std::make_shared<mq::serial::FakeSerialPlatform>(loop)) {
    loop.setErrorHandler([this](std::exception_ptr e) { errors.push_back(Msg(e)); });
    shell.MillisecondsOfMinute = [this] { return static_cast<int>(loop.nowMs() % 60000); };
    form = std::make_unique<TMarqsForm>(loop, fake, win, shell, nullptr);
  }

  // Opens the link's port on COM n (no scan) with pad frames collected.
  void OpenPort(unsigned n) {
    fake->AddPort(n);
    form->ComPort().SetComNumber(static_cast<std::uint16_t>(n));
    form->ComPort().SetOpen(true);
    form->FramedDataPacket().SetAutoEnable(true);
    form->FramedDataPacket().SetEnabled(true);
    loop.runPending();
  }
  void Feed(unsigned n, const std::string& bytes) {
    fake->Inject(n, bytes);
    loop.runPending();
  }
  // Advances the clock ms milliseconds, 1 ms at a time, letting the scripted
  // base answer every write as soon as it is made.
  void Run(std::int64_t ms) {
    for (std::int64_t i = 0; i < ms; ++i) {
      loop.advance(1);
      Answer();
    }
  }
  void Answer() {
    if (!base) return;
    const auto writes = fake->Writes(base->port);
    for (; base->seen < writes.size(); ++base->seen) {
      const std::string& w = writes[base->seen].bytes;
      std::string reply;
      if (w == "ER_CMD#T3") {
        base->identAsked = true;
      } else if (w == "ACK" && base->identAsked) {
        base->identAsked = false;
        reply = "ER_CMD#T3" + base->ident;
      } else if (w == "ER_CMD#C?" && base->answersChannel) {
        reply = std::string("ER_CMD#C") + base->channel;
      } else if (w == "ER_CMD#B?") {
        reply = std::string("ER_CMD#B") + base->bandwidth;
      } else if (w.size() >= 5 && w[0] == STX && w.back() == EOT) {
        const char id = w[1];
        const std::string cmd = w.substr(w.size() - 3, 2);
        const bool poll = w.substr(w.size() - 4, 3) == kEsc + "13" || cmd == kEsc + "3";
        if (poll && base->pads.count(id)) reply = kStx + id + kAck + base->pads[id] + kEot;
      }
      if (!reply.empty()) fake->Inject(base->port, reply);
    }
    loop.runPending();
  }
  std::vector<std::string> WritesOf(unsigned n) const {
    std::vector<std::string> out;
    for (const auto& w : fake->Writes(n)) out.push_back(w.bytes);
    return out;
  }
  std::vector<std::int64_t> WriteTimes(unsigned n) const {
    std::vector<std::int64_t> out;
    for (const auto& w : fake->Writes(n)) out.push_back(w.timeMs);
    return out;
  }
  // Log lines from the first one equal to `from`.
  std::vector<std::string> LogFrom(const std::string& from) const {
    auto it = std::find(win.log.begin(), win.log.end(), from);
    return {it, win.log.end()};
  }
  void Register(unsigned n, char id, const std::string& firmware = "912") {
    Feed(n, kStx + id + kAck + firmware + kEot);
  }
  // Port 3 open with the given pads registered, the queue idle (the twelve
  // scan requests sent) and nothing written yet after that.
  void OpenWithPads(const std::string& ids) {
    OpenPort(3);
    form->ScanPortForPads();
    for (char id : ids) Register(3, id);
    loop.advance(13 * 120);
    fake->ClearWritten(3);
  }

  mq::VirtualLoop loop;
  std::shared_ptr<mq::serial::FakeSerialPlatform> fake;
  TWindowRecorder win;
  TShellState shell;
  std::unique_ptr<TMarqsForm> form;
  std::vector<std::string> errors;
  std::unique_ptr<ScriptedBase> base;
};

}  // namespace mq::padlink::test
