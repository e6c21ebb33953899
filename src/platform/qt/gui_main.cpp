// Builds GUI_Main's widgets from the window model. Model changes reach the widgets through the
// controls' observers; widgets reach the model only through a person's actions, never through
// programmatic changes, so each handler runs exactly once per action.
#include "platform/qt/gui_main.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QTabWidget>
#include <QVBoxLayout>
#include <cmath>

#include "app/lifecycle.h"
#include "platform/qt/trends_view.h"

namespace velmora {
namespace {

QString Latin1(const std::string& s) {
  return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

std::string ToLatin1(const QString& s) {
  const QByteArray bytes = s.toLatin1();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QFont TerminalFont() {
  QFont font("Courier New", 9);
  font.setStyleHint(QFont::TypeWriter);
  if (QFontInfo(font).family() != "Courier New") {
    font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(9);
  }
  return font;
}

// A caption too wide for its control is broken at a blank onto two lines where the control is
// tall enough (as buttons are), or else set a little smaller, down to a legible minimum, rather
// than cut off: the layout is fixed and the platform's font may be wider than the one it was
// drawn for. Returns the text to show.
QString FitCaption(QWidget* w, const QString& caption, int margin) {
  QFont f = w->parentWidget() ? w->parentWidget()->font() : w->font();
  QString shown = caption;
  for (double size = f.pointSizeF(); size >= 6; size -= 0.5) {
    f.setPointSizeF(size);
    const QFontMetrics metrics(f);
    const auto fits = [&](const QString& line) {
      return metrics.horizontalAdvance(line) + margin <= w->width();
    };
    if (fits(caption)) {
      shown = caption;
      break;
    }
    const qsizetype blank = caption.lastIndexOf(' ', caption.size() / 2 + 1);
    const qsizetype split = blank > 0 ? blank : caption.indexOf(' ');
    if (split > 0 && 2 * metrics.lineSpacing() + 4 <= w->height() &&
        fits(caption.left(split)) && fits(caption.mid(split + 1))) {
      shown = caption.left(split) + '\n' + caption.mid(split + 1);
      break;
    }
  }
  w->setFont(f);
  return shown;
}

QColor ToQColor(Color c, const QPalette& palette) {
  if (c == kSystemDisplayGrey) return palette.color(QPalette::Window);
  if (IsSystemColor(c)) return palette.color(QPalette::Base);
  return QColor::fromRgb(static_cast<QRgb>(c));
}

}  // namespace

QString TerminalDisplayText(const std::string& received) {
  QString shown;
  shown.reserve(static_cast<qsizetype>(received.size()));
  for (std::size_t i = 0; i < received.size(); ++i) {
    const auto byte = static_cast<unsigned char>(received[i]);
    if (byte == '\r' && i + 1 < received.size() && received[i + 1] == '\n') {
      shown += QChar('\n');
      ++i;
    } else if (byte == '\n' || byte == '\t') {
      shown += QChar(byte);
    } else if (byte < 0x20) {
      shown += QChar(0x2400 + byte);  // the control picture of the character
    } else if (byte == 0x7F) {
      shown += QChar(0x2421);
    } else {
      shown += QChar(byte);  // Latin-1
    }
  }
  return shown;
}

GuiMain::GuiMain(Console& console, QWidget* parent) : QWidget(parent), console_(console) {
  // The pane is redrawn at most every few tens of milliseconds, however fast the card sends.
  paneRender_.setSingleShot(true);
  paneRender_.setInterval(30);
  connect(&paneRender_, &QTimer::timeout, this, [this] { RenderTerminal(); });
  setObjectName("GUI_Main");
  setWindowTitle(kWindowCaption);
  // The layout's captions were sized for a small dialog font.
  QFont small = font();
  small.setPointSizeF(8);
  setFont(small);
  setFixedSize(PxX(kClientWidthTwips), PxY(kClientHeightTwips));
  containers_[""] = this;
  for (Control* c : console_.ui.Controls()) Bind(*c, Create(*c));
  console_.closeWindow = [this] { close(); };
}

int GuiMain::PxX(int twips) const { return static_cast<int>(std::lround(twips * logicalDpiX() / 1440.0)); }
int GuiMain::PxY(int twips) const { return static_cast<int>(std::lround(twips * logicalDpiY() / 1440.0)); }

QWidget* GuiMain::WidgetFor(const Control& c) const {
  const auto it = widgets_.find(&c);
  return it == widgets_.end() ? nullptr : it->second;
}

QWidget* GuiMain::ContainerWidget(const std::string& container) const {
  const auto it = containers_.find(container);
  return it == containers_.end() ? const_cast<GuiMain*>(this) : it->second;
}

QWidget* GuiMain::Create(Control& c) {
  QWidget* parent = ContainerWidget(c.Container());
  QWidget* w = nullptr;
  switch (c.kind()) {
    case Kind::Label:
      w = new QLabel(parent);
      break;
    case Kind::Frame:
      w = new QGroupBox(parent);
      containers_[c.Name()] = w;
      break;
    case Kind::CommandButton: {
      auto* b = new QPushButton(parent);
      auto& model = static_cast<CommandButton&>(c);
      connect(b, &QPushButton::clicked, this, [&model] { model.UserClick(); });
      w = b;
      break;
    }
    case Kind::TextBox: {
      auto& model = static_cast<TextBox&>(c);
      if (model.MultiLine()) {
        auto* t = new QPlainTextEdit(parent);
        t->setLineWrapMode(QPlainTextEdit::NoWrap);
        t->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        t->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        t->setUndoRedoEnabled(false);
        w = t;
      } else {
        auto* e = new QLineEdit(parent);
        if (model.Centred()) e->setAlignment(Qt::AlignCenter);
        connect(e, &QLineEdit::textEdited, this, [&model, e](const QString& text) {
          model.UserEdit(ToLatin1(text));
          // The field may refuse part of what was pasted: show what it kept.
          const QString kept = Latin1(model.Text());
          if (e->text() != kept) e->setText(kept);
        });
        e->installEventFilter(this);
        w = e;
      }
      if (model.FixedFont()) w->setFont(TerminalFont());
      break;
    }
    case Kind::ComboBox: {
      auto* box = new QComboBox(parent);
      auto& model = static_cast<ComboBox&>(c);
      // activated, not currentIndexChanged: a person choosing the entry already chosen is a
      // click too, and changes made by code are no clicks from here.
      connect(box, &QComboBox::activated, this,
              [&model](int i) { model.UserChoose(static_cast<std::int16_t>(i)); });
      w = box;
      break;
    }
    case Kind::ProgressBar:
      w = new QProgressBar(parent);
      static_cast<QProgressBar*>(w)->setTextVisible(false);
      break;
    case Kind::TabControl: {
      tabs_ = new QTabWidget(parent);
      auto& model = static_cast<TabControl&>(c);
      for (std::size_t i = 0; i < model.Captions().size(); ++i) {
        auto* page = new QWidget;
        tabs_->addTab(page, Latin1(model.Captions()[i]));
        containers_[c.Name() + ":" + std::to_string(i)] = page;
        // The charts fill their page; they are the toolkit's, not controls of the model.
        if (model.Captions()[i] == "Trends") {
          auto* layout = new QVBoxLayout(page);
          layout->setContentsMargins(0, 0, 0, 0);
          trends_ = new TrendsView(console_, page);
          layout->addWidget(trends_);
        }
      }
      connect(tabs_, &QTabWidget::currentChanged, this, [this, &model](int i) {
        model.UserShowTab(i);
        if (paneDirty_) paneRender_.start();
      });
      // Positions inside the tab control count from its corner, the pages start below the
      // tabs: re-place their members whenever the page area moves.
      tabStack_ = tabs_->findChild<QStackedWidget*>();
      if (tabStack_) tabStack_->installEventFilter(this);
      w = tabs_;
      break;
    }
  }
  w->setObjectName(QString::fromStdString(c.Name()));
  return w;
}

void GuiMain::Bind(Control& c, QWidget* w) {
  widgets_[&c] = w;
  for (Prop p : {Prop::Geometry, Prop::Visible, Prop::Enabled, Prop::ToolTip, Prop::Caption,
                 Prop::Items, Prop::ListIndex, Prop::Text, Prop::Locked, Prop::BackColor,
                 Prop::Value, Prop::Tab})
    Update(c, p);
  c.SetObserver([this](Control& control, Prop p) { Update(control, p); });
}

void GuiMain::Place(Control& c) {
  QWidget* w = WidgetFor(c);
  const Twips& g = c.Geometry();
  QRect r(PxX(g.left), PxY(g.top), PxX(g.width), PxY(g.height));
  if (tabStack_ && w->parentWidget() && w->parentWidget()->parentWidget() == tabStack_)
    r.translate(-tabStack_->pos());
  w->setGeometry(r);
}

bool GuiMain::eventFilter(QObject* watched, QEvent* event) {
  if (watched == tabStack_ && (event->type() == QEvent::Move || event->type() == QEvent::Resize)) {
    for (Control* c : console_.ui.Controls())
      if (c->Container().rfind("GUI_Tabs:", 0) == 0) Place(*c);
  }
  if (event->type() == QEvent::KeyPress) {
    for (auto& [control, widget] : widgets_) {
      if (widget != watched || control->kind() != Kind::TextBox) continue;
      auto& model = const_cast<TextBox&>(static_cast<const TextBox&>(*control));
      auto* key = static_cast<QKeyEvent*>(event);
      if (model.onKeyDown) {
        const int k = key->key();
        if ((k == Qt::Key_Return || k == Qt::Key_Enter) && model.UserKeyDown(Key::Enter))
          return true;
        if (k == Qt::Key_Up && model.UserKeyDown(Key::Up)) return true;
        if (k == Qt::Key_Down && model.UserKeyDown(Key::Down)) return true;
      }
      if (!model.onKeyPress) break;
      // Only typed characters go through the key filter: shortcuts (paste, copy, undo) and
      // editing keys (Delete, arrows) act as usual, and pasted text is filtered as a whole.
      std::int16_t code = 0;
      const bool shortcut = key->modifiers() & (Qt::ControlModifier | Qt::MetaModifier);
      if (key->key() == Qt::Key_Backspace)
        code = 8;
      else if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
        code = 13;
      else if (!shortcut && !key->text().isEmpty() && key->text().at(0).isPrint())
        code = static_cast<std::int16_t>(std::min<int>(key->text().at(0).unicode(), 0x7FFF));
      else
        break;
      if (!model.UserKeyPress(code)) return true;
      break;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void GuiMain::Update(Control& c, Prop p) {
  QWidget* w = WidgetFor(c);
  if (!w) return;
  switch (p) {
    case Prop::Geometry:
      Place(c);
      return;
    case Prop::Visible:
      w->setVisible(c.Visible());
      return;
    case Prop::ToolTip:
      w->setToolTip(Latin1(c.ToolTip()));
      return;
    default:
      break;
  }
  switch (c.kind()) {
    case Kind::Label:
      if (p == Prop::Caption) {
        static_cast<QLabel*>(w)->setText(FitCaption(w, Latin1(static_cast<Label&>(c).Caption()), 0));
      } else if (p == Prop::Enabled)
        w->setEnabled(c.Enabled());
      break;
    case Kind::Frame:
      if (p == Prop::Caption)
        static_cast<QGroupBox*>(w)->setTitle(Latin1(static_cast<Frame&>(c).Caption()));
      else if (p == Prop::Enabled)
        w->setEnabled(c.Enabled());
      break;
    case Kind::CommandButton:
      if (p == Prop::Caption) {
        static_cast<QPushButton*>(w)->setText(
            FitCaption(w, Latin1(static_cast<CommandButton&>(c).Caption()), 12));
      } else if (p == Prop::Enabled)
        w->setEnabled(c.Enabled());
      break;
    case Kind::TextBox: {
      auto& model = static_cast<TextBox&>(c);
      if (auto* t = qobject_cast<QPlainTextEdit*>(w)) {
        if (p == Prop::Text) {
          paneDirty_ = true;
          if (t->isVisible() && !paneRender_.isActive()) paneRender_.start();
        } else if (p == Prop::Locked) {
          t->setReadOnly(model.Locked());
        } else if (p == Prop::Enabled) {
          w->setEnabled(c.Enabled());
        }
      } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
        if (p == Prop::Text) {
          const QString text = Latin1(model.Text());
          if (e->text() != text) {
            e->setText(text);
            // A value shown by the console is read from its start.
            if (model.Locked()) e->setCursorPosition(0);
          }
        } else if (p == Prop::Locked) {
          e->setReadOnly(model.Locked());
        } else if (p == Prop::Enabled) {
          w->setEnabled(c.Enabled());
        }
      }
      if (p == Prop::BackColor) {
        QPalette palette = w->palette();
        palette.setColor(QPalette::Base, ToQColor(model.BackColor(), QWidget::palette()));
        w->setPalette(palette);
      }
      break;
    }
    case Kind::ComboBox: {
      auto* box = static_cast<QComboBox*>(w);
      auto& model = static_cast<ComboBox&>(c);
      const QSignalBlocker block(box);
      if (p == Prop::Items) {
        box->clear();
        for (const auto& item : model.Items()) {
          box->addItem(Latin1(item.text), item.data);
          if (!item.toolTip.empty())
            box->setItemData(box->count() - 1, Latin1(item.toolTip), Qt::ToolTipRole);
        }
        box->setCurrentIndex(model.ListIndex());
      } else if (p == Prop::ListIndex) {
        box->setCurrentIndex(model.ListIndex());
      } else if (p == Prop::Enabled || p == Prop::Locked) {
        // A locked list shows its entry but takes no choice.
        box->setEnabled(model.Enabled() && !model.Locked());
      }
      break;
    }
    case Kind::ProgressBar: {
      auto* bar = static_cast<QProgressBar*>(w);
      auto& model = static_cast<ProgressBar&>(c);
      bar->setRange(static_cast<int>(model.Min()), static_cast<int>(model.Max()));
      bar->setValue(static_cast<int>(std::lround(model.Value())));
      break;
    }
    case Kind::TabControl:
      if (p == Prop::Tab) {
        const QSignalBlocker block(tabs_);
        tabs_->setCurrentIndex(static_cast<TabControl&>(c).Tab());
        if (paneDirty_) paneRender_.start();
      }
      break;
  }
}

void GuiMain::RenderTerminal() {
  auto* pane = static_cast<QPlainTextEdit*>(WidgetFor(console_.ui.TerminalText));
  // A pane nobody sees is drawn when its tab is shown: polling an idle card costs nothing then.
  if (!pane->isVisible()) return;
  paneDirty_ = false;
  QScrollBar* bar = pane->verticalScrollBar();
  // Follow the newest text unless the engineer has scrolled up to read.
  const bool following = bar->value() == bar->maximum();
  const int from = bar->value();
  const int column = pane->horizontalScrollBar()->value();
  pane->setPlainText(TerminalDisplayText(console_.ui.TerminalText.Text()));
  bar->setValue(following ? bar->maximum() : from);
  pane->horizontalScrollBar()->setValue(column);
}

void GuiMain::closeEvent(QCloseEvent* event) {
  UnloadMainWindow(console_);
  event->accept();
}

}  // namespace velmora
