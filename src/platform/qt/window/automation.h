// A line-oriented driver for tests and screenshots: reads commands on standard input, acts on the
// real widgets as a person would, and answers each command with one line on standard output.
// Only active when the console is started with VELMORA_AUTOMATION=1.
#pragma once

#include <QObject>
#include <QHash>
#include <QSocketNotifier>
#include <QTimer>
#include <QString>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "platform/dialogs.h"
#include "platform/qt/window/qt_dialogs.h"

namespace velmora {

class GuiMain;

// Answers the file chooser from the script instead of showing a dialog.
class ScriptedFileChooser : public FileChooser {
 public:
  std::optional<ChosenFile> ShowOpen(const OpenFileRequest& request) override;
  std::deque<std::optional<ChosenFile>> answers;
  std::vector<std::string> titles;
};

class Automation : public QObject {
  Q_OBJECT
 public:
  Automation(GuiMain& window, ScriptedFileChooser& chooser, QtMessageBox& messages);

 private:
  void ReadCommands();
  void Execute(const QString& line);
  void Reply(const QString& text);
  QString Get(const QString& name, const QString& property, bool* ok);
  void Wait(const QString& name, const QString& property, const QString& value, int timeoutMs,
            qint64 started);

  GuiMain& window_;
  ScriptedFileChooser& chooser_;
  QtMessageBox& messages_;
  QSocketNotifier input_;
  QByteArray pending_;
  QHash<QString, qint64> changed_;
  QTimer* latenessTimer_ = nullptr;
  qint64 lastTickNs_ = 0;
  qint64 worstLatenessNs_ = 0;
};

}  // namespace velmora
