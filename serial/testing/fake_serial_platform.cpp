#include "serial/testing/fake_serial_platform.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <functional>

#include "serial/apd_exception.h"

namespace mq::serial {

// Shared between the platform's table and the device that has it open; all
// fields are guarded by the platform's mutex.
struct FakeSerialPlatform::PortState {
  bool exists = true;
  bool heldByOther = false;
  int openError = 0;
  std::string openErrorText;
  int configureError = 0;
  std::string configureErrorText;
  bool open = false;
  bool ended = false;  // vanished while open
  int openCount = 0;
  int inputPurges = 0;
  std::deque<char> pending;
  std::vector<WriteRecord> writes;
  std::optional<LineSettings> settings;
  bool dtr = false;
  bool rts = false;
  std::function<void()> activity;
};

class FakeSerialPlatform::Device : public SerialDevice {
 public:
  Device(FakeSerialPlatform& platform, std::shared_ptr<PortState> state)
      : platform_(platform), state_(std::move(state)) {}
  ~Device() override {
    mq::AnnotatedMutex::Lock lock(platform_.mu_);
    state_->open = false;
    state_->activity = nullptr;
    state_->pending.clear();
  }

  void SetupQueues(std::uint16_t, std::uint16_t) override {}
  void Configure(const LineSettings& settings) override {
    mq::AnnotatedMutex::Lock lock(platform_.mu_);
    if (state_->configureError != 0) throw EInOutError(state_->configureError, state_->configureErrorText);
    state_->settings = settings;
    state_->dtr = settings.dtr;
    state_->rts = settings.rts;
  }
  void SetDTR(bool on) override {
    mq::AnnotatedMutex::Lock lock(platform_.mu_);
    state_->dtr = on;
  }
  void SetRTS(bool on) override {
    mq::AnnotatedMutex::Lock lock(platform_.mu_);
    state_->rts = on;
  }
  IoResult Read(char* dest, std::size_t max) override {
    mq::AnnotatedMutex::Lock lock(platform_.mu_);
    if (!state_->pending.empty()) {
      const std::size_t n = std::min(max, state_->pending.size());
      std::copy_n(state_->pending.begin(), n, dest);
      state_->pending.erase(state_->pending.begin(), state_->pending.begin() + static_cast<std::ptrdiff_t>(n));
      return {IoStatus::Ok, n, 0};
    }
    if (state_->ended) return {IoStatus::End, 0, ENODEV};
    return {IoStatus::WouldBlock, 0, 0};
  }
  IoResult Write(const char* src, std::size_t count) override {
    const std::int64_t now = platform_.loop_.nowMs();
    mq::AnnotatedMutex::Lock lock(platform_.mu_);
    if (state_->ended) return {IoStatus::End, 0, ENODEV};
    state_->writes.push_back(WriteRecord{now, std::string(src, count)});
    return {IoStatus::Ok, count, 0};
  }
  void PurgeInput() override {
    mq::AnnotatedMutex::Lock lock(platform_.mu_);
    state_->pending.clear();
    ++state_->inputPurges;
  }
  void PurgeOutput() override {}
  bool UsesWorkerThreads() const override { return false; }
  WaitResult WaitReadable(int) override { return WaitResult::Interrupted; }
  WaitResult WaitWritable(int) override { return WaitResult::Interrupted; }
  void Interrupt() override {}
  void SetActivityCallback(std::function<void()> callback) override {
    bool pending;
    {
      mq::AnnotatedMutex::Lock lock(platform_.mu_);
      state_->activity = callback;
      pending = !state_->pending.empty() || state_->ended;
    }
    if (pending && callback) callback();
  }

