// FakeSerialPlatform: serial ports for tests of the layers above (the pad
// link, the framers, the light controller) without any device or thread.
//
// Ports exist, are missing, are held by another program or fail to open
// with a given operating-system error. Every byte the port writes is
// recorded per port with the loop time it was written; Inject delivers
// received bytes; Vanish pulls a device out while it is open. Its devices
// need no worker threads: received bytes and timer triggers are processed by
// dispatcher passes on the loop thread (posted on injection, and a loop
// timer at the next trigger deadline), so a test on VirtualLoop is
// deterministic. Writes complete at once.
//
// Typical use:
//   mq::VirtualLoop loop;
//   auto fake = std::make_shared<FakeSerialPlatform>(loop);
//   fake->AddPort(3);
//   TApdComPort port(loop, fake);
//   port.SetComNumber(3); port.SetOpen(true);
//   fake->Inject(3, "\x02" "0\x06" "ab\x04");
//   loop.runPending();             // framers deliver their packets
//   fake->Written(3);              // everything PutString sent
//
// Threading: meant for the loop thread; its own state is locked, so Inject
// may also be called from another thread (the pass is posted to the loop).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "loop/loop.h"
#include "serial/serial_platform.h"
#include "util/annotated_mutex.h"
#include "util/thread_annotations.h"

namespace mq::serial {

class FakeSerialPlatform : public SerialPlatform {
 public:
  struct WriteRecord {
    std::int64_t timeMs;
    std::string bytes;
  };

  explicit FakeSerialPlatform(mq::Loop& loop);
  ~FakeSerialPlatform() override;

  // ---- Port table ----
  void AddPort(unsigned comNumber);                    // exists and is free
  void RemovePort(unsigned comNumber);                 // no such device (EBadId)
  void SetHeldByOther(unsigned comNumber, bool held);  // EAlreadyOpen
  // Opening fails with EInOutError(osError, text) (0: no failure). The
  // fake reads error numbers as POSIX does: EACCES and EPERM are a port the
  // user may not open.
  void SetOpenFailure(unsigned comNumber, int osError, std::string text = {});
  // What AdviceFor answers for a port that could not be opened.
  void SetAdvice(unsigned comNumber, TOpenAdvice advice);
  // What PortMapNotes answers.
  void SetPortMapNotes(std::vector<TPortMapNote> notes);
  // Writing the line settings fails with EInOutError (0: no failure).
  void SetConfigureFailure(unsigned comNumber, int osError, std::string text = {});

  // ---- Traffic ----
  // Bytes arrive at the device; lost when the port is not open.
  void Inject(unsigned comNumber, std::string_view bytes);
  // The device disappears: it no longer exists and an open handle ends
  // (its reads report the end of the line, its writes fail).
  void Vanish(unsigned comNumber);
  std::vector<WriteRecord> Writes(unsigned comNumber) const;
  std::string Written(unsigned comNumber) const;
  void ClearWritten(unsigned comNumber);

  // ---- Inspection ----
  bool IsOpen(unsigned comNumber) const;
  int OpenCount(unsigned comNumber) const;  // successful opens so far
  int OpenHandles() const;                  // handles open on all ports
  std::optional<LineSettings> Settings(unsigned comNumber) const;
  bool DTR(unsigned comNumber) const;
  bool RTS(unsigned comNumber) const;
  std::size_t PendingInput(unsigned comNumber) const;  // injected, not yet read
  int InputPurges(unsigned comNumber) const;

  // ---- SerialPlatform ----
  std::unique_ptr<SerialDevice> OpenDevice(unsigned comNumber) override;
  bool DeviceKnown(unsigned comNumber) override;
  TOpenFailure OpenFailureOf(int osError) const override;
  TOpenAdvice AdviceFor(unsigned comNumber, TOpenFailure failure) override;
  std::vector<TPortMapNote> PortMapNotes() override;

  struct PortState;
  class Device;

 private:
  std::shared_ptr<PortState> Find(unsigned comNumber) const MQ_REQUIRES(mu_);
  std::shared_ptr<PortState> FindOrAdd(unsigned comNumber) MQ_REQUIRES(mu_);

  mq::Loop& loop_;
  // Guards the tables below and every PortState (which the analysis cannot
  // tie to this lock: a device reaches its state through its own pointer).
  mutable mq::AnnotatedMutex mu_;
  std::map<unsigned, std::shared_ptr<PortState>> ports_ MQ_GUARDED_BY(mu_);
  std::map<unsigned, TOpenAdvice> advice_ MQ_GUARDED_BY(mu_);
  std::vector<TPortMapNote> notes_ MQ_GUARDED_BY(mu_);
};

}  // namespace mq::serial
