// The quota-adjustment window `main` (class Tmain): its controls, data sets and
// connection, and the binding of their events to the window's handlers.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <string>

#include "qadj/platform/quantity.h"
#include "qadj/settings/form_settings_target.h"
#include "qadj/window/plugin_context.h"

class QLabel;

namespace qadj {
class TFlatSpeedButton;
class TFlatComboBox;
class TClientDataSet;
class TDataSource;
class TDCOMConnection;
namespace grid {
class TdxDBGrid;
}
}  // namespace qadj

namespace qadj::window {

class TPanel;
class TBevel;
class TSplitter;
class TDateTimePicker;

// Modal results, as the form's buttons and close box give them.
inline constexpr int mrNone = 0;
inline constexpr int mrCancel = 2;

class Tmain : public QDialog {
 public:
  // Creates the window hidden, with every control, the connection and the data sets
  // (closed). context must outlive the window.
  explicit Tmain(PluginContext& context, QWidget* parent = nullptr);
  ~Tmain() override;

  // Shows the window modally; returns its modal result once it has closed.
  int ShowModal();
  int ModalResult() const { return modalResult_; }
  // A non-zero result closes a modally shown window.
  void SetModalResult(int result);

  // Raised when the window becomes the plug-in's active form: its first showing,
  // and again only after another form of the plug-in was active. Message boxes,
  // drop-downs and other applications do not count.
  std::function<void()> OnActivate;

  // The properties that the settings file may change.
  FormSettingsTarget& settingsTarget();

  // The product panel's width (the splitter changes it).
  int productPanelWidth() const { return productWidth_; }
  void setProductPanelWidth(int width);

  PluginContext& context() { return context_; }

  // Components, named as the window names them. Widgets are owned by their parents;
  // the data sets, data sources and connection by the window.
  QWidget* ToolBar1 = nullptr;
  TFlatSpeedButton* tbok = nullptr;
  TFlatSpeedButton* tbexit = nullptr;
  TBevel* Bevel1 = nullptr;
  TPanel* Panel1 = nullptr;
  TPanel* Panel2 = nullptr;
  QLabel* Label3 = nullptr;
  QLabel* Label1 = nullptr;
  TFlatComboBox* RYMC = nullptr;
  TDateTimePicker* DateTimePicker1 = nullptr;
  TPanel* Panel3 = nullptr;
  grid::TdxDBGrid* dxDBGrid1 = nullptr;
  TSplitter* Splitter1 = nullptr;
  TPanel* Panel4 = nullptr;
  grid::TdxDBGrid* dxDBGrid2 = nullptr;
  std::unique_ptr<TDCOMConnection> dcom;
  std::unique_ptr<TClientDataSet> ClientDataSet1;
  std::unique_ptr<TClientDataSet> ClientDataSet2;
  std::unique_ptr<TClientDataSet> Public_qry;
  std::unique_ptr<TDataSource> DataSource1;
  std::unique_ptr<TDataSource> DataSource2;

  // Event handlers, bound by name to their controls' events.
  // Activation: aims dcom at the server host, sets today's date and fills RYMC.
  void FormActivate();
  // The operator changed the date: prompt back, both quota data sets closed.
  void DateTimePicker1Change();
  // The operator picked or typed a salesperson: prepares and loads the product quotas.
  void RYMCChange();
  // A product row was clicked: stores it and loads the other salespersons' lines.
  void dxDBGrid1Click();
  // An adjustment cell closed: posts it and refuses a total above the limit.
  void dxDBGrid2Edited();
  // Save: after confirmation, moves the quota as one unit and reloads both grids.
  void tbokClick();
  // Exit: closes the window; unsaved adjustments are dropped.
  void tbexitClick();

  // The chosen salesperson code: the first four bytes of RYMC's GBK text.
  std::string salespersonCode() const;

  // The id the next save goes with: the same until the window knows the save's
  // outcome (applied, or refused by the server), so that a save sent again after a
  // lost reply is applied at most once; a new one after each known outcome and each
  // load of the detail grid.
  const std::string& saveId() const { return saveId_; }

 protected:
  bool event(QEvent* e) override;
  void changeEvent(QEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;

 private:
  class SettingsAdapter;

  void createControls();
  void createToolBar();
  void createFilterPanel();
  void createGrids();
  void createDataSets();
  void bindEvents();
  void layoutBands();
  // Moves the window, while at its designed place (atDesignedPlace_), wholly onto the
  // screen that holds its owner.
  void placeOnOwnersScreen();
  bool atDesignedPlace_ = false;
  void activated();

  // Sends the save's statements with the save id. Returns true when the save was
  // applied, false when the server refused it over a salesperson's limit (its text
  // shown in a box); throws EOleError for any other failure: one of known outcome gives
  // the next save a new id, one of unknown outcome is reported as such.
  bool executeSave(const std::vector<std::string>& save);

  // One detail row's adjustment as a save sends it.
  struct Adjustment {
    std::string receiver, product;  // FXRY00, SPDM00 (GBK)
    Quantity amount;
  };
  // The detail rows' adjustments in grid order (the cursor ends past the last row).
  // Throws EConvertError for an amount no quota line could hold.
  std::vector<Adjustment> adjustments();
  // Types the amounts back into the reloaded detail rows, matched by salesperson in
  // order (a salesperson listed twice gets their amounts in turn).
  void restoreAdjustments(const std::vector<Adjustment>& typed);
  // After a save: a fresh m_qadj and product list of the giver, the clicked product's
  // new adjustable quantity as the limit, and its detail reloaded (date "yyyy-mm-dd").
  void reloadGiverAndDetail(const std::string& date);

  PluginContext& context_;
  std::string saveId_;
  std::unique_ptr<SettingsAdapter> settings_;
  int productWidth_;
  int modalResult_ = mrNone;
  bool activationQueued_ = false;
};

// The current window: set by the entry point while it shows one.
Tmain* currentForm();
void setCurrentForm(Tmain* form);

}  // namespace qadj::window
