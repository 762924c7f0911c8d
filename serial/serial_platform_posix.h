// PosixSerialPlatform: the machine's serial ports on POSIX (Linux first).
//
// COM numbers map to devices in one place (MapPorts): when the folder
// <DataFolder>/ports/ is in use, COM<n> is the link ports/COM<n> in it and
// nothing else (an installer, a user, marq-sim or a test binds any device to
// a number that way); otherwise COM1-16 are /dev/ttyS0-15, COM17-32
// /dev/ttyUSB0-15 and COM33-48 /dev/ttyACM0-15 (FixedDevicePath).
// The data folder is shared by a group, so ports/ and its links are another
// user's input: the folder is in use only when it is a real folder (not a
// link) of this user or root, holding at least one link of this user or
// root to an existing device (a simulator that was killed leaves dead links
// behind, which must not hide the machine's own ports); a link of another
// user is ignored. Each link is read once and its target opened, never the
// link again, so a link swapped in between is not followed. PortMapNotes
// says what was used or ignored and why.
//
// Opening is exclusive (TIOCEXCL, and an flock that also holds for root),
// non-blocking and without becoming the controlling terminal; the line is
// raw, with the port's speed and framing, DTR and RTS as asked. Errors:
// no device -> EBadId; in use (EBUSY or the lock held) -> EAlreadyOpen;
// anything else, permission denied included -> EInOutError with the
// system's number and text (OpenFailureOf: EACCES/EPERM mean the user may
// not open the device). A device the user may not open that the kernel
// reports as an empty serial slot (sysfs type 0) is no device, as it is
// for those who may open it.
//
// Threading: OpenDevice/DeviceKnown on the loop thread. The devices it
// opens need the dispatcher's worker threads; their waits use poll on the
// device and a wake-up pipe, so a received byte wakes the reader at once.
#pragma once

#include <optional>
#include <string>

#include "serial/serial_platform.h"

namespace mq::serial {

class PosixSerialPlatform : public SerialPlatform {
 public:
  // dataFolder: the program's data folder (with or without a trailing '/').
  explicit PosixSerialPlatform(std::string dataFolder);

  std::unique_ptr<SerialDevice> OpenDevice(unsigned comNumber) override;
  bool DeviceKnown(unsigned comNumber) override;
  TOpenFailure OpenFailureOf(int osError) const override;

  TOpenAdvice AdviceFor(unsigned comNumber, TOpenFailure failure) override;
  std::vector<TPortMapNote> PortMapNotes() override;

  // The device of COM n in the fixed table, or none. Pure.
  static std::optional<std::string> FixedDevicePath(unsigned comNumber);
  // How COM numbers map for this platform's data folder, as the machine is
  // now: the devices bound in ports/ (when it is in use) and the notes.
  struct PortMap {
    bool portsFolderUsed = false;
    std::vector<std::optional<std::string>> devices;  // [n]: the device of COM n (n <= 50)
    std::vector<TPortMapNote> notes;
  };
  PortMap MapPorts() const;
  // The device of COM n, as the machine is now.
  std::optional<std::string> DevicePath(unsigned comNumber) const;
  // What the user can do about the device at path that the user may not
  // open (PermissionDenied) or that another program holds (InUse).
  static TOpenAdvice AdviceForDevice(const std::string& path, TOpenFailure failure);
  // Throws the serial layer's error for an errno of opening a device.
  [[noreturn]] static void RaiseOpenError(int osError);
  // Whether sysfsTty (the folder /sys/class/tty/<name> of a device) marks
  // a serial port without hardware. Pure but for reading that folder.
  static bool EmptySerialSlot(const std::string& sysfsTty);

  const std::string& DataFolder() const { return dataFolder_; }

 private:
  std::string dataFolder_;
};

}  // namespace mq::serial
