// The "Trends" page: one chart of what the card reported over time (signal strength per CPE,
// SFD losses per CPE, or the temperature), link and program events on the time axis, a time
// range, and the CSV export. It draws only while shown, and at most a few times a second.
#pragma once

#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdint>

#include "app/console.h"

class QChart;
class QChartView;
class QComboBox;
class QDateTimeAxis;
class QLineSeries;
class QScatterSeries;
class QValueAxis;

namespace velmora {

class TrendsView : public QWidget {
  Q_OBJECT
 public:
  enum ChartKind { kSignal, kSfdLoss, kTemperature };
  enum Range { k5Min, k1Hour, k24Hours, kAll };

  explicit TrendsView(Console& console, QWidget* parent = nullptr);

  void ShowChart(ChartKind kind);
  void ShowRange(Range range);
  // Draws what is recorded now; while shown the view does this itself when samples arrive.
  void Redraw();
  QChart* Chart();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  // The chart is made when first needed (shown, or asked for), not with the window.
  void MakeChart();
  QLineSeries* LineFor(int slot, const QString& name, const QColor& colour);
  void ClearSeries();
  void PaintBands(double low, double high);
  // Whether what was recorded since the last drawing would show: a value other than the one
  // before it, or an event on the time axis. A repeated value only lengthens its line, which
  // the time axis's own step draws.
  bool NewSamplesShow() const;

  Console& console_;
  QComboBox* chartChoice_;
  QComboBox* rangeChoice_;
  QChartView* view_ = nullptr;
  QChart* chart_ = nullptr;
  QDateTimeAxis* time_ = nullptr;
  QValueAxis* values_ = nullptr;
  QLineSeries* lines_[5] = {};
  QScatterSeries* stateMarks_ = nullptr;
  QScatterSeries* linkMarks_ = nullptr;
  QScatterSeries* programMarks_ = nullptr;
  ChartKind kind_ = kSignal;
  Range range_ = k1Hour;
  QTimer tick_;
  std::array<double, 2> asked_{}, set_{};  // the value axis's range: asked for, and made nice
  std::uint64_t checkedRevision_ = 0;  // the samples up to here are drawn or would not show
  std::int64_t drawnAt_ = 0;
  std::int64_t msPerPixel_ = 0;  // the time axis's scale when last drawn
  // The sequence number of each series' newest sample when last drawn (-1: it was empty).
  std::array<std::int64_t, Trends::kCpeSlots * kQuantities> drawnLast_{};
  bool drawn_ = false;
};

}  // namespace velmora