 private:
  FakeSerialPlatform& platform_;
  std::shared_ptr<PortState> state_;
};

FakeSerialPlatform::FakeSerialPlatform(mq::Loop& loop) : loop_(loop) {}

FakeSerialPlatform::~FakeSerialPlatform() = default;

std::shared_ptr<FakeSerialPlatform::PortState> FakeSerialPlatform::Find(unsigned n) const {
  auto it = ports_.find(n);
  return it == ports_.end() ? nullptr : it->second;
}

std::shared_ptr<FakeSerialPlatform::PortState> FakeSerialPlatform::FindOrAdd(unsigned n) {
  auto& slot = ports_[n];
  if (!slot) {
    slot = std::make_shared<PortState>();
    slot->exists = false;
  }
  return slot;
}

void FakeSerialPlatform::AddPort(unsigned n) {
  mq::AnnotatedMutex::Lock lock(mu_);
  auto s = FindOrAdd(n);
  s->exists = true;
  s->ended = false;
}

void FakeSerialPlatform::RemovePort(unsigned n) {
  mq::AnnotatedMutex::Lock lock(mu_);
  if (auto s = Find(n)) s->exists = false;
}

void FakeSerialPlatform::SetHeldByOther(unsigned n, bool held) {
  mq::AnnotatedMutex::Lock lock(mu_);
  FindOrAdd(n)->heldByOther = held;
}

void FakeSerialPlatform::SetOpenFailure(unsigned n, int osError, std::string text) {
  mq::AnnotatedMutex::Lock lock(mu_);
  auto s = FindOrAdd(n);
  s->openError = osError;
  s->openErrorText = text.empty() && osError != 0 ? std::strerror(osError) : std::move(text);
}

void FakeSerialPlatform::SetConfigureFailure(unsigned n, int osError, std::string text) {
  mq::AnnotatedMutex::Lock lock(mu_);
  auto s = FindOrAdd(n);
  s->configureError = osError;
  s->configureErrorText = text.empty() && osError != 0 ? std::strerror(osError) : std::move(text);
}

void FakeSerialPlatform::Inject(unsigned n, std::string_view bytes) {
  std::function<void()> activity;
  {
    mq::AnnotatedMutex::Lock lock(mu_);
    auto s = Find(n);
    if (!s || !s->open || s->ended) return;  // nobody listens: the bytes are lost
    s->pending.insert(s->pending.end(), bytes.begin(), bytes.end());
    activity = s->activity;
  }
  if (activity) activity();
}

void FakeSerialPlatform::Vanish(unsigned n) {
  std::function<void()> activity;
  {
    mq::AnnotatedMutex::Lock lock(mu_);
    auto s = Find(n);
    if (!s) return;
    s->exists = false;
    if (s->open) {
      s->ended = true;
      activity = s->activity;
    }
  }
  if (activity) activity();
}

std::vector<FakeSerialPlatform::WriteRecord> FakeSerialPlatform::Writes(unsigned n) const {
  mq::AnnotatedMutex::Lock lock(mu_);
  auto s = Find(n);
  return s ? s->writes : std::vector<WriteRecord>{};
}

std::string FakeSerialPlatform::Written(unsigned n) const {
  std::string all;
  for (const auto& w : Writes(n)) all += w.bytes;
  return all;
}

void FakeSerialPlatform::ClearWritten(unsigned n) {
  mq::AnnotatedMutex::Lock lock(mu_);
  if (auto s = Find(n)) s->writes.clear();
}

bool FakeSerialPlatform::IsOpen(unsigned n) const {
  mq::AnnotatedMutex::Lock lock(mu_);
  auto s = Find(n);
  return s && s->open;
}

int FakeSerialPlatform::OpenCount(unsigned n) const {
  mq::AnnotatedMutex::Lock lock(mu_);
  auto s = Find(n);
  return s ? s->openCount : 0;
}

int FakeSerialPlatform::OpenHandles() const {
  mq::AnnotatedMutex::Lock lock(mu_);
  return static_cast<int>(std::count_if(ports_.begin(), ports_.end(), [](const auto& p) { return p.second->open; }));
}

std::optional<LineSettings> FakeSerialPlatform::Settings(unsigned n) const {
  mq::AnnotatedMutex::Lock lock(mu_);
  auto s = Find(n);
  return s ? s->settings : std::nullopt;
}

bool FakeSerialPlatform::DTR(unsigned n) const {
  mq::AnnotatedMutex::Lock lock(mu_);
  auto s = Find(n);
  return s && s->dtr;
}

bool FakeSerialPlatform::RTS(unsigned n) const {
  mq::AnnotatedMutex::Lock lock(mu_);
  auto s = Find(n);
  return s && s->rts;
}

std::size_t FakeSerialPlatform::PendingInput(unsigned n) const {
  mq::AnnotatedMutex::Lock lock(mu_);
  auto s = Find(n);
  return s ? s->pending.size() : 0;
}

int FakeSerialPlatform::InputPurges(unsigned n) const {
  mq::AnnotatedMutex::Lock lock(mu_);
  auto s = Find(n);
  return s ? s->inputPurges : 0;
}

std::unique_ptr<SerialDevice> FakeSerialPlatform::OpenDevice(unsigned n) {
  mq::AnnotatedMutex::Lock lock(mu_);
  auto s = Find(n);
  if (s && s->openError != 0) throw EInOutError(s->openError, s->openErrorText);
  if (!s || !s->exists) throw EBadId();
  if (s->open || s->heldByOther) throw EAlreadyOpen();
  s->open = true;
  s->ended = false;
  s->pending.clear();
  ++s->openCount;
  return std::make_unique<Device>(*this, s);
}

bool FakeSerialPlatform::DeviceKnown(unsigned n) {
  mq::AnnotatedMutex::Lock lock(mu_);
  auto s = Find(n);
  return s && s->exists;
}

void FakeSerialPlatform::SetAdvice(unsigned n, TOpenAdvice advice) {
  mq::AnnotatedMutex::Lock lock(mu_);
  advice_[n] = std::move(advice);
}

void FakeSerialPlatform::SetPortMapNotes(std::vector<TPortMapNote> notes) {
  mq::AnnotatedMutex::Lock lock(mu_);
  notes_ = std::move(notes);
}

TOpenAdvice FakeSerialPlatform::AdviceFor(unsigned n, TOpenFailure) {
  mq::AnnotatedMutex::Lock lock(mu_);
  const auto it = advice_.find(n);
  return it == advice_.end() ? TOpenAdvice{} : it->second;
}

std::vector<TPortMapNote> FakeSerialPlatform::PortMapNotes() {
  mq::AnnotatedMutex::Lock lock(mu_);
  return notes_;
}

TOpenFailure FakeSerialPlatform::OpenFailureOf(int osError) const {
  return osError == EACCES || osError == EPERM ? TOpenFailure::PermissionDenied : TOpenFailure::Other;
}

}  // namespace mq::serial
