// Runs a serial Dispatcher from the Qt event loop of the thread that owns it:
// a QSocketNotifier per port descriptor (read while the port has room, write
// while output waits) and one QTimer for the next trigger deadline. Port
// handlers are then called on that thread, one at a time; a handler that
// lets Qt events run while it waits for the modem is not entered again.
//
//   serial::Dispatcher dispatcher;          // on the real clock
//   qtserial::QtPortDriver driver(dispatcher);
//   serial::ComPort port(dispatcher);       // ports may come and go at any time
//
// Qt timers run on real time: use it with a dispatcher on the real clock.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <map>
#include <memory>

#include "platform/serial/dispatcher.h"

namespace veltrane::qtserial {

class QtPortDriver {
 public:
  explicit QtPortDriver(serial::Dispatcher& dispatcher);
  ~QtPortDriver();
  QtPortDriver(const QtPortDriver&) = delete;
  QtPortDriver& operator=(const QtPortDriver&) = delete;

  // Looks at the dispatcher's descriptors and deadline again. The dispatcher
  // asks for this itself whenever they change.
  void refresh();

 private:
  struct Notifiers {
    std::unique_ptr<QSocketNotifier> read;
    std::unique_ptr<QSocketNotifier> write;
  };
  void onActivity();
  QSocketNotifier* makeNotifier(int fd, QSocketNotifier::Type type);
  static void retire(std::unique_ptr<QSocketNotifier>& n);

  serial::Dispatcher& dispatcher_;
  QObject context_;
  QTimer timer_;
  std::map<int, Notifiers> fds_;
};

}  // namespace veltrane::qtserial
