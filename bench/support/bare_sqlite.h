// The bare SQLite side of the comparisons: a connection through the C API with the two
// Oracle-dialect functions the window's statements call, written as plainly as a
// program without our server would write them.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qadj::bench {

class BareSqlite {
 public:
  // Opens the file read-write. Throws std::runtime_error with SQLite's message.
  explicit BareSqlite(const std::string& path);
  ~BareSqlite();
  BareSqlite(const BareSqlite&) = delete;
  BareSqlite& operator=(const BareSqlite&) = delete;

  sqlite3* handle() const { return db_; }

  struct Totals {
    std::int64_t rows = 0;
    std::int64_t textBytes = 0;
    double numbers = 0;
  };
  // Prepares sql, steps through every row reading every column with sqlite3_column_*
  // (text columns as text, numbers as double), finalizes. Throws std::runtime_error.
  Totals readAll(const std::string& sql);

  // Runs the statements in one transaction (BEGIN IMMEDIATE … COMMIT), each prepared,
  // stepped and finalized. Throws std::runtime_error (after a rollback).
  void runInTransaction(const std::vector<std::string>& statements);

 private:
  void exec(const char* sql);
  sqlite3* db_ = nullptr;
};

}  // namespace qadj::bench
