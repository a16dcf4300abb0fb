#include "qadj/window/main_form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QTimer>
#include <optional>

#include "qadj/controls/flat_combo_box.h"
#include "qadj/controls/flat_speed_button.h"
#include "qadj/grid/dxdbgrid.h"
#include "qadj/platform/text.h"
#include "qadj/protocol/appserver.h"
#include "qadj/protocol/save_request.h"
#include "qadj/server/client_dataset.h"
#include "qadj/server/connection.h"
#include "qadj/server/data_source.h"
#include "qadj/settings/widget_form_settings.h"
#include "qadj/widgets/color.h"
#include "qadj/widgets/error_frame.h"
#include "qadj/widgets/owner_window.h"
#include "qadj/window/band_layout.h"
#include "qadj/window/date_picker.h"
#include "qadj/window/fonts.h"
#include "qadj/window/panel.h"
#include "qadj/window/splitter.h"
#include "qadj/window/tool_buttons.h"
#include "qadj/window/window_datasets.h"
#include "qadj/window/window_grids.h"

namespace qadj::window {
namespace {

Tmain* g_currentForm = nullptr;
// The plug-in's active form: activation is raised only when it changes.
Tmain* g_activeForm = nullptr;

const QSize kDesignedClient{770, 453};

// A label that sizes itself to its text, also when its font changes later (the
// settings file's font size reaches the labels that take the window's font).
class AutoSizeLabel : public QLabel {
 public:
  AutoSizeLabel(const QString& text, QWidget* parent) : QLabel(text, parent) { adjustSize(); }

 protected:
  void changeEvent(QEvent* e) override {
    QLabel::changeEvent(e);
    if (e->type() == QEvent::FontChange) adjustSize();
  }
};

// font: the label's own font; none takes the window's.
QLabel* makeLabel(QWidget* parent, const QString& text, QPoint pos,
                  const std::optional<QFont>& font = std::nullopt) {
  auto* label = new AutoSizeLabel(text, parent);
  if (font) label->setFont(*font);
  label->move(pos);
  return label;
}

}  // namespace

// The settings file's view of the window: outer frame sizes (the designed frame
// until the window system has drawn one) and Windows colours. A resize re-lays the
// bands at once, since a hidden window gets its resize event only when shown.
class Tmain::SettingsAdapter : public WidgetFormSettings {
 public:
  explicit SettingsAdapter(Tmain& form)
      : WidgetFormSettings(form, clBtnFace, kDesignedFrame), form_(form) {}
  void setWidth(int w) override {
    WidgetFormSettings::setWidth(w);
    form_.layoutBands();
  }
  void setHeight(int h) override {
    WidgetFormSettings::setHeight(h);
    form_.layoutBands();
  }

