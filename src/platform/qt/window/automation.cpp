// Commands (one per line, fields separated by one blank; the last field may hold blanks):
//   choose NAME INDEX        a person picks entry INDEX of a list (even the one shown)
//   click NAME               a person clicks a button
//   type NAME TEXT           a person types TEXT into a field, key by key
//   key NAME Return|Up|Down|Backspace
//   paste NAME TEXT          a person pastes TEXT into a field
//   tab INDEX                a person brings a tab to the front
//   get NAME PROPERTY        text, color, visible, enabled, readonly, index, count, value
//   wait NAME PROPERTY VALUE MS   answers once the property has the value, or after MS
//   answer-file PATH | answer-cancel   the next file chooser's answer
//   answer-file-type INDEX PATH   the same, with the INDEX-th file type chosen
//   boxes                    the message boxes shown so far, "|"-separated
//   close-box                closes the message box shown
//   shot PATH                saves a picture of the window
//   tip NAME                 shows the control's tool tip, as when the pointer rests on it
//   screen-shot PATH         saves a picture of the screen where the window is, tool tips included
//   watch NAME               from now on notes when the field's text changes
//   changed NAME             the monotonic time (ns) of the field's last change, 0 if none
//   lateness start|read      a 10 ms timer in the event loop; read gives its worst lateness in
//                            microseconds since start, and starts again
//   quit                     closes the window
// Every command gets one answer line: "ok" [value] or "error" reason; a value's line ends are
// written as \n and \r, its backslashes as \\.
#include "platform/qt/window/automation.h"

#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDateTime>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>
#include <QToolTip>
#include <algorithm>
#include <cstdio>
#include <ctime>

#include "platform/qt/window/gui_main.h"

namespace velmora {
namespace {

qint64 MonotonicNs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<qint64>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

void SendKey(QWidget* w, int key, const QString& text) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
  QApplication::sendEvent(w, &press);
  QApplication::sendEvent(w, &release);
}

}  // namespace

std::optional<ChosenFile> ScriptedFileChooser::ShowOpen(const OpenFileRequest& request) {
  titles.push_back(request.title);
  if (answers.empty()) return std::nullopt;
  auto answer = answers.front();
  answers.pop_front();
  return answer;
}

Automation::Automation(GuiMain& window, ScriptedFileChooser& chooser, QtMessageBox& messages)
    : window_(window),
      chooser_(chooser),
      messages_(messages), input_(STDIN_FILENO, QSocketNotifier::Read) {
  connect(&input_, &QSocketNotifier::activated, this, [this] { ReadCommands(); });
}

void Automation::ReadCommands() {
  char buffer[4096];
  const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
  if (n <= 0) {
    input_.setEnabled(false);  // the driver went away; the console goes on
    return;
  }
  pending_.append(buffer, n);
  for (qsizetype end; (end = pending_.indexOf('\n')) >= 0;) {
    const QString line = QString::fromUtf8(pending_.left(end)).trimmed();
    pending_.remove(0, end + 1);
    if (!line.isEmpty()) Execute(line);
  }
}

void Automation::Reply(const QString& text) {
  // One answer, one line: line ends and backslashes inside are escaped.
  QString escaped = text;
  escaped.replace('\\', "\\\\").replace('\n', "\\n").replace('\r', "\\r");
  const QByteArray bytes = (escaped + "\n").toUtf8();
  std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
  std::fflush(stdout);
}

