// The plug-in's process-wide values, shared by every showing of the window. Texts
// are GBK byte strings. The entry point owns the single instance and hands it to
// the window.
#pragma once

#include <string>

namespace qadj {

struct PluginContext {
  std::string ServerHost;         // set by every call of the entry point
  std::string OperatorCode;       // set by every call of the entry point
  std::string WarehouseCode;      // set on the window's activation
  std::string ProductCode;        // set by a click on the product grid
  double AdjustableQuantity = 0;  // set by a click on the product grid
};

}  // namespace qadj
