#include "qadj/server/fields.h"

#include <cmath>
#include <cstdio>

#include "qadj/platform/calendar.h"
#include "qadj/platform/error.h"
#include "qadj/platform/number_text.h"
#include "qadj/platform/quantity.h"
#include "qadj/platform/text.h"
#include "qadj/protocol/packet.h"
#include "qadj/server/dataset.h"

namespace qadj {

namespace {

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

[[noreturn]] void invalidFloat(const std::string& text, const std::string& fieldName) {
  throw EConvertError("'" + text + "' is not a valid floating point value for field '" + fieldName +
                      "'");
}

// Day number (from 1970-01-01) of 1899-12-30, the origin of date values.
const long kEpochShift = calendar::daysFromCivil(1899, 12, 30);

}  // namespace

// --- Formatting helpers -----------------------------------------------------------

// --- TField -----------------------------------------------------------------------

TField::TField(TDataSet* dataSet, std::string fieldName, int size, bool readOnly, TFieldKind kind)
    : dataSet_(dataSet),
      fieldName_(std::move(fieldName)),
      size_(size),
      readOnly_(readOnly),
      kind_(kind) {}

TValue TField::Value() const {
  return dataSet_ ? dataSet_->FieldValue(*this, dataSet_->CurrentIndex()) : TValue{};
}

bool TField::IsNull() const {
  return std::holds_alternative<std::monostate>(Value());
}

std::string TField::TextOf(TValue v) const {
  if (std::string* s = std::get_if<std::string>(&v)) return std::move(*s);
  return std::holds_alternative<std::monostate>(v) ? std::string() : FormatValue(v);
}

std::string TField::AsString() const {
  return TextOf(Value());
}

double TField::AsFloat() const {
  const TValue v = Value();
  if (const double* d = std::get_if<double>(&v)) return *d;
  if (const std::string* s = std::get_if<std::string>(&v)) {
    const auto out = numbers::parseDecimal(*s);
    if (!out) invalidFloat(*s, DisplayName());
    return *out;
  }
  return 0;
}

TValue TField::ValueAt(int recIndex) const {
  return dataSet_ ? dataSet_->FieldValue(*this, recIndex) : TValue{};
}

std::string TField::DisplayTextAt(int recIndex) const {
  return TextOf(ValueAt(recIndex));
}

void TField::SetAsFloat(double v) {
  dataSet_->CheckFieldWritable(*this);
  if (DataType() == TFieldType::ftString)
    StoreValue(numbers::formatGeneral(v));
  else
    StoreValue(v);
}

void TField::SetAsString(const std::string& v) {
  dataSet_->CheckFieldWritable(*this);
  StoreValue(ParseText(v));
}

void TField::Clear() {
  dataSet_->CheckFieldWritable(*this);
  StoreValue(TValue{});
}

bool TField::IsValidChar(char) const {
  return true;
}

bool TField::CanModify() const {
  return !readOnly_ && dataSet_ && dataSet_->CanModify();
}

void TField::StoreValue(TValue v) {
  dataSet_->WriteField(*this, Held(std::move(v)));
}

// --- TStringField -------------------------------------------------------------------

bool TStringField::AcceptsColumnType(std::string_view t) const {
  return packet::isTextType(t);
}

TValue TStringField::ParseText(const std::string& text) const {
  return text;
}

std::string TStringField::FormatValue(const TValue& v) const {
  if (const std::string* s = std::get_if<std::string>(&v)) return *s;
  if (const double* d = std::get_if<double>(&v)) return numbers::formatGeneral(*d);
  return {};
}

// --- TFloatField --------------------------------------------------------------------

bool TFloatField::AcceptsColumnType(std::string_view t) const {
  return t == "Float" || t == "Currency";
}

bool TFloatField::IsValidChar(char ch) const {
  return isDigit(ch) || ch == '+' || ch == '-' || ch == 'E' || ch == 'e' || ch == '.';
}

TValue TFloatField::ParseText(const std::string& text) const {
  if (text.empty()) return TValue{};
  const auto v = numbers::parseDecimal(text);
  if (!v) invalidFloat(text, DisplayName());
  return *v;
}

std::string TFloatField::FormatValue(const TValue& v) const {
  if (const double* d = std::get_if<double>(&v)) return numbers::formatGeneral(*d);
  if (const std::string* s = std::get_if<std::string>(&v)) return *s;
  return {};
}

TValue TFloatField::Held(TValue v) const {
  const double* d = std::get_if<double>(&v);
  if (!inHundredths_ || !d) return v;
  if (const auto q = Quantity::round(*d)) return q->value();
  throw EConvertError(text::utf8ToGbk("字段 '" + DisplayName() + "' 的值 " +
                                      numbers::formatGeneral(*d) +
                                      " 超出了可以保存的范围（最大 999999999999.99）"));
}

// --- TDateTimeField -----------------------------------------------------------------

bool TDateTimeField::AcceptsColumnType(std::string_view t) const {
  return packet::isDateType(t);
}

TValue TDateTimeField::ParseText(const std::string& text) const {
  if (text.empty()) return TValue{};
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0;
  char tail = 0;
  const int n =
      std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &sec, &tail);
  if ((n != 3 && n != 6) || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || sec > 59 ||
      h < 0 || mi < 0 || sec < 0)
    throw EConvertError("'" + text + "' is not a valid date and time");
  const long days = calendar::daysFromCivil(y, mo, d) - kEpochShift;
  return static_cast<double>(days) + (h * 3600 + mi * 60 + sec) / 86400.0;
}

std::string TDateTimeField::FormatValue(const TValue& v) const {
  if (const double* dv = std::get_if<double>(&v)) return FormatDateTime(*dv);
  const std::string* s = std::get_if<std::string>(&v);
  return s ? *s : std::string();
}

std::string FormatDateTime(double days) {
  if (!std::isfinite(days) || std::fabs(days) > 3.0e6) return numbers::formatGeneral(days);
  const double whole = std::floor(days);
  long y = 0;
  int m = 0, d = 0;
  calendar::civilFromDays(static_cast<long>(whole) + kEpochShift, y, m, d);
  long secs = std::lround((days - whole) * 86400.0);
  if (secs >= 86400) secs = 86399;
  char buf[96];
  if (secs == 0)
    std::snprintf(buf, sizeof buf, "%04ld-%02d-%02d", y, m, d);
  else
    std::snprintf(buf, sizeof buf, "%04ld-%02d-%02d %02ld:%02ld:%02ld", y, m, d, secs / 3600,
                  secs / 60 % 60, secs % 60);
  return buf;
}

}  // namespace qadj
