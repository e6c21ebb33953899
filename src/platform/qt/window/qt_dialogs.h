// Qt implementations of the file chooser and the message box, over the window.
#pragma once

#include <QFileInfo>
#include <QPointer>
#include <QWidget>
#include <string>
#include <vector>

#include "platform/dialogs.h"

namespace velmora {

// Why the chooser refuses a file to be written to, in its own words; empty if it does not.
QString WriteRefusal(const QFileInfo& file);

class QtFileChooser : public FileChooser {
 public:
  std::optional<ChosenFile> ShowOpen(const OpenFileRequest& request) override;
  QPointer<QWidget> parent;

 private:
  QString lastFolder_;  // this run only
};

class QtMessageBox : public MessageBox {
 public:
  void Warning(const std::string& text) override;
  QPointer<QWidget> parent;
  // Every text shown, oldest first.
  std::vector<std::string> shown;
};

}  // namespace velmora