QString Automation::Get(const QString& name, const QString& property, bool* ok) {
  *ok = true;
  QWidget* w = name == "GUI_Main" ? &window_ : window_.findChild<QWidget*>(name);
  if (!w) {
    *ok = false;
    return "no widget " + name;
  }
  if (property == "visible") return w->isVisibleTo(&window_) ? "1" : "0";
  if (property == "enabled") return w->isEnabled() ? "1" : "0";
  if (property == "color") return w->palette().color(QPalette::Base).name();
  if (auto* e = qobject_cast<QLineEdit*>(w)) {
    // A value cut to fit is read whole.
    if (property == "text")
      return e->isReadOnly() && e->property("wholeText").isValid()
                 ? e->property("wholeText").toString()
                 : e->text();
    if (property == "readonly") return e->isReadOnly() ? "1" : "0";
  }
  if (auto* t = qobject_cast<QPlainTextEdit*>(w); t && property == "text") return t->toPlainText();
  // A caption broken onto two lines reads as one.
  if (auto* b = qobject_cast<QAbstractButton*>(w); b && property == "text")
    return b->text().replace('\n', ' ');
  if (auto* l = qobject_cast<QLabel*>(w); l && property == "text") return l->text();
  if (auto* g = qobject_cast<QGroupBox*>(w); g && property == "text") return g->title();
  if (auto* box = qobject_cast<QComboBox*>(w)) {
    if (property == "text") return box->currentText();
    if (property == "index") return QString::number(box->currentIndex());
    if (property == "count") return QString::number(box->count());
  }
  if (auto* bar = qobject_cast<QProgressBar*>(w); bar && property == "value")
    return QString::number(bar->value());
  if (auto* tabs = qobject_cast<QTabWidget*>(w); tabs && property == "index")
    return QString::number(tabs->currentIndex());
  *ok = false;
  return "no property " + property + " on " + name;
}

void Automation::Wait(const QString& name, const QString& property, const QString& value,
                      int timeoutMs, qint64 started) {
  bool ok = false;
  const QString actual = Get(name, property, &ok);
  if (!ok) return Reply("error " + actual);
  if (actual == value) return Reply("ok");
  if (QDateTime::currentMSecsSinceEpoch() - started > timeoutMs)
    return Reply("error timeout: " + actual);
  QTimer::singleShot(20, this, [=, this] { Wait(name, property, value, timeoutMs, started); });
}

