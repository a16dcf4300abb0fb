// The flat button: properties, mouse, painting and the shared hot-tracking timer.
#include <gtest/gtest.h>

#include <QDialog>
#include <QTimer>
#include <memory>

#include "qadj/controls/flat_speed_button.h"
#include "qadj/controls/system_colours.h"
#include "qadj/platform/error.h"
#include "qadj/platform/text.h"
#include "qadj/widgets/error_frame.h"
#include "qadj/window/tool_buttons.h"
#include "support/mouse.h"

namespace qadj {
namespace {

using namespace test;

// Replaces the tracker's desktop queries for one test.
class FlatButtonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FlatButtonHotTracker::setPointerQuery([this] { return underPointer; });
    FlatButtonHotTracker::setActiveWindowQuery([this] { return activeWindow; });
    QPalette p = parent.palette();
    p.setColor(QPalette::Window, QColor(10, 20, 30));
    parent.setPalette(p);
  }
  void TearDown() override {
    FlatButtonHotTracker::setPointerQuery({});
    FlatButtonHotTracker::setActiveWindowQuery({});
  }
  void hover(TFlatSpeedButton& b) {
    underPointer = &b;
    moveTo(&b, QPoint(5, 5));
  }
  void click(TFlatSpeedButton& b) {
    pressAt(&b, QPoint(3, 3));
    releaseAt(&b, QPoint(3, 3));
  }

  QWidget* underPointer = nullptr;
  bool activeWindow = true;
  QWidget parent;
};

TEST_F(FlatButtonTest, DefaultsAndSettings) {
  TFlatSpeedButton b(&parent);
  EXPECT_EQ(b.size(), QSize(25, 25));
  EXPECT_EQ(b.focusPolicy(), Qt::NoFocus);
  EXPECT_EQ(b.colorFocused(), QColor(235, 234, 225));
  EXPECT_EQ(b.colorDown(), QColor(217, 214, 197));
  EXPECT_EQ(b.colorBorder(), QColor(160, 150, 131));
  EXPECT_EQ(b.colorHighLight(), QColor(Qt::white));
  EXPECT_EQ(b.colorShadow(), QColor(Qt::black));
  EXPECT_EQ(b.numGlyphs(), 1);
  EXPECT_EQ(b.buttonLayout(), ButtonLayout::GlyphTop);
  EXPECT_EQ(b.spacing(), 4);
  EXPECT_EQ(b.margin(), -1);
  EXPECT_EQ(b.modalResult(), 0);
  EXPECT_EQ(b.font(), parent.font());
  // Colour follows the parent until set.
  EXPECT_EQ(b.color(), QColor(10, 20, 30));
  b.setColor(QColor(9, 9, 9));
  parent.setPalette(QPalette(QColor(1, 2, 3)));
  EXPECT_EQ(b.color(), QColor(9, 9, 9));
  b.resetColor();
  EXPECT_EQ(b.color(), parent.palette().color(QPalette::Window));

  b.setGlyph(QImage(36, 18, QImage::Format_RGB32));
  EXPECT_EQ(b.numGlyphs(), 2);
  b.setGlyph(QImage(100, 20, QImage::Format_RGB32));  // 5 images: above 4
  EXPECT_EQ(b.numGlyphs(), 1);
  b.setNumGlyphs(5);
  EXPECT_EQ(b.numGlyphs(), 1);
  b.setMargin(2);
  b.setMargin(-2);  // ignored
  EXPECT_EQ(b.margin(), 2);
}

