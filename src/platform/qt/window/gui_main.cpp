// Builds GUI_Main's widgets from the window model. Model changes reach the widgets through the
// controls' observers; widgets reach the model only through a person's actions, never through
// programmatic changes, so each handler runs exactly once per action.
#include "platform/qt/window/gui_main.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QStyleOptionFrame>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "app/lifecycle.h"
#include "platform/qt/window/trends_view.h"
#include "recorder/saving.h"

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
      return metrics.horizontalAdvance(line) + margin <= w->contentsRect().width();
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

// A caption as a name: one line, without the colon that leads to its field.
QString PlainName(QString caption) {
  caption.replace('\n', ' ');
  caption = caption.trimmed();
  if (caption.endsWith(':')) caption.chop(1);
  return caption;
}

// Fields are named after the label in front of them; a label over two fields names each apart.
struct Labelled {
  const char* label;
  const char* field;
  const char* name;  // empty: the label's caption
};
constexpr Labelled kLabelled[] = {
    {"CommPortLabel", "CommPortSelect", ""},
    {"ProgramLabel", "ProgramText", ""},
    {"SoftwareLabel", "BootLoaderText", "Boot loader version"},
    {"SoftwareLabel", "ApplicationText", "Application version"},
    {"FirmwareLabel", "FirmwareText", ""},
    {"FrequencyLabel", "FrequencyText", ""},
    {"CdmaLabel", "CdmaText", ""},
    {"TimeSlotLabel", "TimeSlotText", ""},
    {"SfdLabel", "SfdText", ""},
    {"V35Label", "V35Select", ""},
    {"GenericLabel", "GenericSelect", ""},
    {"OpStateLabel", "OpStateText", ""},
    {"CpeLabel", "CpeSelect", ""},
    {"RssiLabel", "RssiText", ""},
    {"SfdLossLabel", "SfdLossText", ""},
    {"Line1Label", "Line1Hook", "Line 1 hook state"},
    {"Line1Label", "Line1Ring", "Line 1 ring state"},
    {"Line2Label", "Line2Hook", "Line 2 hook state"},
    {"Line2Label", "Line2Ring", "Line 2 ring state"},
    {"BattVoltLabel", "BattVoltText", ""},
    {"TemperatureLabel", "TemperatureText", ""},
    {"CommandLineLabel", "CommandLineText", ""},
};

// Fields without a label of their own.
constexpr std::pair<const char*, const char*> kUnlabelled[] = {
    {"TerminalText", "Received text"},
    {"DownloadStatus", "Download status"},
    {"DownloadProgress", "Download progress"},
};

// The width a line edit has for its text.
int TextRoom(const QLineEdit* e) {
  QStyleOptionFrame option;
  option.initFrom(e);
  option.rect = e->rect();
  option.lineWidth =
      e->hasFrame() ? e->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, e) : 0;
  const QMargins margins = e->textMargins();
  // Qt keeps two pixels free on either side of the text.
  return e->style()->subElementRect(QStyle::SE_LineEditContents, &option, e).width() -
         margins.left() - margins.right() - 4;
}

