// Set-up of the quota-adjustment window's two grids: the product grid and the
// salesperson detail grid, with their options, colours and columns.
#pragma once

#include "qadj/grid/dxdbgrid.h"

namespace qadj::window {

// Configures `grid` as the product grid `dxDBGrid1` bound to `source` (not owned):
// key "SPDM00", five masked columns, no footer. Creates the columns; call once.
void configureProductGrid(grid::TdxDBGrid& grid, TDataSource* source);

// Configures `grid` as the detail grid `dxDBGrid2` bound to `source` (not owned):
// key "FXRY00", load-all mode, footer shown with sums under XL0000 and TZXL00.
void configureDetailGrid(grid::TdxDBGrid& grid, TDataSource* source);

}  // namespace qadj::window
