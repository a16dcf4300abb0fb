// A QApplication for widget tests, made before any test runs, on the offscreen platform
// unless the environment names another (the plug-in uses the host's application object
// when there is one). Linked as an object library, so that its registration is kept.
#include <gtest/gtest.h>

#include <QApplication>

namespace {

class QtAppEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (QApplication::instance()) return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "qadj_tests";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
  }
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new QtAppEnvironment);

}  // namespace