 private:
  Tmain& form_;
};

Tmain::Tmain(PluginContext& context, QWidget* parent)
    : QDialog(parent),
      context_(context),
      saveId_(newSaveId()),
      productWidth_(kDesignedProductWidth) {
  setObjectName(QStringLiteral("main"));
  setWindowTitle(QStringLiteral("限量调整"));
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
  setFont(windowFont());
  settings_ = std::make_unique<SettingsAdapter>(*this);
  settings_->setColor(clBtnFace);
  setAutoFillBackground(true);
  createDataSets();
  createControls();
  bindEvents();
  move(kDesignedPos);
  resize(kDesignedClient);
  layoutBands();
}

Tmain::~Tmain() {
  if (g_activeForm == this) g_activeForm = nullptr;
  // Controls go first, then the data sets (closing without reset calls), then the
  // connection, which releases the server object.
  const auto children = findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
  qDeleteAll(children);
  for (auto* ds : {ClientDataSet1.get(), ClientDataSet2.get(), Public_qry.get()})
    ds->SetOwnerDestroying();
  DataSource1.reset();
  DataSource2.reset();
  ClientDataSet1.reset();
  ClientDataSet2.reset();
  Public_qry.reset();
  dcom.reset();
}

FormSettingsTarget& Tmain::settingsTarget() {
  return *settings_;
}

void Tmain::createDataSets() {
  dcom = std::make_unique<TDCOMConnection>("dcom");
  dcom->SetServerGUID(CLSID_CoStoreProduct.toString());
  dcom->SetServerName(kCoStoreProductProgId);
  WindowDataSets sets = CreateWindowDataSets(dcom.get());
  ClientDataSet1 = std::move(sets.clientDataSet1);
  ClientDataSet2 = std::move(sets.clientDataSet2);
  Public_qry = std::move(sets.publicQry);
  DataSource1 = std::make_unique<TDataSource>("DataSource1");
  DataSource1->SetDataSet(ClientDataSet1.get());
  DataSource2 = std::make_unique<TDataSource>("DataSource2");
  DataSource2->SetDataSet(ClientDataSet2.get());
}

void Tmain::createControls() {
  Bevel1 = new TBevel(this);
  Bevel1->setObjectName(QStringLiteral("Bevel1"));
  Splitter1 = new TSplitter(this);
  Splitter1->setObjectName(QStringLiteral("Splitter1"));
  createToolBar();

  Panel1 = new TPanel(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setCaption(QStringLiteral("访销限量调整"));
  Panel1->setFont(titleFont());
  QPalette titlePal = Panel1->palette();
  titlePal.setColor(QPalette::WindowText, QColor(0, 0, 128));
  Panel1->setPalette(titlePal);

  createFilterPanel();
  createGrids();
}

void Tmain::createToolBar() {
  ToolBar1 = new QWidget(this);
  ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
  ToolBar1->setFocusPolicy(Qt::NoFocus);
  tbok = new TFlatSpeedButton(ToolBar1);
  tbok->setObjectName(QStringLiteral("tbok"));
  configureToolButton(*tbok, text::utf8ToGbk("保存"), makeSaveGlyph());
  tbexit = new TFlatSpeedButton(ToolBar1);
  tbexit->setObjectName(QStringLiteral("tbexit"));
  configureToolButton(*tbexit, text::utf8ToGbk("退出"), makeExitGlyph());
}

void Tmain::createFilterPanel() {
  Panel2 = new TPanel(this);
  Panel2->setObjectName(QStringLiteral("Panel2"));
  Panel2->setBevelOuter(TPanel::Bevel::Lowered);
  Label3 = makeLabel(Panel2, QStringLiteral("访销员"), QPoint(184, 11));
  Label3->setObjectName(QStringLiteral("Label3"));
  Label1 = makeLabel(Panel2, QStringLiteral("限量日期"), QPoint(17, 10), songtiFont(9));
  Label1->setObjectName(QStringLiteral("Label1"));
  QPalette black = Label1->palette();
  black.setColor(QPalette::WindowText, Qt::black);
  Label1->setPalette(black);

  RYMC = new TFlatComboBox(Panel2);
  RYMC->setObjectName(QStringLiteral("RYMC"));
  RYMC->setItemHeight(13);
  RYMC->setDropDownCount(8);
  RYMC->setEditText(QStringLiteral("请选择访销员"));

  DateTimePicker1 = new TDateTimePicker(Panel2);
  DateTimePicker1->setObjectName(QStringLiteral("DateTimePicker1"));
  DateTimePicker1->setGeometry(69, 6, 100, 21);
  DateTimePicker1->setFont(songtiFont(10));
  DateTimePicker1->setPalette(black);
  setTabOrder(RYMC, DateTimePicker1);
}

void Tmain::createGrids() {
  Panel3 = new TPanel(this);
  Panel3->setObjectName(QStringLiteral("Panel3"));
  Panel3->setBorderWidth(1);
  dxDBGrid1 = new grid::TdxDBGrid(Panel3);
  dxDBGrid1->setObjectName(QStringLiteral("dxDBGrid1"));
  configureProductGrid(*dxDBGrid1, DataSource1.get());

  Panel4 = new TPanel(this);
  Panel4->setObjectName(QStringLiteral("Panel4"));
  Panel4->setBorderWidth(1);
  dxDBGrid2 = new grid::TdxDBGrid(Panel4);
  dxDBGrid2->setObjectName(QStringLiteral("dxDBGrid2"));
  configureDetailGrid(*dxDBGrid2, DataSource2.get());

  setTabOrder(DateTimePicker1, dxDBGrid1);
  setTabOrder(dxDBGrid1, dxDBGrid2);
  setTabOrder(dxDBGrid2, RYMC);
}

void Tmain::bindEvents() {
  OnActivate = [this] { FormActivate(); };
  tbok->onClick = [this] { tbokClick(); };
  tbexit->onClick = [this] { tbexitClick(); };
  RYMC->onChange = [this] { RYMCChange(); };
  DateTimePicker1->OnChange = [this] { DateTimePicker1Change(); };
  dxDBGrid1->OnClick = [this](grid::TdxDBGrid&) { dxDBGrid1Click(); };
  dxDBGrid2->OnEdited = [this](grid::TdxDBGrid&, int) { dxDBGrid2Edited(); };
  Splitter1->CurrentWidth = [this] { return productWidth_; };
  Splitter1->OnMoved = [this](int width) { setProductPanelWidth(width); };
}

void Tmain::setProductPanelWidth(int width) {
  productWidth_ = std::max(0, width);
  layoutBands();
}

void Tmain::layoutBands() {
  // Side by side from the left; both as large as the larger caption needs.
  const QSize button = toolButtonSize(tbok->sizeHint().expandedTo(tbexit->sizeHint()));
  tbok->setGeometry(QRect(QPoint(0, kToolButtonTop), button));
  tbexit->setGeometry(QRect(QPoint(button.width(), kToolButtonTop), button));
  // The salesperson box right of its label and as high as its font needs.
  const QRect box = salespersonBoxRect(Label3->geometry().right(), RYMC->fontMetrics().height());
  RYMC->setGeometry(box);
  const BandRects r = qadj::window::layoutBands(
      size(), productWidth_, {toolBarHeight(button.height()), filterHeight(box)});
  ToolBar1->setGeometry(r.toolBar);
  Bevel1->setGeometry(r.bevel);
  Panel1->setGeometry(r.title);
  Panel2->setGeometry(r.filter);
  Panel3->setGeometry(r.product);
  Splitter1->setGeometry(r.splitter);
  Panel4->setGeometry(r.detail);
  dxDBGrid1->setGeometry(fillInside(r.product, Panel3->borderWidth()));
  dxDBGrid2->setGeometry(fillInside(r.detail, Panel4->borderWidth()));
}

int Tmain::ShowModal() {
  modalResult_ = mrNone;
  setWindowModality(Qt::ApplicationModal);
  applyOwner(this, applicationOwner());
  // A place the settings file gave stands as given, off the screen or not.
  atDesignedPlace_ = pos() == kDesignedPos;
  placeOnOwnersScreen();
  RYMC->setFocus();
  exec();
  return modalResult_;
}

void Tmain::placeOnOwnersScreen() {
  if (!atDesignedPlace_) return;
  const QScreen* screen = ownerScreen(this);
  if (screen == nullptr) return;
  // The frame the window system drew once shown, the designed one before.
  const QRect frame =
      isVisible() ? frameGeometry() : QRect(pos(), QSize(settings_->width(), settings_->height()));
  const QPoint at = fitOnScreen(frame, screen->availableGeometry());
  if (at != frame.topLeft()) move(at);
}

void Tmain::SetModalResult(int result) {
  modalResult_ = result;
  if (result != mrNone && isVisible()) done(result);
}

void Tmain::activated() {
  activationQueued_ = false;
  if (g_activeForm == this || !isVisible()) return;
  g_activeForm = this;
  if (OnActivate) OnActivate();
}

bool Tmain::event(QEvent* e) {
  return guarded(
      [&] {
        switch (e->type()) {
          case QEvent::WindowActivate:
            // Once more with the frame the window system drew, the first time only.
            placeOnOwnersScreen();
            atDesignedPlace_ = false;
            activated();
            break;
          case QEvent::Show:
            // Platforms without window activation (offscreen) still activate the
            // form once it is shown.
            if (!activationQueued_) {
              activationQueued_ = true;
              QTimer::singleShot(0, this, [this] { guarded([this] { activated(); }); });
            }
            break;
          default:
            break;
        }
        return QDialog::event(e);
      },
      false);
}

void Tmain::changeEvent(QEvent* e) {
  QDialog::changeEvent(e);
  // The tool buttons' captions take the window's font (the controls exist once the
  // constructor has made them).
  if (e->type() == QEvent::FontChange && tbexit != nullptr) layoutBands();
}

void Tmain::resizeEvent(QResizeEvent* e) {
  QDialog::resizeEvent(e);
  layoutBands();
}

void Tmain::closeEvent(QCloseEvent* e) {
  if (modalResult_ == mrNone) modalResult_ = mrCancel;
  QDialog::closeEvent(e);
}

void Tmain::keyPressEvent(QKeyEvent* e) {
  // A form does not close on Esc, nor press a default button on Enter.
  if (e->key() == Qt::Key_Escape || e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
    e->ignore();
    return;
  }
  QDialog::keyPressEvent(e);
}

Tmain* currentForm() {
  return g_currentForm;
}
void setCurrentForm(Tmain* form) {
  g_currentForm = form;
}

}  // namespace qadj::window
