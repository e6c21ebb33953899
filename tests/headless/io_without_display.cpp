// The I/O half of the Qt layer, every object of it linked in, runs on a bare QCoreApplication:
// deferred work runs through the event pump, then a timer fires.
#include <QCoreApplication>

#include "platform/qt/io/qt_platform.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  velmora::QtEventPump pump;
  velmora::QtTimer timer;
  bool deferred = false;
  pump.runDeferred = [&] { deferred = true; };
  timer.onTimer = [&] { app.exit(deferred ? 0 : 1); };
  pump.ScheduleDeferred();
  timer.SetInterval(1);
  timer.SetEnabled(true);
  return app.exec();
}
