#include "qadj/window/window_grids.h"

namespace qadj::window {

using namespace qadj::grid;

namespace {

struct ColumnSpec {
  const char* name;
  const char* field;
  const char* caption;  // GBK
  int width;
  bool plain;  // TdxDBGridColumn rather than the masked column
  TSummaryType footer;
};

// GBK captions.
constexpr char kProductCode[] = "\xC9\xCC\xC6\xB7\xB4\xFA\xC2\xEB";  // 商品代码
constexpr char kProductName[] = "\xC9\xCC\xC6\xB7\xC3\xFB\xB3\xC6";  // 商品名称
constexpr char kQuota[] = "\xCF\xDE\xC1\xBF";                        // 限量
constexpr char kSold[] = "\xD2\xD1\xB7\xC3\xCF\xFA\xC1\xBF";         // 已访销量
constexpr char kAdjustable[] = "\xBF\xC9\xB5\xF7\xD5\xFB\xC1\xBF";   // 可调整量
constexpr char kPersonCode[] = "\xC8\xCB\xD4\xB1\xB4\xFA\xC2\xEB";   // 人员代码
constexpr char kPersonName[] = "\xC8\xCB\xD4\xB1\xC3\xFB\xB3\xC6";   // 人员名称
constexpr char kAdjustment[] = "\xB5\xF7\xD5\xFB\xC1\xBF";           // 调整量

void configureCommon(TdxDBGrid& grid, TDataSource* source, const char* key) {
  grid.Bands = {TdxDBGridBand{}};
  grid.HeaderPanelRowCount = 1;
  grid.setShowBands(false);
  grid.setHeaderColor(QColor(197, 217, 220));
  grid.setLookAndFeel(TdxLookAndFeel::lfFlat);
  grid.setOptionsView({TdxDBGridOptionView::edgoAutoWidth, TdxDBGridOptionView::edgoBandHeaderWidth,
                       TdxDBGridOptionView::edgoUseBitmap});
  grid.setOptionsBehavior(kDefaultOptionsBehavior);
  grid.setOptionsCustomize(kDefaultOptionsCustomize);
  grid.setKeyField(key);
  grid.setDataSource(source);
}

void addColumns(TdxDBGrid& grid, std::initializer_list<ColumnSpec> specs) {
  for (const ColumnSpec& s : specs) {
    TdxDBGridColumn* c = s.plain ? grid.CreateColumn() : grid.CreateMaskColumn();
    c->Name = s.name;
    c->FieldName = s.field;
    c->Caption = s.caption;
    c->setWidth(s.width);
    c->HeaderAlignment = TAlignment::taCenter;
    c->SummaryFooterType = s.footer;
  }
}

}  // namespace

void configureProductGrid(TdxDBGrid& grid, TDataSource* source) {
  grid.setObjectName("dxDBGrid1");
  grid.setOptionsDB(kDefaultOptionsDB);
  grid.setShowSummaryFooter(false);
  using enum TSummaryType;
  addColumns(grid, {
                       {"dxDBGrid1SPDM00", "SPDM00", kProductCode, 65, false, cstNone},
                       {"dxDBGrid1SPMC00", "SPMC00", kProductName, 110, false, cstNone},
                       {"dxDBGrid1XL0000", "XL0000", kQuota, 52, false, cstNone},
                       {"dxDBGrid1YFXSL0", "YFXSL0", kSold, 67, false, cstNone},
                       {"dxDBGrid1KTZXL0", "KTZXL0", kAdjustable, 55, false, cstNone},
                   });
  configureCommon(grid, source, "SPDM00");
}

void configureDetailGrid(TdxDBGrid& grid, TDataSource* source) {
  grid.setObjectName("dxDBGrid2");
  grid.setOptionsDB(kDefaultOptionsDB.with(TdxDBGridOptionDB::edgoLoadAllRecords));
  grid.setShowSummaryFooter(true);
  using enum TSummaryType;
  addColumns(grid, {
                       {"dxDBGrid2FXRY00", "FXRY00", kPersonCode, 48, false, cstNone},
                       {"dxDBGrid2RYMC00", "RYMC00", kPersonName, 58, false, cstNone},
                       {"dxDBGrid2SPDM00", "SPDM00", kProductCode, 58, false, cstNone},
                       {"dxDBGrid2SPMC00", "SPMC00", kProductName, 96, false, cstNone},
                       {"dxDBGrid2XL0000", "XL0000", kQuota, 52, false, cstSum},
                       {"dxDBGrid2TZXL00", "TZXL00", kAdjustment, 100, true, cstSum},
                   });
  configureCommon(grid, source, "FXRY00");
}

}  // namespace qadj::window