TEST_F(FlatButtonTest, PressLeaveReleaseOutsideDoesNotClick) {
  TFlatSpeedButton b(&parent);
  int clicks = 0;
  b.onClick = [&] { ++clicks; };
  pressAt(&b, QPoint(3, 3));
  EXPECT_EQ(b.state(), ButtonState::Down);
  moveTo(&b, QPoint(25, 10), Qt::LeftButton);
  EXPECT_EQ(b.state(), ButtonState::Up);
  moveTo(&b, QPoint(24, 24), Qt::LeftButton);  // last pixel is inside
  EXPECT_EQ(b.state(), ButtonState::Down);
  moveTo(&b, QPoint(10, 25), Qt::LeftButton);
  releaseAt(&b, QPoint(10, 25));
  EXPECT_EQ(clicks, 0);
  EXPECT_EQ(b.state(), ButtonState::Up);
  EXPECT_FALSE(b.isTracking());

  click(b);
  EXPECT_EQ(clicks, 1);
  doubleClickAt(&b, QPoint(3, 3));  // the second press of a double click
  EXPECT_EQ(b.state(), ButtonState::Down);
  releaseAt(&b, QPoint(3, 3));
  EXPECT_EQ(clicks, 2);

  pressAt(&b, QPoint(3, 3), Qt::RightButton);
  EXPECT_EQ(b.state(), ButtonState::Up);
  b.setEnabled(false);
  click(b);
  EXPECT_EQ(clicks, 2);
  EXPECT_EQ(b.state(), ButtonState::Disabled);
  b.setEnabled(true);
  EXPECT_EQ(b.state(), ButtonState::Up);
}

TEST_F(FlatButtonTest, ModalResultReachesTheDialogBeforeTheHandler) {
  QDialog dialog;
  dialog.setModal(true);
  dialog.show();
  TFlatSpeedButton b(&dialog);
  click(b);  // modal result 0 leaves the dialog open
  EXPECT_TRUE(dialog.isVisible());
  b.setModalResult(3);
  int seen = 0;
  b.onClick = [&] { seen = dialog.result(); };
  click(b);
  EXPECT_EQ(seen, 3);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), 3);
}

TEST_F(FlatButtonTest, FailingOrDestroyingClickHandlerIsContained) {
  int reported = 0;
  ErrorReporter previous = setErrorReporter([&](std::exception_ptr) { ++reported; });
  TFlatSpeedButton b(&parent);
  b.onClick = [] { throw Exception("boom"); };
  underPointer = &b;
  click(b);
  setErrorReporter(std::move(previous));
  EXPECT_EQ(reported, 1);
  EXPECT_EQ(b.state(), ButtonState::Up);
  EXPECT_TRUE(b.isHot());  // set again from the pointer after the click

  auto* doomed = new TFlatSpeedButton(&parent);
  hover(*doomed);
  doomed->onClick = [doomed] { delete doomed; };
  click(*doomed);
  EXPECT_EQ(FlatButtonHotTracker::hotButton(), nullptr);
}

TEST_F(FlatButtonTest, FaceAndFramePixelsFollowTheState) {
  TFlatSpeedButton b(&parent);
  const QPoint mid(12, 12), topLeft(0, 0), topRight(24, 0), left(0, 10), bottom(10, 24);
  EXPECT_EQ(pixelOf(&b, mid), QColor(10, 20, 30));
  EXPECT_EQ(pixelOf(&b, topLeft), b.colorBorder());
  EXPECT_EQ(pixelOf(&b, bottom), b.colorBorder());

  hover(b);
  EXPECT_EQ(pixelOf(&b, mid), b.colorFocused());
  EXPECT_EQ(pixelOf(&b, left), QColor(Qt::white));
  EXPECT_EQ(pixelOf(&b, bottom), QColor(Qt::black));
  EXPECT_EQ(pixelOf(&b, topRight), QColor(Qt::black));  // bottom and right drawn last

  pressAt(&b, QPoint(3, 3));
  EXPECT_EQ(pixelOf(&b, mid), b.colorDown());
  EXPECT_EQ(pixelOf(&b, left), QColor(Qt::black));
  EXPECT_EQ(pixelOf(&b, bottom), QColor(Qt::white));
  releaseAt(&b, QPoint(3, 3));

  b.setEnabled(false);
  EXPECT_EQ(pixelOf(&b, mid), QColor(10, 20, 30));
  EXPECT_EQ(pixelOf(&b, left), b.colorBorder());
}

