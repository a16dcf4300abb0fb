// Date values as the server handles them: automation dates (days since 1899-12-30,
// fraction = time of day) and the texts the databases and Oracle's TO_DATE use.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace qadj::appserver::dates {

// Days since 1899-12-30 of a calendar day; month 1..12, day 1..31 (not checked).
double fromCivil(int year, int month, int day);

// Reads "YYYY-MM-DD", "YYYY-MM-DD HH:MM[:SS[.fff]]" (also with 'T'); returns nullopt for
// anything else, including impossible dates such as 2026-02-30.
std::optional<double> parseTimestamp(std::string_view text);

// "YYYY-MM-DD" and "YYYY-MM-DD HH:MM:SS" of an automation date (seconds rounded).
std::string formatDate(double days);
std::string formatTimestamp(double days);

// Oracle's TO_DATE for the masks this system meets: the elements YYYY, MM, DD, HH24,
// HH, MI and SS in any letter case, other characters matching themselves. Returns the
// automation date. Throws std::invalid_argument naming the text and mask when the
// text does not match the mask or is no valid date.
double toDate(std::string_view text, std::string_view mask);

// The local calendar day of now, as an automation date (time 00:00).
double today();

// A moment in UTC as "YYYY-MM-DD HH:MM:SS", the form the server's own records keep
// (texts of this form sort as the times they name).
std::string utcText(std::time_t moment);

// utcText of now.
std::string utcNow();

}  // namespace qadj::appserver::dates
