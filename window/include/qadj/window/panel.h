// Plain containers of the window: a panel with an optional lowered bevel, border
// width and centred caption, and the horizontal rule under the tool bar.
#pragma once

#include <QString>
#include <QWidget>

namespace qadj::window {

class TPanel : public QWidget {
 public:
  enum class Bevel { None, Lowered };
  explicit TPanel(QWidget* parent);

  void setBevelOuter(Bevel b);
  Bevel bevelOuter() const { return bevel_; }
  // Pixels between the panel's edge (or bevel) and its children's area.
  void setBorderWidth(int w) { border_ = w; }
  int borderWidth() const { return border_; }
  void setCaption(const QString& text);
  QString caption() const { return caption_; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  Bevel bevel_ = Bevel::None;
  int border_ = 0;
  QString caption_;
};

// A lowered horizontal rule: a shadow line above a highlight line.
class TBevel : public QWidget {
 public:
  explicit TBevel(QWidget* parent);

 protected:
  void paintEvent(QPaintEvent*) override;
};

}  // namespace qadj::window
