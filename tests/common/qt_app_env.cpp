// A QApplication for widget tests, made before any test runs (the plug-in uses the
// host's application object when there is one).
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
