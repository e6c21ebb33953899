// The window as an engineer and a screen reader meet it, in each of the four program views.
#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStyleOptionComboBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <map>
#include <set>

#include "app/program_view.h"
#include "platform/qt/window/qt_dialogs.h"
#include "widget/shown_window.h"

namespace velmora::testing {
namespace {

class LegibilityTest : public ShownWindow {
 protected:
  // Each view with the longest texts the card gives.
  template <class Check>
  void InEveryView(Check check) {
    for (std::int32_t view = 0; view <= 3; ++view) {
      ApplyProgramView(c, view);
      ui.BootLoaderText.SetText("Boot Loader 2.05");
      ui.ApplicationText.SetText(view == 3 ? "CPE Application 4.17" : "Line Card Application 4.17");
      ui.FirmwareText.SetText("Radio Modem Firmware 3.11");
      if (view >= 2) ui.GenericSelect.SetListIndex(1);
      for (int tab = 0; tab < 3; ++tab) {
        ui.GUI_Tabs.SetTab(tab);
        check("view " + std::to_string(view) + " tab " + std::to_string(tab));
      }
    }
  }
  // The tab (or "" for the window) a control sits on.
  std::string TabOf(const Control& control) {
    const std::string& in = control.Container();
    return in.empty() || in.rfind("GUI_Tabs:", 0) == 0 ? in : TabOf(*ui.Find(in));
  }
};

// Text that a control shows in the space it has, or whole in its tool tip.
bool Readable(const QWidget* w, const QString& shown, const QString& whole, int room) {
  for (const QString& line : shown.split('\n'))
    if (w->fontMetrics().horizontalAdvance(line) > room) return w->toolTip().contains(whole);
  return QString(shown).replace('\n', ' ') == whole ||
         (w->toolTip().contains(whole) && w->accessibleDescription() == whole);
}

QRect TextArea(const QWidget* w) {
  return w->geometry().marginsRemoved(w->contentsMargins());
}

TEST_F(LegibilityTest, EveryTextFitsUncoveredEveryControlHasANameOfItsOwnTabbingFollowsTheLayout) {
  InEveryView([&](const std::string& where) {
    std::vector<QWidget*> shown;
    std::map<std::string, std::set<QString>> spoken;  // the accessible names on each tab
    for (Control* control : ui.Controls()) {
      QWidget* w = window->WidgetFor(*control);
      if (control->kind() == Kind::TabControl) continue;
      const std::string name = where + " " + control->Name();
      const QString said = QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name);
      EXPECT_FALSE(said.isEmpty() || said.contains('\n')) << name << " " << said.toStdString();
      if (control->kind() != Kind::Label) {
        EXPECT_TRUE(spoken[TabOf(*control)].insert(said).second)
            << name << " " << said.toStdString();
      }
      if (control->kind() == Kind::Frame || !w->isVisible()) continue;
      for (QWidget* other : shown)
        EXPECT_FALSE(other->parentWidget() == w->parentWidget() &&
                     TextArea(other).intersects(TextArea(w)))
            << name << " and " << other->objectName().toStdString();
      shown.push_back(w);
      QString text, whole;
      int room = TextArea(w).width();
      if (auto* l = qobject_cast<QLabel*>(w)) text = l->text();
      if (auto* b = qobject_cast<QPushButton*>(w)) text = b->text(), room -= 4;
      if (auto* e = qobject_cast<QLineEdit*>(w))
        text = e->text(), whole = static_cast<TextBox&>(*control).Text().c_str(), room -= 6;
      if (auto* box = qobject_cast<QComboBox*>(w)) {
        QStyleOptionComboBox option;
        option.initFrom(box);
        text = box->currentText();
        room = box->style()
                   ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, box)
                   .width();
        for (int i = 0; i < box->count(); ++i)
          EXPECT_GE(box->view()->minimumWidth(),
                    w->fontMetrics().horizontalAdvance(box->itemText(i)))
              << name << " item " << i;
      }
      if (whole.isEmpty()) whole = QString(text).replace('\n', ' ');
      EXPECT_TRUE(Readable(w, text, whole, room)) << name << " " << text.toStdString();
    }
  });
  // The version cut to fit is in the tool tip, for a screen reader too.
  auto* firmware = window->WidgetFor(ui.FirmwareText);
  EXPECT_EQ(firmware->accessibleDescription(), "Radio Modem Firmware 3.11");
  EXPECT_TRUE(firmware->toolTip().startsWith("Radio Modem Firmware 3.11"));
  EXPECT_EQ(static_cast<QLabel*>(window->WidgetFor(ui.Line1Label))->buddy(),
            window->WidgetFor(ui.Line1Hook));
  for (int tab = 0; tab < 3; ++tab) {
    QWidget* page = static_cast<QTabWidget*>(window->WidgetFor(ui.GUI_Tabs))->widget(tab);
    QWidget* previous = nullptr;
    for (QWidget* w = window->nextInFocusChain(); w != window.get(); w = w->nextInFocusChain()) {
      if (!page->isAncestorOf(w) || !(w->focusPolicy() & Qt::TabFocus) || w->objectName().isEmpty())
        continue;
      if (previous) {
        const QPoint a = previous->mapTo(page, previous->rect().center());
        const QPoint b = w->mapTo(page, w->rect().center());
        EXPECT_TRUE(b.y() - a.y() > window->PxY(150) ||
                    (std::abs(b.y() - a.y()) <= window->PxY(150) && b.x() > a.x()))
            << previous->objectName().toStdString() << " before " << w->objectName().toStdString();
      }
      previous = w;
    }
  }
}

TEST(FileChooserTest, RefusesWriteProtectedFilesAndStartsHomeThenWhereLastUsed) {
  QTemporaryDir dir;
  const QString folder = QDir(dir.path()).absolutePath();
  QFile(folder + "/ok.txt").open(QIODevice::WriteOnly);
  QFile(folder + "/ro.txt").open(QIODevice::WriteOnly);
  QFile::setPermissions(folder + "/ro.txt", QFile::ReadOwner);
  QDir(folder).mkdir("locked");
  QFile::setPermissions(folder + "/locked", QFile::ReadOwner | QFile::ExeOwner);
  EXPECT_TRUE(WriteRefusal(QFileInfo(folder + "/ro.txt")).startsWith("ro.txt is read-only."));

  // A person answers each chooser in turn ("" cancels) and closes every box, noting it.
  QStringList answers = {folder + "/locked/new.txt", folder + "/ok.txt", ""}, started, boxes;
  QTimer person;
  QObject::connect(&person, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      boxes << box->text();
      box->done(QMessageBox::Ok);
    } else if (auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
      started << d->directory().absolutePath();
      const QString answer = answers.takeFirst();
      d->findChild<QLineEdit*>("fileNameEdit")->setText(answer);
      QMetaObject::invokeMethod(d, answer.isEmpty() ? "reject" : "accept");
    }
  });
  person.start(10);
  QtFileChooser chooser;
  OpenFileRequest logging;
  logging.mustExist = false;
  logging.refuseReadOnly = true;
  const auto logFile = chooser.ShowOpen(logging);
  EXPECT_EQ(logFile ? logFile->fileTitle : "", "ok.txt");
  EXPECT_EQ(boxes,
            QStringList{folder + "/locked is write-protected.\nChoose a file in another folder."});
  EXPECT_FALSE(chooser.ShowOpen({}).has_value());
  EXPECT_EQ(started.first(), QDir::homePath());
  EXPECT_EQ(started.last(), folder);
  QFile::setPermissions(folder + "/locked", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

}  // namespace
}  // namespace velmora::testing
