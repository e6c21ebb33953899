#include "platform/qt/window/trends_view.h"

#include <QComboBox>
#include <QDateTime>
#include <QGraphicsLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLineSeries>
#include <QtCharts/QScatterSeries>
#include <QtCharts/QValueAxis>
#include <algorithm>

#include "replies/colouring.h"
#include "trends/recording.h"

namespace velmora {
namespace {

// Slot 0 is the CPE application's own link, slots 1 to 4 the line card's CPEs 0 to 3. The
// colours stay clear of the red, yellow and green of the bands behind them.
const QColor kCpeColours[5] = {QColor(0x1f, 0x4e, 0xb4), QColor(0x1f, 0x4e, 0xb4),
                               QColor(0xc0, 0x50, 0x00), QColor(0x80, 0x30, 0xa0),
                               QColor(0x20, 0x20, 0x20)};
constexpr std::int64_t kRangeMs[] = {5 * 60'000, 60 * 60'000, 24 * 60 * 60'000, 0};
// More points than a chart this wide can show only cost drawing time.
constexpr std::size_t kMaxPoints = 2000;

QString SlotName(int slot) {
  return slot == 0 ? "CPE" : QString("CPE %1").arg(slot - 1);
}

// The status colours of the field the chart follows: the bands that colour the field.
std::span<const ColourBand> BandsFor(TrendsView::ChartKind kind) {
  switch (kind) {
    case TrendsView::kSignal:
      return kRssiBands;
    case TrendsView::kSfdLoss:
      return kSfdLossBands;
    default:
      return kTemperatureBands;
  }
}

// Paler than the fields, so that the lines stay readable on them.
QColor Pale(Color colour) {
  if (colour == kRed) return QColor(255, 200, 200);
  return colour == kYellow ? QColor(255, 250, 190) : QColor(210, 245, 210);
}

}  // namespace

TrendsView::TrendsView(Console& console, QWidget* parent) : QWidget(parent), console_(console) {
  setObjectName("TrendsView");
  chartChoice_ = new QComboBox(this);
  chartChoice_->setObjectName("TrendsChart");
  chartChoice_->addItems({"Signal strength", "SFD losses", "Temperature"});
  rangeChoice_ = new QComboBox(this);
  rangeChoice_->setObjectName("TrendsRange");
  rangeChoice_->addItems({"5 min", "1 h", "24 h", "All"});
  rangeChoice_->setCurrentIndex(range_);
  auto* exportButton = new QPushButton(QString::fromUtf8("Export CSV…"), this);
  exportButton->setObjectName("ExportCsvButton");
  connect(chartChoice_, &QComboBox::activated, this,
          [this](int i) { ShowChart(static_cast<ChartKind>(i)); });
  connect(rangeChoice_, &QComboBox::activated, this,
          [this](int i) { ShowRange(static_cast<Range>(i)); });
  connect(exportButton, &QPushButton::clicked, this, [this] { ExportCsv_Click(console_); });

  auto* bar = new QHBoxLayout;
  bar->addWidget(chartChoice_, 1);
  bar->addWidget(rangeChoice_);
  bar->addWidget(exportButton);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->setSpacing(2);
  layout->addLayout(bar);

  // A few redraws a second at most; the timer runs only while the page is shown. A multiple of
  // the poll timer's 100 ms, so that the toolkit wakes once for both.
  tick_.setInterval(200);
  connect(&tick_, &QTimer::timeout, this, [this] {
    const std::int64_t now = console_.trends.clock().MonotonicMs();
    // Samples that change the picture, or the time axis has moved on by a visible step: a
    // second, or a pixel of the plot where a pixel is longer. A chart drawn anew with nothing
    // of it changed costs as much as one that changed.
    if (!drawn_ || now - drawnAt_ >= std::max<std::int64_t>(1000, msPerPixel_) ||
        (console_.trends.Revision() != checkedRevision_ && NewSamplesShow()))
      Redraw();
    else
      checkedRevision_ = console_.trends.Revision();
  });
}

void TrendsView::MakeChart() {
  chart_ = new QChart;
  chart_->setAnimationOptions(QChart::NoAnimation);
  chart_->legend()->setAlignment(Qt::AlignRight);
  chart_->layout()->setContentsMargins(0, 0, 0, 0);
  chart_->setMargins(QMargins(2, 2, 2, 2));
  chart_->setBackgroundRoundness(0);
  chart_->setPlotAreaBackgroundVisible(true);
  time_ = new QDateTimeAxis;
  time_->setTickCount(4);
  values_ = new QValueAxis;
  values_->setLabelFormat("%d");
  chart_->addAxis(time_, Qt::AlignBottom);
  chart_->addAxis(values_, Qt::AlignLeft);
  view_ = new QChartView(chart_, this);
  view_->setObjectName("TrendsChartView");
  view_->setRenderHint(QPainter::Antialiasing);
  ClearSeries();
  // Drawn once before it takes its place, as when it was made with the page.
  Redraw();
  static_cast<QVBoxLayout*>(layout())->addWidget(view_, 1);
  if (isVisible()) {
    view_->show();
    layout()->activate();
  }
}

QChart* TrendsView::Chart() {
  if (!chart_) ShowChart(kind_);
  return chart_;
}

void TrendsView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  Redraw();
  tick_.start();
}

void TrendsView::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  tick_.stop();
}