void Automation::Execute(const QString& line) {
  const QString command = line.section(' ', 0, 0);
  const QString name = line.section(' ', 1, 1);
  const QString rest = line.section(' ', 2);
  QWidget* w = window_.findChild<QWidget*>(name);
  const auto needs = [&](auto* widget) {
    if (!widget) Reply("error no such control " + name);
    return widget != nullptr;
  };

  if (command == "choose") {
    auto* box = qobject_cast<QComboBox*>(w);
    if (!needs(box)) return;
    if (!box->isEnabled() || !box->isVisibleTo(&window_)) return Reply("error not usable");
    const int i = rest.toInt();
    if (i < 0 || i >= box->count()) return Reply("error no entry " + rest);
    Reply("ok");  // before: opening the port may fail with a modal box
    box->setCurrentIndex(i);
    emit box->activated(i);
    return;
  }
  if (command == "click") {
    auto* button = qobject_cast<QAbstractButton*>(w);
    if (!needs(button)) return;
    if (!button->isEnabled() || !button->isVisibleTo(&window_)) return Reply("error not usable");
    Reply("ok");  // before: the click may open a modal box
    button->click();
    return;
  }
  if (command == "type") {
    if (!needs(w)) return;
    w->setFocus();
    for (const QChar ch : rest) SendKey(w, ch.toUpper().unicode(), QString(ch));
    return Reply("ok");
  }
  if (command == "key") {
    if (!needs(w)) return;
    const int key = rest == "Return" ? Qt::Key_Return
                    : rest == "Up"   ? Qt::Key_Up
                    : rest == "Down" ? Qt::Key_Down
                                     : Qt::Key_Backspace;
    SendKey(w, key, key == Qt::Key_Return ? "\r" : key == Qt::Key_Backspace ? "\b" : "");
    return Reply("ok");
  }
  if (command == "paste") {
    auto* edit = qobject_cast<QLineEdit*>(w);
    if (!needs(edit)) return;
    QApplication::clipboard()->setText(rest);
    edit->setFocus();
    edit->end(false);
    edit->paste();
    // QLineEdit::paste() is a person's edit: it emits textEdited.
    return Reply("ok");
  }
  if (command == "tab") {
    auto* tabs = window_.findChild<QTabWidget*>("GUI_Tabs");
    tabs->setCurrentIndex(name.toInt());
    return Reply("ok");
  }
  if (command == "get") {
    bool ok = false;
    const QString value = Get(name, rest, &ok);
    return Reply(ok ? "ok " + value : "error " + value);
  }
  if (command == "wait") {
    const QString property = rest.section(' ', 0, 0);
    const int timeout = rest.section(' ', -1).toInt();
    const QString value = rest.section(' ', 1, -2);
    return Wait(name, property, value, timeout, QDateTime::currentMSecsSinceEpoch());
  }
  if (command == "answer-file") {
    const QString path = line.section(' ', 1);
    chooser_.answers.push_back(
        ChosenFile{path.toStdString(), QFileInfo(path).fileName().toStdString()});
    return Reply("ok");
  }
  if (command == "answer-file-type") {
    const QString path = line.section(' ', 2);
    chooser_.answers.push_back(ChosenFile{path.toStdString(),
                                          QFileInfo(path).fileName().toStdString(), name.toInt()});
    return Reply("ok");
  }
  if (command == "answer-cancel") {
    chooser_.answers.push_back(std::nullopt);
    return Reply("ok");
  }
  if (command == "boxes") {
    QStringList texts;
    for (const std::string& text : messages_.shown) texts << QString::fromStdString(text);
    return Reply("ok " + QString::number(texts.size()) + " " + texts.join('|'));
  }
  if (command == "close-box") {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return Reply("error no box");
    Reply("ok");
    box->done(QMessageBox::Ok);
    return;
  }
  if (command == "tip") {
    if (!needs(w)) return;
    QToolTip::showText(w->mapToGlobal(QPoint(w->width() / 4, w->height())), w->toolTip(), w);
    return Reply(QToolTip::isVisible() ? "ok" : "error no tool tip");
  }
  if (command == "screen-shot") {
    const QString path = line.section(' ', 1);
    const QRect area = window_.frameGeometry();
    const QPixmap picture =
        window_.screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    return Reply(picture.save(path) ? "ok" : "error cannot save " + path);
  }
  if (command == "shot") {
    const QString path = line.section(' ', 1);
    return Reply(window_.grab().save(path) ? "ok" : "error cannot save " + path);
  }
  if (command == "watch") {
    auto* edit = qobject_cast<QLineEdit*>(w);
    if (!needs(edit)) return;
    if (!changed_.contains(name)) {
      changed_[name] = 0;
      connect(edit, &QLineEdit::textChanged, this, [this, name] { changed_[name] = MonotonicNs(); });
    }
    return Reply("ok");
  }
  if (command == "changed") return Reply("ok " + QString::number(changed_.value(name, 0)));
  if (command == "lateness") {
    if (name == "start") {
      worstLatenessNs_ = 0;
      lastTickNs_ = MonotonicNs();
      if (!latenessTimer_) {
        latenessTimer_ = new QTimer(this);
        latenessTimer_->setTimerType(Qt::PreciseTimer);
        latenessTimer_->setInterval(10);
        connect(latenessTimer_, &QTimer::timeout, this, [this] {
          const qint64 now = MonotonicNs();
          worstLatenessNs_ = std::max(worstLatenessNs_, now - lastTickNs_ - 10'000'000);
          lastTickNs_ = now;
        });
      }
      latenessTimer_->start();
      return Reply("ok");
    }
    const qint64 worst = worstLatenessNs_;
    worstLatenessNs_ = 0;
    return Reply("ok " + QString::number(worst / 1000));
  }
  if (command == "quit") {
    Reply("ok");
    window_.close();
    return;
  }
  Reply("error unknown command " + command);
}

}  // namespace velmora
