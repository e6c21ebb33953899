#include "platform/qt/io/qt_platform.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSaveFile>
#include <cerrno>
#include <cstring>

namespace velmora {

QtTimer::QtTimer() {
  QObject::connect(&timer_, &QTimer::timeout, [this] {
    if (onTimer) onTimer();
  });
}

void QtTimer::SetInterval(int ms) {
  interval_ = ms;
  if (enabled_) Restart();
}

void QtTimer::SetEnabled(bool on) {
  enabled_ = on;
  Restart();
}

void QtTimer::Restart() {
  if (enabled_ && interval_ > 0)
    timer_.start(interval_);
  else
    timer_.stop();
}

std::int16_t QtFiles::FreeFile() {
  std::int16_t n = 1;
  while (open_.count(n)) ++n;
  return n;
}

FileError QtFiles::Open(std::int16_t number, const std::string& path, QIODevice::OpenMode mode) {
  if (open_.count(number)) return "File already open";
  auto file = std::make_unique<QFile>(QString::fromStdString(path));
  // Unbuffered: a failed write (disk full, device gone) is seen at once, and what was
  // written is in the file even if the console dies.
  if (!file->open(mode | QIODevice::Unbuffered)) return file->errorString().toStdString();
  open_[number] = std::move(file);
  return {};
}

FileError QtFiles::OpenForRead(std::int16_t number, const std::string& path) {
  return Open(number, path, QIODevice::ReadOnly);
}

FileError QtFiles::OpenForAppend(std::int16_t number, const std::string& path) {
  return Open(number, path, QIODevice::WriteOnly | QIODevice::Append);
}

FileError QtFiles::Replace(const std::string& path, std::string_view bytes) {
  // A device or a pipe is written to as it is: renaming over it would put a plain file there.
  const QString name = QString::fromStdString(path);
  if (QFileInfo info(name); info.exists() && !info.isFile() && !info.isDir()) {
    QFile device(name);
    if (!device.open(QIODevice::WriteOnly | QIODevice::Unbuffered) ||
        device.write(bytes.data(), static_cast<qint64>(bytes.size())) !=
            static_cast<qint64>(bytes.size()))
      return device.errorString().toStdString();
    return {};
  }
  QSaveFile file(name);
  // A full disk shows only when the buffer is flushed: without this check commit() put an empty
  // file in place of the old one and called it done.
  errno = 0;
  if (file.open(QIODevice::WriteOnly) &&
      file.write(bytes.data(), static_cast<qint64>(bytes.size())) ==
          static_cast<qint64>(bytes.size()) &&
      file.flush() && file.commit())
    return {};
  // A failed flush can leave Qt's text at "Unknown error"; the system's reason is the one to give.
  const int error = errno;
  std::string reason = file.errorString().toStdString();
  if (error != 0 && (reason.empty() || reason == "Unknown error")) reason = std::strerror(error);
  file.cancelWriting();
  return reason;
}

std::int64_t QtFiles::Length(std::int16_t number) {
  const auto it = open_.find(number);
  return it == open_.end() ? 0 : it->second->size();
}

std::string QtFiles::Read(std::int16_t number, std::size_t count) {
  const auto it = open_.find(number);
  if (it == open_.end()) return {};
  const QByteArray data = it->second->read(static_cast<qint64>(count));
  return std::string(data.constData(), static_cast<std::size_t>(data.size()));
}

FileError QtFiles::Write(std::int16_t number, std::string_view bytes) {
  const auto it = open_.find(number);
  if (it == open_.end()) return "Bad file number";
  const qint64 n = it->second->write(bytes.data(), static_cast<qint64>(bytes.size()));
  if (n != static_cast<qint64>(bytes.size())) return it->second->errorString().toStdString();
  return {};
}

void QtFiles::Close(std::int16_t number) { open_.erase(number); }
void QtFiles::CloseAll() { open_.clear(); }

void QtEventPump::ProcessEvents() { QCoreApplication::processEvents(); }

void QtEventPump::ScheduleDeferred() {
  if (scheduled_) return;
  scheduled_ = true;
  QMetaObject::invokeMethod(
      &context_,
      [this] {
        scheduled_ = false;
        if (runDeferred) runDeferred();
      },
      Qt::QueuedConnection);
}

}  // namespace velmora
