// TdxDBGrid: a data-bound grid. It shows the records of the data set behind its data
// source, keeps its focused row on the data set's current record, edits cells in
// place and computes footer summaries.
//
// Two modes, chosen on every load: record-window mode (no copies; rows are the data
// set's records, the current record is the focused row) and load-all mode
// (edgoLoadAllRecords: the grid copies every record into rows of its own, which it
// may sort, and computes the footer while copying). Each mode is a RowSource
// (row_source.h); the grid reads every row through the one of its mode. In load-all
// mode a posted or cancelled edit refreshes that row and the footer alone.
//
// Every event handler runs on the GUI thread inside the error frame; exceptions
// thrown by handlers or by the data set are reported there and never reach Qt.
#pragma once

#include <QAbstractScrollArea>
#include <QColor>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "qadj/grid/column.h"
#include "qadj/grid/layout.h"
#include "qadj/grid/options.h"
#include "qadj/grid/row_source.h"
#include "qadj/grid/rows.h"
#include "qadj/server/data_source.h"

class QLineEdit;

namespace qadj::grid {

class CellEditor;

struct TdxDBGridBand {
  std::string Caption;
  int Width = 250;
  int MinWidth = 30;
};

enum class TdxGridState { Normal, RowPressed, HeaderPressed, ColumnSizing, ColumnMoving, Editing };

class TdxDBGrid : public QAbstractScrollArea {
  Q_OBJECT
  // What a program outside the plug-in (a test, an accessibility client) reads of the
  // grid through the meta-object, as Qt's own widgets expose their state. Texts are
  // UTF-16 here; rectangles are viewport coordinates.
  Q_PROPERTY(int rowCount READ RowCount)
  Q_PROPERTY(int columnCount READ ColumnCount)
  Q_PROPERTY(int focusedRow READ FocusedRow)
  Q_PROPERTY(bool editorVisible READ EditorVisible)

 public:
  explicit TdxDBGrid(QWidget* parent = nullptr);

  // The display text of a shown cell (empty outside the rows).
  Q_INVOKABLE QString cellText(int row, int column) const;
  Q_INVOKABLE QRect cellRect(int row, int column) const { return CellRect(row, column); }
  Q_INVOKABLE QRect headerRect(int column) const { return HeaderRect(column); }
  // The footer text of a column (empty for a column without a summary).
  Q_INVOKABLE QString footerText(int column) const;
  // The header caption of a column (empty outside the columns).
  Q_INVOKABLE QString columnCaption(int column) const;
  // The visual index of the column bound to a field, -1 when none is.
  Q_INVOKABLE int columnOfField(const QString& fieldName) const;
  ~TdxDBGrid() override;

  // --- Configuration.
  TDataSource* DataSource() const;
  // Binds the grid to a data source (not owned; null unbinds) and loads.
  void setDataSource(TDataSource* source);
  TDataSet* DataSet() const;
  const std::string& KeyField() const { return keyFieldName_; }
  void setKeyField(std::string name);

  std::vector<TdxDBGridBand> Bands{TdxDBGridBand{}};
  int HeaderPanelRowCount = 1;

  bool ShowBands() const { return showBands_; }
  void setShowBands(bool v);
  bool ShowHeader() const { return showHeader_; }
  void setShowHeader(bool v);
  bool ShowGrid() const { return showGrid_; }
  void setShowGrid(bool v);
  bool ShowSummaryFooter() const { return showFooter_; }
  void setShowSummaryFooter(bool v);
  QColor HeaderColor() const { return headerColor_; }
  void setHeaderColor(const QColor& c);
  TdxLookAndFeel LookAndFeel() const { return lookAndFeel_; }
  void setLookAndFeel(TdxLookAndFeel v);

  TdxDBGridOptionsDB OptionsDB() const { return optionsDB_; }
  // Changing the data options reloads (the mode may change).
  void setOptionsDB(TdxDBGridOptionsDB v);
  TdxDBGridOptionsView OptionsView() const { return optionsView_; }
  void setOptionsView(TdxDBGridOptionsView v);
  TdxDBGridOptionsBehavior OptionsBehavior() const { return optionsBehavior_; }
  void setOptionsBehavior(TdxDBGridOptionsBehavior v) { optionsBehavior_ = v; }
  TdxDBGridOptionsCustomize OptionsCustomize() const { return optionsCustomize_; }
  void setOptionsCustomize(TdxDBGridOptionsCustomize v) { optionsCustomize_ = v; }

