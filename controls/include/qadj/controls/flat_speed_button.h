// TFlatSpeedButton: a flat tool button that paints itself, never takes keyboard focus
// and shows a hot look while the pointer is over it. All buttons share one 100 ms
// timer (FlatButtonHotTracker) that removes the hot look once the pointer has left,
// even when it left quickly or went to another window.
//
// Texts are QString (UTF-16): callers holding GBK convert at this boundary (see
// configureToolButton in qadj/window/tool_buttons.h for the window's buttons).
#pragma once

#include <QColor>
#include <QImage>
#include <QString>
#include <QWidget>
#include <functional>

#include "qadj/controls/flat_geometry.h"

class QTimer;

namespace qadj {

class TFlatSpeedButton;

// The hot-tracking state shared by all flat buttons of the thread: one timer, created
// stopped with the first button and destroyed with the last, and the button that is
// hot now. The two questions it asks of the desktop are replaceable for tests.
class FlatButtonHotTracker {
 public:
  using PointerQuery = std::function<QWidget*()>;
  using ActiveWindowQuery = std::function<bool()>;

  // Replaces "which widget is under the pointer" (default: QApplication::widgetAt at
  // the cursor position); an empty function restores the default.
  static void setPointerQuery(PointerQuery query);
  // Replaces "does this thread have an active window" (default:
  // QApplication::activeWindow() != nullptr); empty restores the default.
  static void setActiveWindowQuery(ActiveWindowQuery query);

  // The button that is hot now, or nullptr.
  static TFlatSpeedButton* hotButton();
  // The shared timer, or nullptr while no button exists. Not owned by the caller.
  static QTimer* timer();
  // One timer period: the hot button loses its hot look when it is no longer under
  // the pointer and is not tracking a press. Called by the timer; tests call it to
  // drive the timer without waiting.
  static void tick();

 private:
  friend class TFlatSpeedButton;
  static void attach();
  static void detach(TFlatSpeedButton* button);
  static QWidget* widgetUnderPointer();
  static bool hasActiveWindow();
  static void setHot(TFlatSpeedButton* button);
  static void release();
};

class TFlatSpeedButton : public QWidget {
 public:
  explicit TFlatSpeedButton(QWidget* parent = nullptr);
  ~TFlatSpeedButton() override;
  TFlatSpeedButton(const TFlatSpeedButton&) = delete;
  TFlatSpeedButton& operator=(const TFlatSpeedButton&) = delete;

  // Face colour when not pressed. Follows the parent's background (palette Window
  // role) until set; resetColor() makes it follow again.
  QColor color() const;
  void setColor(const QColor& color);
  void resetColor();
  bool parentColor() const { return !ownColor_.isValid(); }

  QColor colorFocused() const { return colorFocused_; }
  void setColorFocused(const QColor& c);
  QColor colorDown() const { return colorDown_; }
  void setColorDown(const QColor& c);
  QColor colorBorder() const { return colorBorder_; }
  void setColorBorder(const QColor& c);
  QColor colorHighLight() const { return colorHighLight_; }
  void setColorHighLight(const QColor& c);
  QColor colorShadow() const { return colorShadow_; }
  void setColorShadow(const QColor& c);

  // The glyph strip. A strip whose width is a whole multiple of its height sets
  // numGlyphs() to width ÷ height (1 when that exceeds 4).
  const QImage& glyph() const { return glyph_; }
  void setGlyph(const QImage& glyph);
  int numGlyphs() const { return numGlyphs_; }
  // Values outside 1..4 are ignored.
  void setNumGlyphs(int count);

  ButtonLayout buttonLayout() const { return layout_; }
  void setButtonLayout(ButtonLayout layout);
  int spacing() const { return spacing_; }
  void setSpacing(int spacing);
  int margin() const { return margin_; }
  // Values below -1 are ignored.
  void setMargin(int margin);

  QString caption() const { return caption_; }
  void setCaption(const QString& caption);

  // Given to the containing window before the click handler runs: a modal QDialog
  // gets it as its result and, when not 0, is closed with it after the handler.
  int modalResult() const { return modalResult_; }
  void setModalResult(int result) { modalResult_ = result; }

  // Raised by a left press and release over the button. Exceptions it throws are
  // reported through the error frame and never reach Qt.
  std::function<void()> onClick;

  // Gives the modal result and raises the click, as a mouse click does.
  void click();

  ButtonState state() const { return state_; }
  bool isHot() const { return hot_; }
  bool isTracking() const { return tracking_; }
  // Where glyph and caption stand for the current state, font and size.
  ButtonLayoutResult currentLayout() const;
  // The least size that shows glyph and caption whole in the current font: the two
  // stacked (or side by side) with the spacing between, and 2 pixels each side
  // across the stacking. A window may grow the button to it; nothing here does.
  QSize sizeHint() const override;

 protected:
  bool event(QEvent* e) override;
  void paintEvent(QPaintEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void changeEvent(QEvent* e) override;

 private:
  friend class FlatButtonHotTracker;
  void press();
  void pointerMoved();
  void becomeHot();
  void loseHot();
  void refreshHotFromPointer();
  QImage glyphForState() const;

  QColor ownColor_;
  QColor colorFocused_{235, 234, 225};
  QColor colorDown_{217, 214, 197};
  QColor colorBorder_{160, 150, 131};
  QColor colorHighLight_{Qt::white};
  QColor colorShadow_{Qt::black};
  QImage glyph_;
  int numGlyphs_ = 1;
  ButtonLayout layout_ = ButtonLayout::GlyphTop;
  int spacing_ = 4;
  int margin_ = -1;
  QString caption_;
  int modalResult_ = 0;

  ButtonState state_ = ButtonState::Up;
  bool hot_ = false;
  bool tracking_ = false;
};

}  // namespace qadj
