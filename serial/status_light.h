// StatusLight: what the light controller needs of a lamp. The window's
// 13 x 13 lamp widget implements it; tests use a recorder.
//
// Threading: loop thread.
#pragma once

namespace mq::serial {

class StatusLight {
 public:
  virtual ~StatusLight();
  virtual void SetLit(bool lit) = 0;
};

}  // namespace mq::serial