  // --- Events.
  std::function<void(TdxDBGrid& sender)> OnClick;
  std::function<void(TdxDBGrid& sender, int row)> OnEdited;
  std::function<void(TdxDBGrid& sender, TdxDBGridColumn& column)> OnColumnClick;
  std::function<void(TdxDBGrid& sender, int row, bool& allow)> OnEditing;
  std::function<void(TdxDBGrid& sender)> OnBeforeCalcSummary;
  std::function<void(TdxDBGrid& sender)> OnCalcSummary;
  // The system beep for dropped characters (QApplication::beep by default).
  std::function<void()> Beep;

  // --- Columns, owned by the grid, in visual order.
  TdxDBGridColumn* CreateColumn();
  TdxDBGridMaskColumn* CreateMaskColumn();
  int ColumnCount() const { return static_cast<int>(columns_.size()); }
  TdxDBGridColumn* Column(int visualIndex) const { return columns_[visualIndex].get(); }
  // Returns the column of that component name, or null.
  TdxDBGridColumn* ColumnByName(std::string_view name) const;
  // Moves a column to another visual position.
  void MoveColumn(int from, int to);
  // Displayed pixel widths in visual order (scaled under edgoAutoWidth).
  std::vector<int> DisplayedWidths() const;

  // --- State.
  bool LoadAllMode() const;
  // Number of rows shown.
  int RowCount() const;
  // Focused row (display position), -1 when there is none.
  int FocusedRow() const { return focusedRow_; }
  int FocusedColumn() const { return focusedColumn_; }
  // Sets the focused column (visual index).
  void setFocusedColumn(int column);
  // Gives column (one of this grid's) the sort state s, clears every other column's
  // when s sorts, and in load-all mode reorders the rows; column.setSorted calls this.
  void SortByColumn(TdxDBGridColumn& column, TdxGridColumnSorted s);
  TdxGridState State() const { return state_; }
  // GBK display text of a shown cell (empty outside the rows).
  std::string CellText(int row, int column) const;
  // Key field's value of a shown row (null without a key field or outside the rows).
  CellValue RowKey(int row) const;
  // Number of records counted by the last full load.
  long SummaryRecordCount() const { return summaryCount_; }

  // --- Editing.
  bool EditorVisible() const;
  // The editor widget (for tests and focus checks); null before it was first shown.
  QLineEdit* Editor() const;
  // Opens the editor on the focused cell; returns false when refused or impossible.
  bool ShowEditor();
  // Row-modified mark: a change was accepted and not yet written or reloaded.
  bool RowModified() const { return rowModified_; }

  // A text as the grid draws it in a row or in the footer: its rectangle (viewport
  // coordinates), the text, elided with "…" where even the room it may take is too
  // narrow (a number is never silently cut), and its alignment.
  struct DrawnText {
    int column = -1;
    QRect rect;
    QString text;
    Qt::Alignment alignment;
  };
  // The texts of a shown row, in visual column order (a number may run left over
  // empty cells before it).
  std::vector<DrawnText> RowTexts(int row) const;
  // The footer's totals (each may run left over footer cells without a total).
  std::vector<DrawnText> FooterTexts() const;

  // Geometry used by painting and hit testing (exposed for tests).
  GridGeometry Geometry() const;
  // The rectangle of a shown cell in viewport coordinates.
  QRect CellRect(int row, int column) const;
  QRect HeaderRect(int column) const;

 protected:
  bool event(QEvent* e) override;
  bool viewportEvent(QEvent* e) override;
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;
  void wheelEvent(QWheelEvent* e) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  class Link;
  friend class Link;
  friend class CellEditor;

  // True when bound to an open data set.
  bool dataActive() const;

  // The rows of the current mode.
  const RowSource& rows() const;
  ColumnBinding binding(int column) const;

  // Data-set notifications.
  void onActiveChanged();
  void onDataSetChanged();
  void onRecordEditEnded();
  void onRecordChanged(TField* field);
  void onScrolled();
  void onPendingValuesRequested();

