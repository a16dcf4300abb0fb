#include "qadj/plugin/entry.h"

#include <QApplication>
#include <memory>

#include "qadj/platform/error.h"
#include "qadj/plugin/error_box.h"
#include "qadj/settings/getformsetting.h"
#include "qadj/widgets/owner_window.h"
#include "qadj/window/main_form.h"

namespace qadj::plugin {
namespace {

// The plug-in's application object. A host that is itself a Qt program has one
// already; otherwise the plug-in makes its own at the first showing and keeps it
// for the life of the process (Qt cannot be restarted within one process).
void ensureApplication() {
  if (qobject_cast<QApplication*>(QCoreApplication::instance())) return;
  if (QCoreApplication::instance())
    throw Exception("The host's application object cannot show windows");
  static int argc = 1;
  static char name[] = "qadj_vsd";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  (void)app;
}

}  // namespace

PluginContext& pluginContext() {
  static PluginContext context;
  return context;
}

void showWindow(quintptr hostWindow, const char* operatorCode, const char* serverHost,
                const BeforeShow& beforeShow) {
  ensureApplication();
  installErrorReporter();
  setApplicationOwnerHandle(hostWindow);
  PluginContext& context = pluginContext();
  context.ServerHost = serverHost ? serverHost : "";
  context.OperatorCode = operatorCode ? operatorCode : "";

  auto reader = std::make_unique<TGETFORMSETTING>();
  auto form = std::make_unique<window::Tmain>(context);
  window::setCurrentForm(form.get());
  struct ReleaseForm {
    std::unique_ptr<window::Tmain>& form;
    ~ReleaseForm() {
      window::setCurrentForm(nullptr);
      form.reset();
    }
  } release{form};
  reader->ApplySettings(form->settingsTarget(), "A");
  reader.reset();
  if (beforeShow) beforeShow(*form);
  form->ShowModal();
}

}  // namespace qadj::plugin
