// Comparison of decoded packets for the fuzz targets: numbers compare by their bits,
// so that NaN cells (which the format carries unchanged) compare equal to themselves.
#pragma once

#include <cstring>
#include <variant>

#include "qadj/protocol/packet.h"

namespace qadj::fuzz {

inline bool sameValue(const packet::Value& a, const packet::Value& b) {
  if (a.index() != b.index()) return false;
  if (const auto* d = std::get_if<double>(&a))
    return std::memcmp(d, &std::get<double>(b), sizeof(double)) == 0;
  return a == b;
}

inline bool sameColumn(const packet::Column& a, const packet::Column& b) {
  return a.name == b.name && a.typeName == b.typeName && a.width == b.width && a.hidden == b.hidden;
}

inline bool samePacket(const packet::Packet& a, const packet::Packet& b) {
  if (a.readOnly != b.readOnly || a.disableEdits != b.disableEdits ||
      a.disableInserts != b.disableInserts || a.disableDeletes != b.disableDeletes ||
      a.noResetCall != b.noResetCall || a.columns.size() != b.columns.size() ||
      a.rows.size() != b.rows.size())
    return false;
  for (std::size_t c = 0; c < a.columns.size(); ++c)
    if (!sameColumn(a.columns[c], b.columns[c])) return false;
  for (std::size_t r = 0; r < a.rows.size(); ++r) {
    if (a.rows[r].size() != b.rows[r].size()) return false;
    for (std::size_t c = 0; c < a.rows[r].size(); ++c)
      if (!sameValue(a.rows[r][c], b.rows[r][c])) return false;
  }
  return true;
}

}  // namespace qadj::fuzz
