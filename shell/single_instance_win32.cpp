#include <windows.h>

#include "shell/single_instance.h"
#include "shell/wide_text_win32.h"

namespace mq {

struct SingleInstance::Handle {
  HANDLE mutex = nullptr;
};

SingleInstance::SingleInstance(const std::string& name, const std::string& /*lockFolder*/)
    : handle_(std::make_unique<Handle>()) {
  // Initial ownership is asked for; when the mutex already exists Windows
  // ignores that request, so a refused guard never owns the other's mutex.
  HANDLE mutex = CreateMutexW(nullptr, TRUE, WideText::FromUtf8(name).c_str());
  if (mutex == nullptr) return;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return;
  }
  handle_->mutex = mutex;
  acquired_ = true;
}

SingleInstance::~SingleInstance() {
  // The program keeps its guard until it ends, when Windows releases the
  // mutex in any case; tests end guards early, so release it properly.
  if (handle_ && handle_->mutex) {
    ReleaseMutex(handle_->mutex);
    CloseHandle(handle_->mutex);
  }
}

}  // namespace mq
