#include "platform/qt/window/qt_dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <algorithm>

#include "app/main_window.h"

namespace velmora {

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

}  // namespace velmora
