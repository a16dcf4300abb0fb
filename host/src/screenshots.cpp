// qadj-screenshots: renders the quota-adjustment window in its main states to PNG
// files, on the embedded demo database, for documentation and review.
//   qadj-screenshots OUTDIR [OPERATOR]
#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>
#include <cstdio>
#include <memory>

#include "qadj/appserver/database.h"
#include "qadj/appserver/embedded.h"
#include "qadj/com/com.h"
#include "qadj/controls/flat_combo_box.h"
#include "qadj/grid/dxdbgrid.h"
#include "qadj/platform/text.h"
#include "qadj/server/client_dataset.h"
#include "qadj/server/fields.h"
#include "qadj/widgets/message_box.h"
#include "qadj/widgets/message_box_qt.h"
#include "qadj/window/main_form.h"

namespace {

void save(QWidget& w, const QString& dir, const char* name) {
  QApplication::processEvents();
  const QString path = QDir(dir).filePath(QString::fromLatin1(name));
  if (!w.grab().save(path)) std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
  std::printf("%s\n", qPrintable(path));
}

// Answers every message box with OK after saving a picture of the window with the
// real box drawn over its centre, framed and titled as a window manager would.
class PictureMessageBoxService : public qadj::MessageBoxService {
 public:
  PictureMessageBoxService(QWidget& form, QString dir, const char* name)
      : form_(form), dir_(std::move(dir)), name_(name) {}

  int show(const qadj::OwnerWindow& owner, const std::string& gbkText,
           const std::string& gbkCaption, unsigned flags) override {
    auto box = qadj::buildMessageBox(owner, gbkText, gbkCaption, flags);
    box->setWindowModality(Qt::NonModal);
    box->show();
    QApplication::processEvents();
    QImage picture = form_.grab().toImage();
    const QPixmap face = box->grab();
    constexpr int kTitle = 24;
    const QRect frame(QPoint((picture.width() - face.width()) / 2 - 1,
                             (picture.height() - face.height() - kTitle) / 2 - 1),
                      QSize(face.width() + 2, face.height() + kTitle + 2));
    QPainter p(&picture);
    p.fillRect(frame, QColor(0, 84, 166));
    p.setPen(Qt::white);
    p.drawText(frame.adjusted(8, 0, 0, -face.height()), Qt::AlignVCenter | Qt::AlignLeft,
               QString::fromStdString(qadj::text::gbkToUtf8Lossy(gbkCaption)));
    p.drawPixmap(frame.left() + 1, frame.top() + 1 + kTitle, face);
    p.end();
    box->hide();
    const QString path = QDir(dir_).filePath(QString::fromLatin1(name_));
    if (!picture.save(path)) std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    std::printf("%s\n", qPrintable(path));
    return qadj::IDOK;
  }

 private:
  QWidget& form_;
  QString dir_;
  const char* name_;
};

// The window with its open drop-down list drawn where the display shows it.
void saveWithPopup(QWidget& form, QWidget& popup, const QString& dir, const char* name) {
  QApplication::processEvents();
  QImage picture = form.grab().toImage();
  QPainter p(&picture);
  p.drawPixmap(popup.mapToGlobal(QPoint(0, 0)) - form.mapToGlobal(QPoint(0, 0)), popup.grab());
  p.end();
  const QString path = QDir(dir).filePath(QString::fromLatin1(name));
  if (!picture.save(path)) std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
  std::printf("%s\n", qPrintable(path));
}

// A click as the window system delivers it: press and release to the top-level
// window, which routes them (the release to an open list first).
void click(QWidget* w, QPoint pos) {
  QWindow* window = w->window()->windowHandle();
  const QPoint at = w->mapTo(w->window(), pos);
  QTest::mousePress(window, Qt::LeftButton, Qt::NoModifier, at);
  QTest::mouseRelease(window, Qt::LeftButton, Qt::NoModifier, at);
}

// Twenty more colleagues of the operator's warehouse holding 600 each of a product in
// today's document: more rows than the detail shows at once, and a five-digit total.
void addColleagues(const std::string& url, const std::string& product) {
  auto db = qadj::appserver::openDatabase(url);
  const auto doc = db->query("SELECT DHAO00 FROM XSTXLGL1 ORDER BY ZDRQ00 DESC");
  const auto house = db->query("SELECT CKDM00 FROM GSTRYGL0 WHERE FXY000 = 'Y'");
  if (doc.rows.empty() || house.rows.empty()) return;
  const auto document = std::get<std::string>(doc.rows[0][0]);
  const auto warehouse = std::get<std::string>(house.rows[0][0]);
  for (int i = 31; i <= 50; ++i) {
    const std::string code = "00" + std::to_string(i);
    db->execute("INSERT INTO GSTRYGL0 (RYDM00, RYMC00, CKDM00, FXY000) VALUES ($1, $2, $3, 'N')",
                {code, "同事" + std::to_string(i), warehouse});
    db->execute("INSERT INTO XSTXLGL01 (DHAO00, FXRY00, SPDM00, XL0000) VALUES ($1, $2, $3, 600)",
                {document, code, product});
  }
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
  const std::string url = qadj::appserver::sqliteUrl(db);
  qadj::appserver::registerInProcessServer(url);
  auto boxes = std::make_shared<qadj::ScriptedMessageBoxService>();
  qadj::ScopedMessageBoxService scope(boxes);

  qadj::PluginContext context;
  context.OperatorCode = argc > 2 ? argv[2] : "0001";
  {
    qadj::window::Tmain form(context);
    form.show();
    form.FormActivate();
    save(form, out, "1-empty.png");

    // A plain click on the arrow drops the list; a click on an entry chooses it.
    auto* rymc = form.RYMC;
    click(rymc, QPoint(rymc->width() - 6, rymc->height() / 2));
    if (rymc->isDropped()) {
      saveWithPopup(form, *rymc->view()->parentWidget(), out, "2-list-dropped.png");
      QAbstractItemView* view = rymc->view();
      click(view->viewport(), view->visualRect(rymc->model()->index(0, 0)).center());
    }
    save(form, out, "3-salesperson.png");

    form.ClientDataSet1->First();
    addColleagues(url, form.ClientDataSet1->FieldByName("SPDM00")->AsString());
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
    save(form, out, "4-adjustments.png");

    // One more receiver typed above what the giver may give: the refusal.
    if (!form.ClientDataSet2->Eof()) {
      form.ClientDataSet2->Edit();
      form.ClientDataSet2->FieldByName("TZXL00")->SetAsFloat(
          form.ClientDataSet1->FieldByName("KTZXL0")->AsFloat() + 1);
      form.ClientDataSet2->Post();
      auto picture = std::make_shared<PictureMessageBoxService>(form, out, "5-over-limit.png");
      qadj::ScopedMessageBoxService pictureScope(picture);
      form.dxDBGrid2Edited();
    }
  }
  qadj::com::CoUninitialize();
  return 0;
}
