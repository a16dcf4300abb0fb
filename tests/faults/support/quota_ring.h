// A quota document whose lines the fault tests move around: six salespersons of
// warehouse 01 with one line each for product P001 in document D1 of 2026-12-08.
// Transfer number i has amounts no other transfer has, so that a database holding
// part of a transfer never looks like any whole sequence of transfers.
#pragma once

#include <string>
#include <vector>

#include "qadj/appserver/database.h"

namespace qadj::testing::ring {

inline constexpr int kPersons = 6;
inline constexpr double kStartQuota = 100000;
inline constexpr const char* kDate = "2026-12-08";
extern const char* const kCodes[kPersons];

struct Transfer {
  int giver, first, second;
  double toFirst, toSecond;  // multiples of 0.25: exact in binary
};
Transfer transfer(int i);

// Creates the schema and the lines, every one at kStartQuota.
void seed(appserver::Database& db);
// The lines (ordered by salesperson) after the first n transfers.
std::vector<double> expectedAfter(int n);
// The save block of transfer i exactly as the window builds it (tbokClick): an
// increment per receiver, the giver's decrement by the total with two decimals.
std::string saveBlock(int i);
// XL0000 of D1's lines, ordered by salesperson.
std::vector<double> lines(appserver::Database& db);
std::string describe(const std::vector<double>& lines);

}  // namespace qadj::testing::ring
