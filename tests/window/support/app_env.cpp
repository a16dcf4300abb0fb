// A QApplication for the window's tests, made before any test runs.
#include <gtest/gtest.h>

#include <QApplication>

namespace {

class QtAppEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (!QApplication::instance()) {
      static int argc = 1;
      static char name[] = "qadj_tests";
      static char* argv[] = {name, nullptr};
      new QApplication(argc, argv);
    }
  }
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new QtAppEnvironment);

}  // namespace
