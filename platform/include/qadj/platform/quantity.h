// A quantity of quota as the company counts it: a whole number of hundredths. What the
// operator sees, what the window checks and sends, and what the server checks and
// journals are one such number, so that a transfer's parts always add up to its total.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "qadj/platform/export.h"

namespace qadj {

class QADJ_PLATFORM_API Quantity {
 public:
  // The largest magnitude, in hundredths: 999 999 999 999.99. Within it a quantity's
  // value as a double shows every hundredth exactly (14 significant digits).
  static constexpr std::int64_t kMostHundredths = 99'999'999'999'999;

  constexpr Quantity() = default;

  // The quantity of `hundredths` hundredths; nullopt beyond kMostHundredths.
  static std::optional<Quantity> ofHundredths(std::int64_t hundredths);
  // value rounded to hundredths, half away from zero, as the decimal it shows: its
  // shortest text that reads back as the same double (2.675 gives 2.68, 1.005 gives
  // 1.01, 0.3 - 0.1 gives 0.20). nullopt when value is not finite or the result lies
  // beyond kMostHundredths.
  static std::optional<Quantity> round(double value);

  std::int64_t hundredths() const { return hundredths_; }
  // The quantity as a double (hundredths / 100, the double nearest to it).
  double value() const { return static_cast<double>(hundredths_) / 100.0; }

  // General decimal form, as an increment is written: "2.5", "-2", "0", "0.05".
  std::string text() const;
  // Two decimals, as a footer shows a total: "2.50", "-2.00", "0.00".
  std::string twoDecimals() const;

  friend bool operator==(Quantity a, Quantity b) { return a.hundredths_ == b.hundredths_; }
  friend bool operator!=(Quantity a, Quantity b) { return !(a == b); }
  friend bool operator<(Quantity a, Quantity b) { return a.hundredths_ < b.hundredths_; }
  friend bool operator>(Quantity a, Quantity b) { return b < a; }
  friend bool operator<=(Quantity a, Quantity b) { return !(b < a); }
  friend bool operator>=(Quantity a, Quantity b) { return !(a < b); }

 private:
  explicit constexpr Quantity(std::int64_t hundredths) : hundredths_(hundredths) {}
  std::int64_t hundredths_ = 0;
};

// The sum of quantities, kept exact (whole hundredths) while it is added up; its
// quantity() is nullopt once it lies beyond the range of a quantity.
class QADJ_PLATFORM_API QuantitySum {
 public:
  void add(Quantity q) { hundredths_ += q.hundredths(); }
  void subtract(Quantity q) { hundredths_ -= q.hundredths(); }
  std::optional<Quantity> quantity() const { return Quantity::ofHundredths(hundredths_); }
  std::int64_t hundredths() const { return hundredths_; }

 private:
  // Each part is at most 10^14 in magnitude: 90 000 parts before this could overflow,
  // far more than any request carries.
  std::int64_t hundredths_ = 0;
};

}  // namespace qadj
