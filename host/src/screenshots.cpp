// qadj-screenshots: renders the quota-adjustment window in its main states to PNG
// files, on the embedded demo database, for documentation and review.
//   qadj-screenshots OUTDIR [OPERATOR]
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cstdio>
#include <memory>

#include "qadj/appserver/embedded.h"
#include "qadj/com/com.h"
#include "qadj/controls/flat_combo_box.h"
#include "qadj/grid/dxdbgrid.h"
#include "qadj/platform/message_box.h"
#include "qadj/server/client_dataset.h"
#include "qadj/server/fields.h"
#include "qadj/window/main_form.h"

namespace {

void save(QWidget& w, const QString& dir, const char* name) {
  QApplication::processEvents();
  const QString path = QDir(dir).filePath(QString::fromLatin1(name));
  if (!w.grab().save(path)) std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
  std::printf("%s\n", qPrintable(path));
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fputs("usage: qadj-screenshots OUTDIR [OPERATOR]\n", stderr);
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(out);
  QTemporaryDir dbDir;
  const std::string db = dbDir.filePath(QStringLiteral("demo.sqlite")).toStdString();
  qadj::com::CoInitialize();
  qadj::appserver::ensureDemoDatabase(db);
  qadj::appserver::registerInProcessServer(qadj::appserver::sqliteUrl(db));
  auto boxes = std::make_shared<qadj::ScriptedMessageBoxService>();
  qadj::ScopedMessageBoxService scope(boxes);

  qadj::PluginContext context;
  context.OperatorCode = argc > 2 ? argv[2] : "0001";
  {
    qadj::window::Tmain form(context);
    form.show();
    form.FormActivate();
    save(form, out, "1-empty.png");

    form.RYMC->setCurrentIndex(0);
    form.RYMCChange();
    save(form, out, "2-salesperson.png");

    form.ClientDataSet1->First();
    form.dxDBGrid1Click();
    int n = 0;
    form.ClientDataSet2->First();
    while (!form.ClientDataSet2->Eof() && n < 2) {
      form.ClientDataSet2->Edit();
      form.ClientDataSet2->FieldByName("TZXL00")->SetAsFloat(n == 0 ? 1.5 : 2);
      form.ClientDataSet2->Post();
      form.ClientDataSet2->Next();
      ++n;
    }
    save(form, out, "3-adjustments.png");
  }
  qadj::com::CoUninitialize();
  return 0;
}
