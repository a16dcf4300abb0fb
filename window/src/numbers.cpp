#include "qadj/window/numbers.h"

#include <string>

#include "qadj/platform/error.h"
#include "qadj/platform/number_text.h"
#include "qadj/platform/text.h"

namespace qadj::window {

Quantity adjustmentQuantity(double value) {
  if (const auto q = Quantity::round(value)) return *q;
  throw EConvertError(text::utf8ToGbk("调整量 " + numbers::formatGeneral(value) +
                                      " 超出了限量可以保存的范围（最大 999999999999.99）"));
}

}  // namespace qadj::window