void TrendsView::ShowChart(ChartKind kind) {
  kind_ = kind;
  chartChoice_->setCurrentIndex(kind);
  if (chart_)
    ClearSeries();
  else
    MakeChart();
  Redraw();
}

void TrendsView::ShowRange(Range range) {
  range_ = range;
  rangeChoice_->setCurrentIndex(range);
  Redraw();
}

void TrendsView::ClearSeries() {
  chart_->removeAllSeries();
  std::fill(std::begin(lines_), std::end(lines_), nullptr);
  const auto marks = [this](const QString& name, QScatterSeries::MarkerShape shape,
                            const QColor& colour, double size) {
    auto* s = new QScatterSeries;
    s->setName(name);
    s->setMarkerShape(shape);
    s->setMarkerSize(size);
    s->setColor(colour);
    s->setBorderColor(colour);
    chart_->addSeries(s);
    s->attachAxis(time_);
    s->attachAxis(values_);
    return s;
  };
  stateMarks_ = marks("State", QScatterSeries::MarkerShapeTriangle, QColor(0x30, 0x30, 0x30), 7);
  linkMarks_ = marks("Link lost", QScatterSeries::MarkerShapeRectangle, Qt::red, 8);
  programMarks_ = marks("Program", QScatterSeries::MarkerShapeCircle, Qt::darkBlue, 8);
}

QLineSeries* TrendsView::LineFor(int slot, const QString& name, const QColor& colour) {
  if (!lines_[slot]) {
    auto* s = new QLineSeries;
    s->setName(name);
    QPen pen(colour);
    pen.setWidthF(1.5);
    s->setPen(pen);
    chart_->addSeries(s);
    s->attachAxis(time_);
    s->attachAxis(values_);
    lines_[slot] = s;
  }
  return lines_[slot];
}

