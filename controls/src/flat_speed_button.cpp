#include "qadj/controls/flat_speed_button.h"

#include <QApplication>
#include <QCursor>
#include <QDialog>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <algorithm>

#include "qadj/controls/glyph_image.h"
#include "qadj/controls/system_colours.h"
#include "qadj/widgets/error_frame.h"

namespace qadj {

// ---- shared hot tracking ----------------------------------------------------------

namespace {

struct HotTrackerState {
  QTimer* timer = nullptr;
  TFlatSpeedButton* hot = nullptr;
  int buttons = 0;
  FlatButtonHotTracker::PointerQuery pointer;
  FlatButtonHotTracker::ActiveWindowQuery activeWindow;
};

HotTrackerState& tracker() {
  static HotTrackerState state;
  return state;
}

constexpr int kHotTimerPeriodMs = 100;

}  // namespace

void FlatButtonHotTracker::setPointerQuery(PointerQuery query) {
  tracker().pointer = std::move(query);
}

void FlatButtonHotTracker::setActiveWindowQuery(ActiveWindowQuery query) {
  tracker().activeWindow = std::move(query);
}

TFlatSpeedButton* FlatButtonHotTracker::hotButton() {
  return tracker().hot;
}

QTimer* FlatButtonHotTracker::timer() {
  return tracker().timer;
}

QWidget* FlatButtonHotTracker::widgetUnderPointer() {
  if (tracker().pointer) return tracker().pointer();
  return QApplication::widgetAt(QCursor::pos());
}

bool FlatButtonHotTracker::hasActiveWindow() {
  if (tracker().activeWindow) return tracker().activeWindow();
  return QApplication::activeWindow() != nullptr;
}

void FlatButtonHotTracker::attach() {
  HotTrackerState& s = tracker();
  if (s.buttons++ == 0) {
    s.timer = new QTimer;
    s.timer->setInterval(kHotTimerPeriodMs);
    QObject::connect(s.timer, &QTimer::timeout, [] { guarded([] { tick(); }); });
  }
}

void FlatButtonHotTracker::detach(TFlatSpeedButton* button) {
  HotTrackerState& s = tracker();
  if (s.hot == button) release();
  if (--s.buttons == 0) {
    delete s.timer;
    s.timer = nullptr;
  }
}

void FlatButtonHotTracker::setHot(TFlatSpeedButton* button) {
  HotTrackerState& s = tracker();
  s.timer->stop();
  s.hot = button;
  s.timer->start();
}

void FlatButtonHotTracker::release() {
  HotTrackerState& s = tracker();
  if (s.timer) s.timer->stop();
  s.hot = nullptr;
}

void FlatButtonHotTracker::tick() {
  TFlatSpeedButton* button = tracker().hot;
  if (!button) {
    release();
    return;
  }
  // A button that is tracking a press keeps the reference until it is released.
  if (widgetUnderPointer() != button && !button->tracking_) button->loseHot();
}

// ---- the button --------------------------------------------------------------------

TFlatSpeedButton::TFlatSpeedButton(QWidget* parent) : QWidget(parent) {
  FlatButtonHotTracker::attach();
  setFocusPolicy(Qt::NoFocus);
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
  resize(25, 25);
  state_ = isEnabled() ? ButtonState::Up : ButtonState::Disabled;
}

TFlatSpeedButton::~TFlatSpeedButton() {
  FlatButtonHotTracker::detach(this);
}

QColor TFlatSpeedButton::color() const {
  return ownColor_.isValid() ? ownColor_ : palette().color(QPalette::Window);
}

void TFlatSpeedButton::setColor(const QColor& c) {
  ownColor_ = c;
  update();
}

void TFlatSpeedButton::resetColor() {
  ownColor_ = QColor();
  update();
}

void TFlatSpeedButton::setColorFocused(const QColor& c) {
  colorFocused_ = c;
  update();
}

void TFlatSpeedButton::setColorDown(const QColor& c) {
  colorDown_ = c;
  update();
}

void TFlatSpeedButton::setColorBorder(const QColor& c) {
  colorBorder_ = c;
  update();
}

void TFlatSpeedButton::setColorHighLight(const QColor& c) {
  colorHighLight_ = c;
  update();
}

void TFlatSpeedButton::setColorShadow(const QColor& c) {
  colorShadow_ = c;
  update();
}

void TFlatSpeedButton::setGlyph(const QImage& glyph) {
  glyph_ = glyph;
  if (const int count = numGlyphsForGlyph(glyph.size()); count > 0) numGlyphs_ = count;
  update();
}

void TFlatSpeedButton::setNumGlyphs(int count) {
  if (count < 1 || count > 4) return;
  numGlyphs_ = count;
  update();
}

void TFlatSpeedButton::setButtonLayout(ButtonLayout layout) {
  layout_ = layout;
  update();
}

void TFlatSpeedButton::setSpacing(int spacing) {
  spacing_ = spacing;
  update();
}

void TFlatSpeedButton::setMargin(int margin) {
  if (margin < -1) return;
  margin_ = margin;
  update();
}

void TFlatSpeedButton::setCaption(const QString& caption) {
  caption_ = caption;
  update();
}

ButtonLayoutResult TFlatSpeedButton::currentLayout() const {
  ButtonLayoutInput in;
  in.client = size();
  if (!glyph_.isNull()) in.glyph = QSize(glyph_.width() / numGlyphs_, glyph_.height());
  if (!caption_.isEmpty()) in.caption = fontMetrics().size(Qt::TextSingleLine, caption_);
  in.layout = layout_;
  in.margin = margin_;
  in.spacing = spacing_;
  in.pressed = state_ == ButtonState::Down;
  return layoutButton(in);
}

QSize TFlatSpeedButton::sizeHint() const {
  const QSize glyph =
      glyph_.isNull() ? QSize() : QSize(glyph_.width() / std::max(1, numGlyphs_), glyph_.height());
  const QSize caption =
      caption_.isEmpty() ? QSize() : fontMetrics().size(Qt::TextSingleLine, caption_);
  const int spacing = glyph.isEmpty() || caption.isEmpty() ? 0 : std::max(0, spacing_);
  if (layout_ == ButtonLayout::GlyphTop || layout_ == ButtonLayout::GlyphBottom)
    return {std::max(glyph.width(), caption.width()) + 4,
            glyph.height() + spacing + caption.height()};
  return {glyph.width() + spacing + caption.width(),
          std::max(glyph.height(), caption.height()) + 4};
}

void TFlatSpeedButton::click() {
  // The handler may destroy this button (and its handler) or the window: nothing of
  // this object is touched after it ran, and the handler runs from a copy.
  const int modalResult = modalResult_;
  QPointer<QDialog> dialog = qobject_cast<QDialog*>(window());
  if (QDialog* d = dialog.data()) d->setResult(modalResult);
  if (onClick) {
    const std::function<void()> handler = onClick;
    guarded([&handler] { handler(); });
  }
  QDialog* d = dialog.data();
  if (modalResult != 0 && d != nullptr && d->isModal() && d->isVisible()) d->done(modalResult);
}

bool TFlatSpeedButton::event(QEvent* e) {
  if (e->type() == cancelModeEventType()) {
    // A press in progress ends without a click.
    if (tracking_) {
      tracking_ = false;
      if (isEnabled()) state_ = ButtonState::Up;
      update();
    }
    return true;
  }
  return guarded([&] { return QWidget::event(e); }, true);
}

QImage TFlatSpeedButton::glyphForState() const {
  const int index = glyphImageIndex(numGlyphs_, state_);
  if (index >= 0) {
    return withTransparentColour(glyphStripImage(glyph_, numGlyphs_, index),
                                 bottomLeftColour(glyph_));
  }
  const SystemColours sys = systemColours();
  const QImage derived = derivedDisabledImage(glyphStripImage(glyph_, numGlyphs_, 0),
                                              sys.buttonFace, sys.highlight, sys.shadow);
  return withTransparentColour(derived, bottomLeftColour(derived));
}

void TFlatSpeedButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const ButtonColours colours{color(),      colorFocused_,   colorDown_,
                              colorBorder_, colorHighLight_, colorShadow_};
  const ButtonLook look = buttonLook(state_, hot_, colours);
  const int right = width() - 1;
  const int bottom = height() - 1;
  p.fillRect(rect(), look.face);
  p.setPen(look.topLeft);
  p.drawLine(0, 0, right, 0);
  p.drawLine(0, 0, 0, bottom);
  p.setPen(look.bottomRight);
  p.drawLine(0, bottom, right, bottom);
  p.drawLine(right, 0, right, bottom);

