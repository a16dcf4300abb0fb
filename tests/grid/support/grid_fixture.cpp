#include "support/grid_fixture.h"

namespace gridtest {

std::vector<std::string> columnTexts(qadj::TDataSet& ds, const char* field) {
  std::vector<std::string> out;
  qadj::TField* f = ds.FieldByName(field);
  for (int i = 0; i < ds.RecordCount(); ++i) out.push_back(f->DisplayTextAt(i));
  return out;
}

}  // namespace gridtest
