#include "platform/qt/window/window_icon.h"

#include <QIconEngine>
#include <QPainter>
#include <memory>

namespace velmora {
namespace {

// Decoding the icons' PNG files took about a tenth of start-up's instructions.
class LazyIconEngine : public QIconEngine {
 public:
  explicit LazyIconEngine(QStringList files) : files_(std::move(files)) {}

  void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
    Loaded().paint(painter, rect, Qt::AlignCenter, mode, state);
  }
  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    return Loaded().pixmap(size, mode, state);
  }
  QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                       qreal scale) override {
    return Loaded().pixmap(size, scale, mode, state);
  }
  QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    return Loaded().actualSize(size, mode, state);
  }
  QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override {
    return Loaded().availableSizes(mode, state);
  }
  bool isNull() override { return files_.isEmpty(); }
  QString key() const override { return QStringLiteral("velmora-lazy"); }
  QIconEngine* clone() const override { return new LazyIconEngine(*this); }

 private:
  QIcon& Loaded() {
    if (!loaded_) {
      loaded_ = std::make_shared<QIcon>();
      for (const QString& file : files_) loaded_->addFile(file);
    }
    return *loaded_;
  }

  QStringList files_;
  std::shared_ptr<QIcon> loaded_;  // clones made after the reading share it
};

}  // namespace

QIcon LazyIcon(const QStringList& files) {
  return QIcon(new LazyIconEngine(files));
}

}  // namespace velmora