  const ButtonLayoutResult at = currentLayout();
  if (!glyph_.isNull()) p.drawImage(at.glyphPos, glyphForState());
  if (caption_.isEmpty()) return;
  const int flags = Qt::AlignCenter | Qt::TextSingleLine;
  if (state_ == ButtonState::Disabled) {
    const SystemColours sys = systemColours();
    p.setPen(sys.highlight);
    p.drawText(at.captionRect.translated(1, 1), flags, caption_);
    p.setPen(sys.shadow);
  } else {
    p.setPen(palette().color(QPalette::WindowText));
  }
  p.drawText(at.captionRect, flags, caption_);
}

void TFlatSpeedButton::press() {
  if (!isEnabled()) return;
  state_ = ButtonState::Down;
  tracking_ = true;
  update();
}

void TFlatSpeedButton::mousePressEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) press();
}

void TFlatSpeedButton::mouseDoubleClickEvent(QMouseEvent* e) {
  // The second press of a double click presses the button again.
  if (e->button() == Qt::LeftButton) press();
}

void TFlatSpeedButton::mouseMoveEvent(QMouseEvent* e) {
  pointerMoved();
  if (!tracking_) return;
  const ButtonState next =
      rect().contains(e->position().toPoint()) ? ButtonState::Down : ButtonState::Up;
  if (next != state_) {
    state_ = next;
    update();
  }
}

