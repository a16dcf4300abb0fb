// Fields of a data set: named, typed views of one column of the data set's rows.
// A field reads the current record (or any record by index) of the data set that
// owns it; writing goes into the record being edited.
//
// Texts are GBK byte strings throughout.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "qadj/protocol/packet.h"

namespace qadj {

class TDataSet;

// A cell value: null, GBK text or a number.
using TValue = packet::Value;

enum class TFieldType { ftString, ftFloat, ftDateTime };

// Persistent fields are declared with the data set and live as long as it does;
// default fields are created per open for a data set without persistent fields.
enum class TFieldKind { Persistent, Default };

// Base of every field. Owned by its data set; never delete one yourself.
class TField {
 public:
  virtual ~TField() = default;
  TField(const TField&) = delete;
  TField& operator=(const TField&) = delete;

  TDataSet* DataSet() const { return dataSet_; }
  const std::string& FieldName() const { return fieldName_; }
  // The name shown to the operator and used in conversion errors (= FieldName).
  const std::string& DisplayName() const { return fieldName_; }
  // Declared width in bytes for text fields; 0 for others.
  int Size() const { return size_; }
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool v) { readOnly_ = v; }
  TFieldKind Kind() const { return kind_; }
  // Position in the data set's field list.
  int Index() const { return index_; }

  virtual TFieldType DataType() const = 0;
  // The type's name as the binding error shows it: "String", "Float", "DateTime".
  virtual const char* TypeName() const = 0;
  // Column type names this field binds to (a string field: the packet's text types).
  virtual bool AcceptsColumnType(std::string_view columnTypeName) const = 0;

  // --- Reading the current record. A closed data set, a data set without rows and
  // a null value all read as null without error.
  // A copy of the value.
  TValue Value() const;
  bool IsNull() const;
  // Text of the value (TStringField: in full, trailing blanks kept; TFloatField:
  // general notation, 15 significant digits). Null gives "".
  virtual std::string AsString() const;
  // Number of the value; null gives 0. Throws EConvertError when a text is not a number.
  virtual double AsFloat() const;
  // Display and edit text (no display or edit formats exist): same as AsString.
  std::string Text() const { return AsString(); }
  std::string DisplayText() const { return AsString(); }

  // --- Reading any record by its 0-based index in the data set (0..RecordCount()-1),
  // without moving the cursor (a record being edited shows its pending values).
  // An index out of range or a closed data set reads as null.
  TValue ValueAt(int recIndex) const;
  std::string DisplayTextAt(int recIndex) const;

  // --- Writing into the record being edited. Each throws EDatabaseError
  // "<dataset>: Dataset not in edit or insert mode" outside editing, or
  // "Field '<name>' cannot be modified" for a ReadOnly field; on success the record
  // is marked modified and bound controls are told (field changed). On failure
  // nothing changes.
  void SetAsFloat(double v);
  void SetAsString(const std::string& v);  // text conversion of the field's type
  void Clear();                            // stores null
  // Text conversion: TFloatField stores null for "", else the number; text that is
  // not a number throws EConvertError "'<text>' is not a valid floating point value
  // for field '<name>'" and leaves the value unchanged.
  void SetText(const std::string& text) { SetAsString(text); }

  // True when ch may be typed into this field (TFloatField: digits + - E e and the
  // decimal separator '.'; text fields: any byte).
  virtual bool IsValidChar(char ch) const;
  // True when the field may be written: not ReadOnly and the data set can modify.
  bool CanModify() const;

 protected:
  TField(TDataSet* dataSet, std::string fieldName, int size, bool readOnly, TFieldKind kind);
  // Converts text into this field's value; throws EConvertError.
  virtual TValue ParseText(const std::string& text) const = 0;
  // Formats a non-null, non-text value as text.
  virtual std::string FormatValue(const TValue& v) const = 0;
  // The value as the field holds it, before it is stored (SetAsFloat, SetAsString):
  // by default the value itself. Throws EConvertError for a value the field cannot
  // hold; nothing is stored then.
  virtual TValue Held(TValue v) const { return v; }
  // Text of a value: text as it is, null as "", others through FormatValue.
  std::string TextOf(TValue v) const;

 private:
  friend class TDataSet;
  void StoreValue(TValue v);

  TDataSet* dataSet_;
  std::string fieldName_;
  int size_;
  bool readOnly_;
  TFieldKind kind_;
  int index_ = -1;
  int column_ = -1;  // bound column of the open record set; -1 while unbound
};

// Text field. Size is the declared width in bytes (informational: values are read
// in full whatever their width).
class TStringField : public TField {
 public:
  TFieldType DataType() const override { return TFieldType::ftString; }
  const char* TypeName() const override { return "String"; }
  bool AcceptsColumnType(std::string_view t) const override;

 protected:
  friend class TDataSet;
  using TField::TField;
  TValue ParseText(const std::string& text) const override;
  std::string FormatValue(const TValue& v) const override;
};

// 8-byte floating-point field; no range check, unless it holds quantities.
class TFloatField : public TField {
 public:
  TFieldType DataType() const override { return TFieldType::ftFloat; }
  const char* TypeName() const override { return "Float"; }
  bool AcceptsColumnType(std::string_view t) const override;
  bool IsValidChar(char ch) const override;

  // A field of quantities counted in hundredths: a number stored into it is rounded
  // to hundredths (Quantity::round: half away from zero, as the decimal the number
  // shows), so that what the field shows is what it holds; one no quantity can hold
  // (beyond Quantity::kMostHundredths) is refused with EConvertError. Values read from
  // a packet are held as they came. Off by default.
  void SetInHundredths(bool v) { inHundredths_ = v; }
  bool InHundredths() const { return inHundredths_; }

 protected:
  friend class TDataSet;
  using TField::TField;
  TValue ParseText(const std::string& text) const override;
  std::string FormatValue(const TValue& v) const override;
  TValue Held(TValue v) const override;

 private:
  bool inHundredths_ = false;
};

// Date/time field (a default field for Date, Time and DateTime columns only); the
// value is days since 1899-12-30, shown as "yyyy-mm-dd" or "yyyy-mm-dd hh:nn:ss".
class TDateTimeField : public TField {
 public:
  TFieldType DataType() const override { return TFieldType::ftDateTime; }
  const char* TypeName() const override { return "DateTime"; }
  bool AcceptsColumnType(std::string_view t) const override;

 protected:
  friend class TDataSet;
  using TField::TField;
  TValue ParseText(const std::string& text) const override;
  std::string FormatValue(const TValue& v) const override;
};

// Formatting helpers, usable without a data set.
// A date value (days since 1899-12-30) as the date/time field shows it:
// "yyyy-mm-dd", with " hh:nn:ss" when it has a time of day.
std::string FormatDateTime(double days);

}  // namespace qadj