  // Loading.
  void bindFields();
  void fullLoad();
  void loadRows();
  void resetSummaries();
  void addSummaries(int recIndex);
  void finishSummaries();
  void addInsertedRow();
  void refreshCurrentRowValues();
  // Copies the current record's values into the loaded row `stored`, or into a new
  // row when stored is -1; returns the row's stored index.
  int storeCurrentRecord(int stored);
  // True when the footer of a load can follow one posted row without a reload: no
  // summary handler is set and every total reads its column's own field.
  bool summariesFollowOneRow() const;
  // Brings the loaded row `stored` and the footer up to date with the posted record;
  // false (nothing done) when the footer cannot follow it.
  bool refreshPostedRow(int stored);
  const TdxDBGridColumn* sortedColumn() const;
  void applySort();
  int storeIndexOfCurrent() const;
  void syncFocusFromDataSet();

  // The record shown on a row, so that it can be found again after a reload or a
  // re-sort has moved it: its key value when the grid has a key field, else its id.
  struct RowIdentity {
    std::uint64_t id = 0;
    CellValue key;
    bool byKey = false;
    bool valid = false;
  };
  RowIdentity identityOf(int row) const;
  // The row now showing that record, or -1 when it is gone.
  int rowOf(const RowIdentity& record) const;

  // Movement.
  void moveToRow(int row);
  void leaveRecord();
  void makeRowVisible(int row);
  void updateScrollBars();
  int visibleRowCount() const;

  // Editing.
  CellEditor* editor();
  bool canEditCell() const;
  bool beginCellChange();
  // Closes the editor: write the text back when `write`, then the edited event when
  // `notify`, then hide.
  void closeEditor(bool write, bool notify);
  void closeEditorForReload();
  void placeEditor();
  bool editorKey(QKeyEvent* e);
  void leaveGrid();

  // Keys and mouse.
  // Ends a pressed, sizing or moving state without acting on it (the cancel mode of
  // the error frame).
  void cancelGesture();
  bool navigationKey(QKeyEvent* e);
  void moveColumn(int delta, bool wrapRows);
  void deleteRecord();
  void insertRecord();
  void headerClicked(int column, bool ctrl);
  void rowClickRelease(QMouseEvent* e, const HitTest& hit);

  // Painting pieces (called from paintEvent only).
  void paintHeader(QPainter& p, const std::vector<int>& widths) const;
  void paintRows(QPainter& p, const std::vector<int>& widths) const;
  void paintFooter(QPainter& p, const std::vector<int>& widths) const;
  void paintFrame(QPainter& p, const QRect& r, bool raised) const;
  bool rightAligned(const TdxDBGridColumn& c) const;

  int headerHeight() const;
  int rowHeight() const;
  int footerHeight() const;
  int bandHeight() const;
  int contentWidth() const;

  std::unique_ptr<Link> link_;
  std::vector<std::unique_ptr<TdxDBGridColumn>> columns_;
  std::string keyFieldName_;
  TField* keyField_ = nullptr;
  bool showBands_ = false;
  bool showHeader_ = true;
  bool showGrid_ = true;
  bool showFooter_ = false;
  QColor headerColor_;
  TdxLookAndFeel lookAndFeel_ = TdxLookAndFeel::lfStandard;
  TdxDBGridOptionsDB optionsDB_ = kDefaultOptionsDB;
  TdxDBGridOptionsView optionsView_ = kDefaultOptionsView;
  TdxDBGridOptionsBehavior optionsBehavior_ = kDefaultOptionsBehavior;
  TdxDBGridOptionsCustomize optionsCustomize_ = kDefaultOptionsCustomize;

  LoadedRows loaded_;  // load-all mode
  DataSetRows live_;   // record-window mode
  long summaryCount_ = 0;
  int focusedRow_ = -1;
  int focusedColumn_ = 0;
  int firstRow_ = 0;
  int xOffset_ = 0;
  bool loading_ = false;
  bool rowModified_ = false;
  bool updatingScrollBars_ = false;

  TdxGridState state_ = TdxGridState::Normal;
  QPoint pressPos_;
  HitTest pressHit_;         // where the press landed, as the rows stood then
  RowIdentity pressRecord_;  // the record the press landed on
  int sizingStartWidth_ = 0;
  std::vector<int> sizingStartWidths_;
  int movingTarget_ = -1;

  CellEditor* editor_ = nullptr;
  std::string editorOpenText_;  // GBK text the editor opened with
  bool editorClosing_ = false;
};

}  // namespace qadj::grid