void TFlatSpeedButton::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton || !tracking_) return;
  tracking_ = false;
  if (isEnabled()) state_ = ButtonState::Up;
  hot_ = false;
  update();
  if (rect().contains(e->position().toPoint())) {
    QPointer<TFlatSpeedButton> self(this);
    click();
    if (!self) return;  // the click handler destroyed the button
  }
  refreshHotFromPointer();
}

void TFlatSpeedButton::changeEvent(QEvent* e) {
  if (e->type() == QEvent::EnabledChange) {
    if (isEnabled()) {
      state_ = ButtonState::Up;
    } else {
      hot_ = false;
      tracking_ = false;
      state_ = ButtonState::Disabled;
      if (FlatButtonHotTracker::hotButton() == this) FlatButtonHotTracker::release();
    }
    update();
  }
  QWidget::changeEvent(e);
}

void TFlatSpeedButton::pointerMoved() {
  if (FlatButtonHotTracker::hotButton() != this &&
      FlatButtonHotTracker::widgetUnderPointer() == this) {
    becomeHot();
  }
}

void TFlatSpeedButton::becomeHot() {
  if (TFlatSpeedButton* previous = FlatButtonHotTracker::hotButton();
      previous && previous != this) {
    previous->loseHot();
  }
  if (!FlatButtonHotTracker::hasActiveWindow()) return;
  FlatButtonHotTracker::setHot(this);
  if (isEnabled()) {
    hot_ = true;
    update();
  }
}

void TFlatSpeedButton::loseHot() {
  hot_ = false;
  if (FlatButtonHotTracker::hotButton() == this) FlatButtonHotTracker::release();
  update();
}

void TFlatSpeedButton::refreshHotFromPointer() {
  if (FlatButtonHotTracker::widgetUnderPointer() == this) {
    if (FlatButtonHotTracker::hotButton() == this) {
      hot_ = isEnabled();
      update();
    } else {
      becomeHot();
    }
  } else if (FlatButtonHotTracker::hotButton() == this) {
    FlatButtonHotTracker::release();
  }
}

}  // namespace qadj