int count(const QImage& image, QRgb colour) {
  int n = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x)
      n += (image.pixel(x, y) & RGB_MASK) == (colour & RGB_MASK);
  }
  return n;
}

TEST_F(FlatButtonTest, TwoImageStripShowsOnlyItsFirstImageWhileEnabled) {
  QImage strip(36, 18, QImage::Format_RGB32);  // green square, then blue, on olive
  strip.fill(QColor(128, 128, 0));
  for (int y = 2; y < 16; ++y) {
    for (int x = 2; x < 16; ++x) {
      strip.setPixel(x, y, qRgb(0, 200, 0));
      strip.setPixel(18 + x, y, qRgb(0, 0, 200));
    }
  }
  TFlatSpeedButton b(&parent);
  b.resize(35, 35);
  b.setGlyph(strip);
  QImage shot = b.grab().toImage();  // glyph alone, at (9, 9)
  EXPECT_EQ(count(shot, qRgb(0, 200, 0)), 14 * 14);
  EXPECT_EQ(count(shot, qRgb(0, 0, 200)), 0);
  EXPECT_EQ(count(shot, qRgb(128, 128, 0)), 0);  // transparent
  pressAt(&b, QPoint(3, 3));
  shot = b.grab().toImage();
  EXPECT_EQ(count(shot, qRgb(0, 0, 200)), 0);
  EXPECT_EQ(QColor(shot.pixel(11, 11)), b.colorDown());  // moved one pixel
  EXPECT_EQ(shot.pixel(12, 12) & RGB_MASK, qRgb(0, 200, 0) & RGB_MASK);
  releaseAt(&b, QPoint(40, 40));
  b.setEnabled(false);
  shot = b.grab().toImage();
  EXPECT_EQ(count(shot, qRgb(0, 200, 0)), 0);
  EXPECT_EQ(count(shot, qRgb(0, 0, 200)), 14 * 14);
}

TEST_F(FlatButtonTest, OneImageGlyphAndCaptionAreEmbossedWhenDisabled) {
  QImage glyph(16, 16, QImage::Format_RGB32);
  glyph.fill(QColor(255, 0, 255));
  for (int x = 4; x < 12; ++x) glyph.setPixel(x, 8, qRgb(0, 0, 0));
  TFlatSpeedButton b(&parent);
  b.resize(35, 35);
  b.setGlyph(glyph);
  b.setEnabled(false);
  const SystemColours sys = systemColours();
  const QImage shot = b.grab().toImage();  // glyph at (10, 10)
  EXPECT_EQ(shot.pixel(14, 18) & RGB_MASK, sys.shadow.rgb() & RGB_MASK);
  EXPECT_EQ(shot.pixel(15, 19) & RGB_MASK, sys.highlight.rgb() & RGB_MASK);
  EXPECT_EQ(count(shot, qRgb(0, 0, 0)) + count(shot, qRgb(255, 0, 255)), 0);
}

TEST_F(FlatButtonTest, SharedTimerLivesFromFirstToLastButton) {
  ASSERT_EQ(FlatButtonHotTracker::timer(), nullptr);
  auto first = std::make_unique<TFlatSpeedButton>(&parent);
  QTimer* timer = FlatButtonHotTracker::timer();
  ASSERT_NE(timer, nullptr);
  EXPECT_EQ(timer->interval(), 100);
  EXPECT_FALSE(timer->isActive());
  auto second = std::make_unique<TFlatSpeedButton>(&parent);
  first.reset();
  EXPECT_EQ(FlatButtonHotTracker::timer(), timer);
  second.reset();
  EXPECT_EQ(FlatButtonHotTracker::timer(), nullptr);
}

