// SerialPlatform: how the serial layer reaches the machine's ports. One
// implementation per platform (PosixSerialPlatform, Win32SerialPlatform),
// chosen in one place, MakeMachineSerialPlatform; tests of the layers above
// use FakeSerialPlatform (serial/testing/).
//
// OpenDevice is the exclusive open of COM n that TApdComPort makes once the
// port's settings are checked, with
// the errors the user sees when it fails (EBadId: no such device,
// EAlreadyOpen: another program holds it, EInOutError: any other system
// error with its number and text, std::bad_alloc: out of memory).
// OpenFailureOf says what such an EInOutError means to the user (the full
// scan names ports that exist but could not be opened, and why).
//
// Threading: called on the loop thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "serial/serial_device.h"

namespace mq::serial {

// Why a port could not be opened, in terms the user can act on.
enum class TOpenFailure {
  NoDevice,          // there is no such port
  InUse,             // another program holds it
  PermissionDenied,  // the user may not open the device
  Other,             // any other failure; the error's own text says which
};

// What the user can do about a port that could not be opened, as far as the
// system tells: join the group that may open the device, log in again after
// joining it, see who owns the device, or see which program holds it.
struct TOpenAdvice {
  enum class Kind { None, JoinGroup, LogInAgain, DeviceOwner, HeldBy };
  Kind kind = Kind::None;
  std::string device;   // the device that was opened
  std::string group;    // JoinGroup, LogInAgain: the group; DeviceOwner: the device's group
  std::string owner;    // DeviceOwner: the device's owner
  std::string mode;     // DeviceOwner: its permission bits, "0600"
  std::string program;  // HeldBy: the program's name
  int pid = 0;          // HeldBy: its process number
};

// A remark on how COM numbers reach devices right now, for the full scan's
// log: where the numbers come from, or what was ignored and why.
struct TPortMapNote {
  enum class Kind {
    PortsFolderUsed,        // COM numbers are the links in `path`
    PortsFolderForeign,     // `path` belongs to user `owner`: ignored
    PortsFolderNotAFolder,  // `path` is a link or a file, not a folder: ignored
    PortsFolderNoDevice,    // `path` holds no link to an existing device: ignored
    LinkForeign,            // the link `path` belongs to user `owner`: ignored
  };
  Kind kind = Kind::PortsFolderUsed;
  std::string path;
  std::string owner;
};

class SerialPlatform {
 public:
  SerialPlatform() = default;
  SerialPlatform(const SerialPlatform&) = delete;
  SerialPlatform& operator=(const SerialPlatform&) = delete;
  virtual ~SerialPlatform();

  virtual std::unique_ptr<SerialDevice> OpenDevice(unsigned comNumber) = 0;

  // Whether the system knows a device for COM n, whether or not another
  // program holds it (the probe's "ports in use count as available" mode).
  virtual bool DeviceKnown(unsigned comNumber) = 0;

  // What an EInOutError of OpenDevice carrying this system error number
  // means (EBadId and EAlreadyOpen speak for themselves). Default: Other.
  virtual TOpenFailure OpenFailureOf(int osError) const;

  // For a port that OpenDevice refused as failure: what the user can do
  // about it. Called right after the refusal. Default: nothing to add.
  virtual TOpenAdvice AdviceFor(unsigned comNumber, TOpenFailure failure);

  // Remarks on the mapping of COM numbers to devices, as the machine is now.
  // Default: none.
  virtual std::vector<TPortMapNote> PortMapNotes();
};

// The platform of the machine the program runs on. POSIX: COM numbers go
// through `dataFolder`'s ports/ links when that folder may be used, else the
// fixed device table applies; an empty `dataFolder` means the build's
// default folder, never one relative to the working directory. Windows: the
// system's COM numbers; `dataFolder` plays no part.
std::shared_ptr<SerialPlatform> MakeMachineSerialPlatform(const std::string& dataFolder);

}  // namespace mq::serial
