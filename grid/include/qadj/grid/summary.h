// Footer summaries: one accumulator per column, fed during a full load of the grid's
// rows, and the footer text formatted from it.
#pragma once

#include <cstdint>
#include <string>

#include "qadj/grid/options.h"
#include "qadj/platform/number_text.h"

namespace qadj::grid {

// The running total of one column's footer.
struct SummaryAccumulator {
  long double value = 0;
  bool hasValue = false;
  // A total of quantities (a field held in hundredths): a sum or average is counted in
  // whole hundredths, exact whatever the number of rows, and value set from it when
  // the last record is in.
  bool inHundredths = false;
  std::int64_t hundredths = 0;

  void reset(bool quantities = false) {
    value = 0;
    hasValue = false;
    inHundredths = quantities;
    hundredths = 0;
  }
  // Adds one record's value (callers pass 0 for cstCount and for null values).
  void add(TSummaryType type, long double v);
  // Final step after the last record: count and average use the record count.
  void finish(TSummaryType type, long recordCount);
  // After finish: one record's value changed from `before` to `after`. Returns true
  // when the total was brought up to date (a sum or average kept in hundredths, exact
  // in any order); false when it must be counted again from every record.
  bool replace(TSummaryType type, long double before, long double after, long recordCount);
};

// Returns the format used when a column sets none: "0.00;-0.00" for a sum, and so on;
// empty for cstNone.
std::string defaultFooterFormat(TSummaryType type);

// Returns the footer text: empty for cstNone, else value formatted with format (or
// the kind's default when format is empty). A total of a date, time or date-and-time
// field (dateValued), other than a count, is a prefix ("MIN=", "MAX=", "AVG=", none
// for a sum; format instead when set) and the value as the field shows a date.
// Never throws.
std::string footerText(TSummaryType type, const std::string& format, long double value,
                       const numbers::FormatSettings& settings = {}, bool dateValued = false);

}  // namespace qadj::grid
