// m_qadj: the working table of adjustable quotas for one salesperson and one date, and
// the limit a save is checked against.
#pragma once

#include <string>

#include "qadj/appserver/database.h"
#include "qadj/appserver/transfer.h"

namespace qadj::appserver {

// Refills this session's PGTQADJ0 with one row per product of the salesperson's quota
// lines in the quota documents dated quotaDate (an automation date; its time of day
// is ignored):
//   XL0000 = sum of the salesperson's quota lines for the product on that date,
//   YFXSL0 = sum of the salesperson's visit-sales order quantities of the product
//            sold on that date,
//   KTZXL0 = XL0000 - YFXSL0, never below 0,
// each in hundredths (inHundredths), as the window shows and checks them.
// salespersonCode is UTF-8. Runs in one transaction; the rows go in with one INSERT per
// kWorkingRowsPerInsert products. Returns the number of rows written. Throws
// DatabaseError.
std::size_t fillAdjustableQuotas(Database& db, const std::string& salespersonCode,
                                 double quotaDate);
// Rows of PGTQADJ0 one INSERT of fillAdjustableQuotas writes at most (4 parameters each,
// well inside SQLite's and PostgreSQL's parameter limits).
inline constexpr std::size_t kWorkingRowsPerInsert = 250;
// The INSERT of `rows` rows into PGTQADJ0 (1 to kWorkingRowsPerInsert): its parameters
// are each row's SPDM00, XL0000, YFXSL0 and KTZXL0 in turn.
std::string workingRowsInsert(std::size_t rows);

// Locks, until the transaction ends, every quota line that a save of lines will change
// or that refuseOverGiving will read: for each salesperson and product of the lines,
// their lines on every quota document of the days of the lines' documents. One
// statement takes them all, in the order of document, salesperson and product, so that
// saves sharing lines wait for each other and never deadlock, and saves of other lines
// run side by side. PostgreSQL only: on SQLite BEGIN IMMEDIATE already holds the whole
// database. Call inside the save's write transaction, before its first UPDATE. Throws
// DatabaseError (the busy text when another session holds a line past the lock bound).
void lockQuotaLines(Database& db, const std::vector<QuotaLineChange>& lines);
// The statement of lockQuotaLines (PostgreSQL), for `people` (salesperson, product)
// pairs and `documents` documents: its parameters are the pairs' codes in turn, then
// the documents. Both counts must be positive.
std::string quotaLineLockQuery(std::size_t people, std::size_t documents);

// What a salesperson may still give of a product: quota minus quantity sold, never
// below 0, in hundredths (inHundredths).
double adjustableQuantity(double quota, double sold);
// A quantity as the server keeps it: rounded to hundredths (Quantity::round); a value
// beyond a quantity's range as it is.
double inHundredths(double value);

// The limit of a save, checked where no window can be bypassed: for every salesperson
// whose quota line the transfer's lines (of a save about to run in this transaction)
// lower in sum, the decrease must not exceed the adjustable quantity as m_qadj
// computes it (lines of every document of the document's day, sales of that day),
// both in hundredths; one statement reads each such salesperson's quota and sales.
// Raising a line is never refused; lines of no document are not counted. Every line
// must be of transfer.document and transfer.product (as transferOf makes them;
// asserted). Must run inside the transaction that applies the save, after it holds
// the locks that keep other saves of these lines out. Throws OverLimit: for the giver
// "超过访销员的限量", the window's own text; for a receiver taken below what they
// sold, a text naming them and what can still be taken back from them. Throws
// DatabaseError.
void refuseOverGiving(Database& db, const Transfer& transfer);

}  // namespace qadj::appserver
