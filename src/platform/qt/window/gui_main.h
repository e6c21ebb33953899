// GUI_Main: the real window, built from the window model and kept in step with it.
#pragma once

#include <QTimer>
#include <QWidget>
#include <map>

#include "app/console.h"

class QComboBox;
class QLineEdit;
class QTabWidget;

namespace velmora {
class TrendsView;
}

namespace velmora {

// The terminal pane's text as shown: CR LF as line ends, other control bytes as readable
// symbols, every byte as its Latin-1 character.
QString TerminalDisplayText(const std::string& received);

class GuiMain : public QWidget {
  Q_OBJECT
 public:
  explicit GuiMain(Console& console, QWidget* parent = nullptr);

  // The widget that shows a control.
  QWidget* WidgetFor(const Control& c) const;
  // Pixels for twips at this screen's logical resolution.
  int PxX(int twips) const;
  int PxY(int twips) const;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* Create(Control& c);
  void Bind(Control& c, QWidget* w);
  void Update(Control& c, Prop p);
  void Place(Control& c);
  QWidget* ContainerWidget(const std::string& container) const;
  void RenderTerminal();
  void AddRecorderControls(TabControl& model);
  void NameFields();
  void OrderTabs();
  void ShowValue(TextBox& model, QLineEdit* e);
  void ShowChoice(ComboBox& model, QComboBox* box);

  Console& console_;
  QTabWidget* tabs_ = nullptr;
  QWidget* tabStack_ = nullptr;
  TrendsView* trends_ = nullptr;
  std::map<const Control*, QWidget*> widgets_;
  std::map<std::string, QWidget*> containers_;
  QTimer paneRender_;
  bool paneDirty_ = false;
  bool showTimes_ = false;
};

}  // namespace velmora
