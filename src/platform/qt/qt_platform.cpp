#include "platform/qt/qt_platform.h"

#include <QSaveFile>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QSaveFile>

#include "app/main_window.h"

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

QString WriteRefusal(const QFileInfo& file) {
  // The write bits count as well as the user's access, so that a write-protected file or folder
  // is refused the same way for every user, the administrator included.
  const auto writable = [](const QFileInfo& info) {
    return info.isWritable() &&
           (info.permissions() & (QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther));
  };
  const QFileInfo folder(file.absolutePath());
  if (!writable(folder))
    return folder.absoluteFilePath() + " is write-protected.\nChoose a file in another folder.";
  if (file.exists() && !writable(file))
    return file.fileName() + " is read-only.\nChoose another file.";
  return {};
}

std::optional<ChosenFile> QtFileChooser::ShowOpen(const OpenFileRequest& request) {
  QFileDialog dialog(parent, QString::fromStdString(request.title));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(request.mustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  // Qt's own dialog on every desktop, so that the filters read as given: the text shown is the
  // description, the pattern in the last parentheses is what the dialog matches ("*.*" would
  // hide files without a dot here).
  dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails);
  // The home folder first, then wherever the engineer last chose a file in this run.
  dialog.setDirectory(lastFolder_.isEmpty() ? QDir::homePath() : lastFolder_);
  if (!request.acceptText.empty())
    dialog.setLabelText(QFileDialog::Accept, QString::fromStdString(request.acceptText));
  if (!request.prompt.empty())
    dialog.setLabelText(QFileDialog::FileName, QString::fromStdString(request.prompt));
  QStringList filters;
  for (const FileFilter& f : request.filters) {
    const QString pattern = f.pattern == "*.*" ? "*" : QString::fromStdString(f.pattern);
    filters << QString::fromStdString(f.description) + " (" + pattern + ")";
  }
  dialog.setNameFilters(filters);
  if (request.filterIndex >= 0 && request.filterIndex < filters.size())
    dialog.selectNameFilter(filters[request.filterIndex]);
  for (;;) {
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    const QFileInfo info(dialog.selectedFiles().first());
    // Refused before anything is created or opened.
    if (const QString refusal = request.refuseReadOnly ? WriteRefusal(info) : QString();
        !refusal.isEmpty()) {
      QMessageBox::warning(parent, dialog.windowTitle(), refusal);
      continue;
    }
    if (request.saving && info.exists()) {
      const auto answer = QMessageBox::question(
          parent, dialog.windowTitle(),
          info.fileName() + " already exists.\nDo you want to replace it?");
      if (answer != QMessageBox::Yes) continue;
    } else if (!info.exists() && !request.mustExist && !request.saving) {
      const auto answer = QMessageBox::question(
          parent, dialog.windowTitle(),
          info.fileName() + " does not exist.\nDo you want to create the file?");
      if (answer != QMessageBox::Yes) continue;
    }
    lastFolder_ = info.absolutePath();
    return ChosenFile{info.absoluteFilePath().toStdString(), info.fileName().toStdString(),
                      static_cast<int>(std::max<qsizetype>(
                          0, filters.indexOf(dialog.selectedNameFilter())))};
  }
}

void QtMessageBox::Warning(const std::string& text) {
  shown.push_back(text);
  QMessageBox box(QMessageBox::Warning, kApplicationTitle, QString::fromStdString(text),
                  QMessageBox::Ok, parent);
  box.exec();
}

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
