// Qt implementations of the timer, files and event pump: Qt Core only, so that a program without
// a display can use them.
#pragma once

#include <QFile>
#include <QObject>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>

#include "platform/event_pump.h"
#include "platform/files.h"
#include "platform/timer.h"

namespace velmora {

class QtTimer : public Timer {
 public:
  QtTimer();
  void SetInterval(int ms) override;
  int Interval() const override { return interval_; }
  void SetEnabled(bool on) override;
  bool Enabled() const override { return enabled_; }

 private:
  void Restart();
  QTimer timer_;
  int interval_ = 0;
  bool enabled_ = false;
};

class QtFiles : public Files {
 public:
  std::int16_t FreeFile() override;
  FileError OpenForRead(std::int16_t number, const std::string& path) override;
  FileError OpenForAppend(std::int16_t number, const std::string& path) override;
  FileError Replace(const std::string& path, std::string_view bytes) override;
  std::int64_t Length(std::int16_t number) override;
  std::string Read(std::int16_t number, std::size_t count) override;
  FileError Write(std::int16_t number, std::string_view bytes) override;
  void Close(std::int16_t number) override;
  void CloseAll() override;
  int OpenCount() const override { return static_cast<int>(open_.size()); }

 private:
  FileError Open(std::int16_t number, const std::string& path, QIODevice::OpenMode mode);
  std::map<std::int16_t, std::unique_ptr<QFile>> open_;
};

class QtEventPump : public EventPump {
 public:
  void ProcessEvents() override;
  void ScheduleDeferred() override;
  // Runs the console's deferred work.
  std::function<void()> runDeferred;

 private:
  bool scheduled_ = false;
  QObject context_;
};

}  // namespace velmora
