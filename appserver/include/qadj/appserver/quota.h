// m_qadj: the working table of adjustable quotas for one salesperson and one date, and
// the limit a save is checked against.
#pragma once

#include <memory>
#include <string>
#include <vector>

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

// The statement that locks a save's lines (SaveChecks, PostgreSQL): the lines of one
// product on every quota document of one document's day, of `salespersons` salespersons
// (at least one). Its parameters are the product, the document, then the salespersons'
// codes. The codes form a flat list, so that a block of thousands of lines is planned
// like one of three.
std::string quotaLineLockQuery(std::size_t salespersons);

// What a salesperson may still give of a product: quota minus quantity sold, never
// below 0, in hundredths (inHundredths).
double adjustableQuantity(double quota, double sold);
// A quantity as the server keeps it: rounded to hundredths (Quantity::round); a value
// beyond a quantity's range as it is.
double inHundredths(double value);

// The checks of a save, read where no window can be bypassed, as statements of a batch
// that runs inside the transaction applying the save, before its updates.
//
// The lock (PostgreSQL only: on SQLite BEGIN IMMEDIATE already holds the whole
// database): every quota line that the save will change or that the limit reads, for
// each salesperson and product of the lines, on every quota document of the days of the
// lines' documents, until the transaction ends. One statement takes them all, in the
// order of document, salesperson and product, so that saves sharing lines wait for each
// other and never deadlock, and saves of other lines run side by side. The batch fails
// with DatabaseError (the busy text) when another session holds a line past the lock
// bound.
//
// The limit: for every salesperson whose quota line the transfer's lines lower in sum,
// the decrease must not exceed the adjustable quantity as m_qadj computes it (lines of
// every document of the document's day, sales of that day), both in hundredths; one
// statement reads each such salesperson's quota and sales. Raising a line is never
// refused; lines of no document are not counted. Every line must be of
// transfer.document and transfer.product (as transferOf makes them; asserted).
class SaveChecks {
 public:
  // Appends the checks' statements to batch; they read into this object, which must
  // outlive the batch's run. transfer must outlive the object.
  SaveChecks(const Database& db, const Transfer& transfer, std::vector<Database::Command>& batch);
  SaveChecks(const SaveChecks&) = delete;
  SaveChecks& operator=(const SaveChecks&) = delete;
  ~SaveChecks();

  // After the batch ran whole: throws OverLimit when the transfer goes past a limit: for
  // the giver "超过访销员的限量", the window's own text; for a receiver taken below what
  // they sold, a text naming them (read now, in the same transaction) and what can
  // still be taken back from them. Throws DatabaseError.
  void refuseOverGiving(Database& db) const;

 private:
  struct Read;
  const Transfer& transfer_;
  std::string lockSql_;
  std::vector<std::unique_ptr<Read>> reads_;  // one per salesperson lowered
};

}  // namespace qadj::appserver