// The tool tip of a control whose text is shown cut: the whole text first, then its own tip.
QString WholeTextTip(const QString& whole, const QString& tip) {
  return tip.isEmpty() ? whole : whole + "\n\n" + tip;
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
  // A label over two fields leads to the first.
  for (const Labelled& l : kLabelled)
    if (auto* label = static_cast<QLabel*>(WidgetFor(*console_.ui.Find(l.label))); !label->buddy())
      label->setBuddy(WidgetFor(*console_.ui.Find(l.field)));
  for (const auto& [field, name] : kUnlabelled)
    WidgetFor(*console_.ui.Find(field))->setAccessibleName(name);
  NameFields();
  OrderTabs();
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

void GuiMain::NameFields() {
  for (const Labelled& l : kLabelled) {
    QWidget* field = WidgetFor(*console_.ui.Find(l.field));
    const auto& label = static_cast<const Label&>(*console_.ui.Find(l.label));
    if (field)
      field->setAccessibleName(*l.name ? QString(l.name) : PlainName(Latin1(label.Caption())));
  }
}

void GuiMain::OrderTabs() {
  // Left to right and top to bottom on each page: controls whose middles lie within half a
  // field's height of each other are one row.
  const int rowSlack = PxY(150);
  QWidget* previous = tabs_;
  for (int i = 0; i < tabs_->count(); ++i) {
    QWidget* page = tabs_->widget(i);
    std::vector<std::pair<QPoint, QWidget*>> stops;
    for (const auto& [control, w] : widgets_)
      if (page->isAncestorOf(w) && (w->focusPolicy() & Qt::TabFocus))
        stops.push_back({w->mapTo(page, w->rect().center()), w});
    std::sort(stops.begin(), stops.end(),
              [](const auto& a, const auto& b) { return a.first.y() < b.first.y(); });
    for (std::size_t from = 0; from < stops.size();) {
      std::size_t to = from + 1;
      while (to < stops.size() && stops[to].first.y() - stops[from].first.y() <= rowSlack) ++to;
      std::sort(stops.begin() + static_cast<std::ptrdiff_t>(from),
                stops.begin() + static_cast<std::ptrdiff_t>(to),
                [](const auto& a, const auto& b) { return a.first.x() < b.first.x(); });
      from = to;
    }
    for (const auto& stop : stops) {
      setTabOrder(previous, stop.second);
      previous = stop.second;
    }
  }
  for (const Control* c : {static_cast<const Control*>(&console_.ui.CommPortSelect),
                           static_cast<const Control*>(&console_.ui.ProgramText),
                           static_cast<const Control*>(&console_.ui.ExitButton)}) {
    setTabOrder(previous, WidgetFor(*c));
    previous = WidgetFor(*c);
  }
}

void GuiMain::ShowValue(TextBox& model, QLineEdit* e) {
  const QString whole = Latin1(model.Text());
  const QString tip = Latin1(model.ToolTip());
  // A value the console shows is cut in its middle, where it is least missed ("Line Card
  // Appl…ion 4.17" keeps the version), and shown whole in the tool tip.
  const QString shown =
      model.Locked() ? e->fontMetrics().elidedText(whole, Qt::ElideMiddle, TextRoom(e)) : whole;
  e->setProperty("wholeText", whole);
  if (e->text() != shown) {
    e->setText(shown);
    if (model.Locked()) e->setCursorPosition(0);
  }
  const bool cut = shown != whole;
  e->setToolTip(cut ? WholeTextTip(whole, tip) : tip);
  e->setAccessibleDescription(cut ? whole : QString());
}

void GuiMain::ShowChoice(ComboBox& model, QComboBox* box) {
  QStyleOptionComboBox option;
  option.initFrom(box);
  option.rect = box->rect();
  const int room =
      box->style()
          ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, box)
          .width();
  // Entries a little too wide for the list are set a little smaller, as captions are.
  QFont font = box->parentWidget()->font();
  const auto widest = [&] {
    int px = 0;
    for (int i = 0; i < box->count(); ++i)
      px = std::max(px, QFontMetrics(font).horizontalAdvance(box->itemText(i)));
    return px;
  };
  for (double size = font.pointSizeF(); size > 7 && widest() > room; size -= 0.5)
    font.setPointSizeF(size - 0.5);
  box->setFont(font);
  // The list drops down wide enough for its widest entry.
  box->view()->setMinimumWidth(widest() +
                               4 * box->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) +
                               box->style()->pixelMetric(QStyle::PM_ScrollBarExtent));
  const QString tip = Latin1(model.ToolTip());
  const bool cut = box->fontMetrics().horizontalAdvance(box->currentText()) > room;
  box->setToolTip(cut ? WholeTextTip(box->currentText(), tip) : tip);
  box->setAccessibleDescription(cut ? box->currentText() : QString());
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
      AddRecorderControls(model);
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
  if (c.kind() == Kind::Label) {
    // A label reaching under the control to its right ends its text a little before it.
    int room = r.width();
    for (const Control* s : console_.ui.Controls()) {
      const Twips& o = s->Geometry();
      if (s == &c || s->Container() != c.Container() || s->kind() == Kind::Label ||
          s->kind() == Kind::Frame || o.left <= g.left || o.left >= g.left + g.width ||
          o.top >= g.top + g.height || o.top + o.height <= g.top)
        continue;
      room = std::min(room, PxX(o.left - g.left) - 3);
    }
    w->setContentsMargins(0, 0, r.width() - room, 0);
  }
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
      if (auto* e = qobject_cast<QLineEdit*>(w))
        ShowValue(static_cast<TextBox&>(c), e);
      else if (auto* box = qobject_cast<QComboBox*>(w))
        ShowChoice(static_cast<ComboBox&>(c), box);
      else
        w->setToolTip(Latin1(c.ToolTip()));
      return;
    default:
      break;
  }
  switch (c.kind()) {
    case Kind::Label:
      if (p == Prop::Caption) {
        const QString caption = Latin1(static_cast<Label&>(c).Caption());
        static_cast<QLabel*>(w)->setText(FitCaption(w, caption, 0));
        w->setAccessibleName(PlainName(caption));
        NameFields();
      } else if (p == Prop::Enabled)
        w->setEnabled(c.Enabled());
      break;
    case Kind::Frame:
      if (p == Prop::Caption) {
        static_cast<QGroupBox*>(w)->setTitle(Latin1(static_cast<Frame&>(c).Caption()));
        w->setAccessibleName(PlainName(Latin1(static_cast<Frame&>(c).Caption())));
      } else if (p == Prop::Enabled)
        w->setEnabled(c.Enabled());
      break;
    case Kind::CommandButton:
      if (p == Prop::Caption) {
        const QString caption = Latin1(static_cast<CommandButton&>(c).Caption());
        static_cast<QPushButton*>(w)->setText(FitCaption(w, caption, 12));
        w->setAccessibleName(PlainName(caption));
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
          ShowValue(model, e);
        } else if (p == Prop::Locked) {
          e->setReadOnly(model.Locked());
          ShowValue(model, e);
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
        ShowChoice(model, box);
      } else if (p == Prop::ListIndex) {
        box->setCurrentIndex(model.ListIndex());
        ShowChoice(model, box);
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

void GuiMain::AddRecorderControls(TabControl& model) {
  // The flight recorder's controls sit where the designed layout leaves room, and show with
  // the Terminal page: nothing of the window's own layout moves or is covered.
  auto* corner = new QWidget(tabs_);
  auto* row = new QHBoxLayout(corner);
  row->setContentsMargins(0, 0, 0, 1);
  auto* save = new QPushButton(QString::fromUtf8("Save Recording…"), corner);
  save->setObjectName("SaveRecordingButton");
  row->addWidget(save);
  connect(save, &QPushButton::clicked, this, [this] { SaveRecording_Click(console_); });
  tabs_->setCornerWidget(corner, Qt::TopRightCorner);
  // The tab row has no room for more: "Show Times" takes the free corner right of Exit.
  auto* times = new QCheckBox("Show Times", this);
  times->setObjectName("ShowTimesCheck");
  const int room = PxX(kClientWidthTwips - 5820) - 4;
  QFont font = times->font();
  for (; times->sizeHint().width() > room && font.pointSizeF() > 6; times->setFont(font))
    font.setPointSizeF(font.pointSizeF() - 0.5);
  times->setGeometry(PxX(5820), PxY(4680), room, times->sizeHint().height());
  connect(times, &QCheckBox::toggled, this, [this](bool on) {
    showTimes_ = on;
    RenderTerminal();
  });
  const auto terminal =
      static_cast<int>(std::find(model.Captions().begin(), model.Captions().end(), "Terminal") -
                       model.Captions().begin());
  for (QWidget* w : {corner, static_cast<QWidget*>(times)}) {
    w->setVisible(tabs_->currentIndex() == terminal);
    connect(tabs_, &QTabWidget::currentChanged, w,
            [w, terminal](int i) { w->setVisible(i == terminal); });
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
  const std::string& text = console_.ui.TerminalText.Text();
  if (!showTimes_) {
    pane->setPlainText(TerminalDisplayText(text));
  } else {
    // Each line after the local time its first byte arrived; the pane's text stays as it came.
    QString shown;
    for (std::size_t line = 0; line < text.size();) {
      const std::size_t end = text.find("\r\n", line);
      const std::size_t next = end == std::string::npos ? text.size() : end + 2;
      const std::int64_t ms = console_.paneTimes.TimeAt(line, text.size());
      if (ms >= 0) shown += QDateTime::fromMSecsSinceEpoch(ms).toString("HH:mm:ss.zzz ");
      shown += TerminalDisplayText(text.substr(line, next - line));
      line = next;
    }
    pane->setPlainText(shown);
  }
  bar->setValue(following ? bar->maximum() : from);
  pane->horizontalScrollBar()->setValue(column);
}

void GuiMain::closeEvent(QCloseEvent* event) {
  UnloadMainWindow(console_);
  event->accept();
}

}  // namespace velmora
