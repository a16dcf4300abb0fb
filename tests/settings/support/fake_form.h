// A window stand-in for the settings applier: holds the properties and logs
// every change in order.
#pragma once

#include <string>
#include <vector>

#include "qadj/settings/form_settings_target.h"

namespace qadj::test {

class FakeForm : public FormSettingsTarget {
 public:
  // The quota-adjustment window as designed.
  int top_ = 110, left_ = 183, width_ = 778, height_ = 480;
  WinColor color_ = clBtnFace;
  int fontSize_ = 8;
  std::vector<std::string> log;

  int top() const override { return top_; }
  void setTop(int v) override { set("top", top_, v); }
  int left() const override { return left_; }
  void setLeft(int v) override { set("left", left_, v); }
  int width() const override { return width_; }
  void setWidth(int v) override { set("width", width_, v); }
  int height() const override { return height_; }
  void setHeight(int v) override { set("height", height_, v); }
  WinColor color() const override { return color_; }
  void setColor(WinColor v) override {
    if (v != color_) log.push_back("color=" + std::to_string(v));
    color_ = v;
  }
  int fontSize() const override { return fontSize_; }
  void setFontSize(int v) override { set("font.size", fontSize_, v); }
  void setAlignNone() override { log.push_back("alignNone"); }
  void setWindowStateNormal() override { log.push_back("windowStateNormal"); }
  void setPositionDesigned() override { log.push_back("positionDesigned"); }
  void setBorderStyleNone() override { log.push_back("borderStyleNone"); }
  void setFormStyleNormal() override { log.push_back("formStyleNormal"); }

 private:
  // Logs only real changes, so that an unchanged property leaves no trace.
  void set(const char* name, int& field, int v) {
    if (v != field) log.push_back(std::string(name) + "=" + std::to_string(v));
    field = v;
  }
};

}  // namespace qadj::test