TEST_F(FlatButtonTest, LeavingQuicklyToOutsideClearsHotOnTheNextTick) {
  TFlatSpeedButton a(&parent), b(&parent);
  hover(a);
  hover(b);  // hot moves from button to button
  EXPECT_FALSE(a.isHot());
  ASSERT_TRUE(b.isHot());
  QTimer* timer = FlatButtonHotTracker::timer();
  ASSERT_TRUE(timer->isActive());
  FlatButtonHotTracker::tick();  // still under the pointer
  EXPECT_TRUE(b.isHot());

  underPointer = nullptr;  // gone to another window: no move event reaches us
  ASSERT_TRUE(QMetaObject::invokeMethod(timer, "timeout", Qt::DirectConnection));
  EXPECT_FALSE(b.isHot());
  EXPECT_FALSE(timer->isActive());
  EXPECT_EQ(FlatButtonHotTracker::hotButton(), nullptr);
  EXPECT_EQ(pixelOf(&b, QPoint(12, 12)), b.color());

  activeWindow = false;  // never hot without an active window
  hover(a);
  EXPECT_FALSE(a.isHot());
  EXPECT_FALSE(timer->isActive());
}

TEST_F(FlatButtonTest, TrackingButtonStaysHotUntilReleased) {
  TFlatSpeedButton b(&parent);
  hover(b);
  pressAt(&b, QPoint(3, 3));
  underPointer = nullptr;
  moveTo(&b, QPoint(40, 40), Qt::LeftButton);
  FlatButtonHotTracker::tick();
  EXPECT_EQ(FlatButtonHotTracker::hotButton(), &b);
  releaseAt(&b, QPoint(40, 40));
  EXPECT_FALSE(b.isHot());
  EXPECT_EQ(FlatButtonHotTracker::hotButton(), nullptr);
  EXPECT_FALSE(FlatButtonHotTracker::timer()->isActive());
  hover(b);  // coming back after a release outside shows the hot look again
  EXPECT_TRUE(b.isHot());
  click(b);  // a release inside keeps it
  EXPECT_TRUE(b.isHot());
}

TEST_F(FlatButtonTest, DisablingOrDestroyingTheHotButtonStopsTheTimer) {
  TFlatSpeedButton keeper(&parent);  // keeps the timer alive
  auto b = std::make_unique<TFlatSpeedButton>(&parent);
  hover(*b);
  b->setEnabled(false);
  EXPECT_FALSE(b->isHot());
  EXPECT_EQ(FlatButtonHotTracker::hotButton(), nullptr);
  EXPECT_FALSE(FlatButtonHotTracker::timer()->isActive());
  b->setEnabled(true);
  hover(*b);
  ASSERT_EQ(FlatButtonHotTracker::hotButton(), b.get());
  b.reset();
  EXPECT_EQ(FlatButtonHotTracker::hotButton(), nullptr);
  EXPECT_FALSE(FlatButtonHotTracker::timer()->isActive());
}

TEST_F(FlatButtonTest, ToolButtonSetUp) {
  TFlatSpeedButton save(&parent), exit(&parent);
  configureToolButton(save, text::utf8ToGbk("保存"), makeSaveGlyph());
  EXPECT_EQ(save.size(), QSize(35, 35));
  EXPECT_EQ(save.caption(), QStringLiteral("保存"));
  EXPECT_EQ(save.numGlyphs(), 2);
  EXPECT_EQ(save.colorBorder(), systemColours().menu);
  EXPECT_TRUE(save.parentColor());
  const ButtonLayoutResult at = save.currentLayout();
  EXPECT_EQ(at.glyphPos.x(), 9);
  EXPECT_EQ(at.captionRect.top(), at.glyphPos.y() + 18 + 4);
  configureToolButton(exit, text::utf8ToGbk("退出"), makeExitGlyph());
  EXPECT_EQ(exit.numGlyphs(), 1);
  EXPECT_THROW(configureToolButton(exit, "\x81", makeExitGlyph()), EConvertError);
}

}  // namespace
}  // namespace qadj
