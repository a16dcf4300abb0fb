// m_qadj: the working table of adjustable quotas for one salesperson and one date.
#pragma once

#include <string>

#include "qadj/appserver/database.h"

namespace qadj::appserver {

// Refills this session's PGTQADJ0 with one row per product of the salesperson's quota
// lines in the quota documents dated quotaDate (an automation date; its time of day
// is ignored):
//   XL0000 = sum of the salesperson's quota lines for the product on that date,
//   YFXSL0 = sum of the salesperson's visit-sales order quantities of the product
//            sold on that date,
//   KTZXL0 = XL0000 - YFXSL0, never below 0.
// salespersonCode is UTF-8. Runs in one transaction. Returns the number of rows written.
// Throws DatabaseError.
std::size_t fillAdjustableQuotas(Database& db, const std::string& salespersonCode,
                                 double quotaDate);

}  // namespace qadj::appserver
