#include "qadj/grid/summary.h"

#include <cmath>

#include "qadj/platform/quantity.h"
#include "qadj/server/fields.h"

namespace qadj::grid {

namespace {

// A held quantity's value as its whole hundredths.
std::int64_t hundredthsOf(long double v) {
  const auto q = Quantity::round(static_cast<double>(v));
  return q ? q->hundredths() : std::llround(v * 100);
}

}  // namespace

void SummaryAccumulator::add(TSummaryType type, long double v) {
  if (type == TSummaryType::cstNone) return;
  if (inHundredths && (type == TSummaryType::cstSum || type == TSummaryType::cstAvg)) {
    // Held values are quantities already: each is its hundredths exactly.
    hundredths += hundredthsOf(v);
    hasValue = true;
    return;
  }
  if (!hasValue) {
    value = v;
    hasValue = true;
    return;
  }
  switch (type) {
    case TSummaryType::cstSum:
    case TSummaryType::cstAvg:
      value += v;
      break;
    case TSummaryType::cstMin:
      if (v < value) value = v;
      break;
    case TSummaryType::cstMax:
      if (v > value) value = v;
      break;
    case TSummaryType::cstCount:
    case TSummaryType::cstNone:
      break;
  }
}

void SummaryAccumulator::finish(TSummaryType type, long recordCount) {
  if (inHundredths && (type == TSummaryType::cstSum || type == TSummaryType::cstAvg))
    value = static_cast<long double>(hundredths) / 100;
  if (type == TSummaryType::cstCount) {
    value = static_cast<long double>(recordCount);
  } else if (type == TSummaryType::cstAvg && recordCount > 0) {
    value /= static_cast<long double>(recordCount);
  }
}

bool SummaryAccumulator::replace(TSummaryType type, long double before, long double after,
                                 long recordCount) {
  if (!inHundredths || (type != TSummaryType::cstSum && type != TSummaryType::cstAvg)) return false;
  hundredths -= hundredthsOf(before);
  hundredths += hundredthsOf(after);
  finish(type, recordCount);
  return true;
}

std::string defaultFooterFormat(TSummaryType type) {
  switch (type) {
    case TSummaryType::cstSum:
      return "0.00;-0.00";
    case TSummaryType::cstMin:
      return "MIN=0.00;MIN=-0.00";
    case TSummaryType::cstMax:
      return "MAX=0.00;MAX=-0.00";
    case TSummaryType::cstCount:
      return "0";
    case TSummaryType::cstAvg:
      return "AVG=0.00;AVG=-0.00";
    case TSummaryType::cstNone:
      break;
  }
  return {};
}

namespace {

const char* datePrefix(TSummaryType type) {
  switch (type) {
    case TSummaryType::cstMin:
      return "MIN=";
    case TSummaryType::cstMax:
      return "MAX=";
    case TSummaryType::cstAvg:
      return "AVG=";
    default:
      return "";
  }
}

}  // namespace

std::string footerText(TSummaryType type, const std::string& format, long double value,
                       const numbers::FormatSettings& settings, bool dateValued) {
  if (type == TSummaryType::cstNone) return {};
  if (dateValued && type != TSummaryType::cstCount)
    return (format.empty() ? std::string(datePrefix(type)) : format) +
           FormatDateTime(static_cast<double>(value));
  return numbers::formatFloat(format.empty() ? defaultFooterFormat(type) : format, value, settings);
}

}  // namespace qadj::grid