void TrendsView::Redraw() {
  if (!chart_) MakeChart();
  const Trends& trends = console_.trends;
  const std::int64_t nowMono = trends.clock().MonotonicMs();
  // Spacing comes from the monotonic clock; the wall clock of now only labels the axis, so a
  // clock that jumps moves the labels, never the points.
  const std::int64_t toWall = trends.clock().WallMs() - nowMono;
  std::int64_t from = range_ == kAll ? nowMono : nowMono - kRangeMs[range_];
  const Quantity q = kind_ == kSignal    ? Quantity::Signal
                     : kind_ == kSfdLoss ? Quantity::SfdLoss
                                         : Quantity::Temperature;
  const auto begin = [&](const TrendSeries& s) {
    std::size_t lo = 0, hi = s.size();
    while (lo < hi) {
      const std::size_t mid = (lo + hi) / 2;
      if (s[mid].monoMs < from)
        lo = mid + 1;
      else
        hi = mid;
    }
    return lo;
  };
  if (range_ == kAll) {
    for (int cpe = kNoCpe; cpe < 4; ++cpe)
      for (Quantity each : {q, Quantity::State, Quantity::Link})
        if (!trends.Series(cpe, each).empty())
          from = std::min(from, trends.Series(cpe, each)[0].monoMs);
    for (Quantity each : {Quantity::Program, Quantity::Download, Quantity::Port})
      if (!trends.Series(kNoCpe, each).empty())
        from = std::min(from, trends.Series(kNoCpe, each)[0].monoMs);
  }

  // Counts and signal strength from 0; the temperature around what it has been.
  double low = kind_ == kTemperature ? 1e9 : 0, high = kind_ == kTemperature ? -1e9 : 12;
  for (int slot = 0; slot < 5; ++slot) {
    const int cpe = slot - 1;
    // Temperature is the card's, kept with the CPE application's own values.
    if (kind_ == kTemperature && slot > 0) break;
    const TrendSeries& s = trends.Series(cpe, q);
    const std::size_t first = begin(s);
    if (first == s.size() && !lines_[slot]) continue;
    const std::size_t stride = std::max<std::size_t>(1, (s.size() - first) / kMaxPoints + 1);
    QList<QPointF> points;
    points.reserve(static_cast<qsizetype>((s.size() - first) / stride + 1));
    // A loss count holds until the card reports the next one: drawn as steps up to now.
    const bool steps = kind_ == kSfdLoss;
    for (std::size_t i = first; i < s.size(); i += stride) {
      if (steps && !points.empty())
        points.append({double(s[i].monoMs + toWall), points.back().y()});
      points.append({double(s[i].monoMs + toWall), double(s[i].value)});
      low = std::min<double>(low, s[i].value);
      high = std::max<double>(high, s[i].value);
    }
    if (steps && !points.empty()) points.append({double(nowMono + toWall), points.back().y()});
    const QString name = kind_ == kTemperature ? QString("Temperature") : SlotName(slot);
    LineFor(slot, name, kCpeColours[slot])->replace(points);
  }
  if (kind_ == kTemperature) {
    if (low > high) low = high = 25;
    low -= 5;
    high += 5;
  } else {
    high += (high - low) * 0.08;
  }

  // Each range set lays the whole chart out again: the same one is not set twice.
  if (low != asked_[0] || high != asked_[1] || values_->min() != set_[0] ||
      values_->max() != set_[1]) {
    values_->setRange(low, high);
    values_->applyNiceNumbers();
    asked_ = {low, high};
    set_ = {values_->min(), values_->max()};
  }
  low = values_->min();

  // Events sit on the time axis: state changes and lost links of every CPE, program changes.
  QList<QPointF> states, links, programs;
  for (int cpe = kNoCpe; cpe < 4; ++cpe) {
    const TrendSeries& st = trends.Series(cpe, Quantity::State);
    for (std::size_t i = begin(st); i < st.size(); ++i)
      if (i == 0 || st[i].value != st[i - 1].value)
        states.append({double(st[i].monoMs + toWall), low});
    const TrendSeries& lk = trends.Series(cpe, Quantity::Link);
    for (std::size_t i = begin(lk); i < lk.size(); ++i)
      links.append({double(lk[i].monoMs + toWall), low});
  }
  for (Quantity each : {Quantity::Program, Quantity::Download, Quantity::Port}) {
    const TrendSeries& ev = trends.Series(kNoCpe, each);
    for (std::size_t i = begin(ev); i < ev.size(); ++i)
      (each == Quantity::Port ? links : programs).append({double(ev[i].monoMs + toWall), low});
  }
  stateMarks_->replace(states);
  linkMarks_->replace(links);
  programMarks_->replace(programs);

  const qint64 span = std::max<std::int64_t>(nowMono - from, 60'000);
  time_->setFormat(span > 2 * 60 * 60'000 ? "dd.MM. HH:mm" : "HH:mm:ss");
  time_->setRange(QDateTime::fromMSecsSinceEpoch(nowMono - span + toWall),
                  QDateTime::fromMSecsSinceEpoch(nowMono + toWall));
  PaintBands(values_->min(), values_->max());
  checkedRevision_ = trends.Revision();
  drawnAt_ = nowMono;
  msPerPixel_ = span / std::max<qint64>(1, static_cast<qint64>(chart_->plotArea().width()));
  for (int cpe = kNoCpe; cpe < Trends::kCpeSlots - 1; ++cpe)
    for (int each = 0; each < kQuantities; ++each) {
      const TrendSeries& s = trends.Series(cpe, static_cast<Quantity>(each));
      drawnLast_[static_cast<std::size_t>((cpe + 1) * kQuantities + each)] =
          s.empty() ? -1 : static_cast<std::int64_t>(s.back().seq);
    }
  drawn_ = true;
}

bool TrendsView::NewSamplesShow() const {
  const Trends& trends = console_.trends;
  const Quantity q = kind_ == kSignal    ? Quantity::Signal
                     : kind_ == kSfdLoss ? Quantity::SfdLoss
                                         : Quantity::Temperature;
  for (int cpe = kNoCpe; cpe < Trends::kCpeSlots - 1; ++cpe) {
    for (int each = 0; each < kQuantities; ++each) {
      const auto quantity = static_cast<Quantity>(each);
      const TrendSeries& s = trends.Series(cpe, quantity);
      const std::int64_t last = drawnLast_[static_cast<std::size_t>((cpe + 1) * kQuantities + each)];
      if (s.empty() || static_cast<std::int64_t>(s.back().seq) == last) continue;
      // Lines of the chart's quantity and state marks show a change of value; every other
      // event is a mark of its own.
      const bool byValue = quantity == q || quantity == Quantity::State;
      const bool marks = quantity == Quantity::Link || quantity == Quantity::Program ||
                         quantity == Quantity::Download || quantity == Quantity::Port;
      if (marks) return true;
      if (!byValue) continue;
      // The new samples, newest first, down to the last one drawn.
      for (std::size_t i = s.size(); i-- > 0 && static_cast<std::int64_t>(s[i].seq) != last;)
        if (i == 0 || s[i].value != s[i - 1].value) return true;
    }
  }
  return false;
}

void TrendsView::PaintBands(double low, double high) {
  // A vertical gradient over the plot area with hard stops at the band bounds.
  QLinearGradient gradient(0, 1, 0, 0);
  gradient.setCoordinateMode(QGradient::ObjectBoundingMode);
  double below = low;
  for (const ColourBand& band : BandsFor(kind_)) {
    // Whole values: a bound lies halfway to the next one.
    const double upTo = band.upTo + 0.5;
    if (upTo <= low) continue;
    const double a = (below - low) / (high - low), b = (std::min(upTo, high) - low) / (high - low);
    gradient.setColorAt(std::clamp(a, 0.0, 1.0), Pale(band.colour));
    gradient.setColorAt(std::clamp(b, 0.0, 1.0) - 1e-6 * (b < 1), Pale(band.colour));
    below = upTo;
    if (upTo >= high) break;
  }
  chart_->setPlotAreaBackgroundBrush(gradient);
}

}  // namespace velmora
