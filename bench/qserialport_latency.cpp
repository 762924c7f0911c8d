// The frame-latency measurement of serial_latency with Qt's QSerialPort: a
// reader thread with its own event loop collects STX..EOT frames and hands
// each to the main thread with a blocking queued call, the way a Qt program
// would pass it to its window.
#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QSerialPort>
#include <QThread>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <unistd.h>

#include "bench/frame_latency.h"

namespace mq::bench {

std::vector<double> QSerialPortLatency(const std::string& path, int masterFd, int samples) {
  using Clock = std::chrono::steady_clock;
  int argc = 1;
  char name[] = "serial_latency";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  QObject mainContext;

  QThread io;
  io.start();
  QObject ioContext;
  ioContext.moveToThread(&io);
  QSerialPort* sp = nullptr;
  bool opened = false;

  std::vector<Clock::time_point> t0(static_cast<std::size_t>(samples)), t1(static_cast<std::size_t>(samples));
  std::mutex mu;
  std::condition_variable cv;
  int received = 0;
  QByteArray pending;

  QMetaObject::invokeMethod(
      &ioContext,
      [&] {
        sp = new QSerialPort;
        sp->setPortName(QString::fromStdString(path));
        opened = sp->open(QIODevice::ReadWrite);
        if (!opened) return;
        sp->setBaudRate(19200);
        sp->setDataBits(QSerialPort::Data8);
        sp->setParity(QSerialPort::NoParity);
        sp->setStopBits(QSerialPort::OneStop);
        sp->setFlowControl(QSerialPort::NoFlowControl);
        QObject::connect(sp, &QSerialPort::readyRead, [&] {
          pending += sp->readAll();
          for (;;) {
            const int stx = pending.indexOf('\x02');
            if (stx < 0) {
              pending.clear();
              break;
            }
            const int eot = pending.indexOf('\x04', stx);
            if (eot < 0) break;
            pending.remove(0, eot + 1);
            QMetaObject::invokeMethod(
                &mainContext,
                [&] {
                  const auto now = Clock::now();
                  std::lock_guard lock(mu);
                  if (received < samples) t1[static_cast<std::size_t>(received)] = now;
                  ++received;
                  cv.notify_all();
                },
                Qt::BlockingQueuedConnection);
          }
        });
      },
      Qt::BlockingQueuedConnection);

  std::vector<double> out;
  if (opened) {
    std::thread writer([&] {
      for (int i = 0; i < samples; ++i) {
        const std::string f = LatencyFrame(i);
        t0[static_cast<std::size_t>(i)] = Clock::now();
        std::size_t off = 0;
        while (off < f.size()) {
          const ssize_t w = ::write(masterFd, f.data() + off, f.size() - off);
          if (w > 0) off += static_cast<std::size_t>(w);
        }
        std::unique_lock lock(mu);
        cv.wait_for(lock, std::chrono::seconds(2), [&] { return received > i; });
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::microseconds(300));
      }
      QMetaObject::invokeMethod(
          &app, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
    });
    app.exec();
    writer.join();
    for (int i = 0; i < std::min(samples, received); ++i)
      out.push_back(
          std::chrono::duration<double, std::micro>(t1[static_cast<std::size_t>(i)] - t0[static_cast<std::size_t>(i)])
              .count());
  }
  QMetaObject::invokeMethod(
      &ioContext, [&] { delete sp; }, Qt::BlockingQueuedConnection);
  io.quit();
  io.wait();
  return out;
}

}  // namespace mq::bench
