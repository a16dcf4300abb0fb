// What a driver that sends its statements one at a time does with a batch.
#include "qadj/appserver/database.h"

namespace qadj::appserver {

void Database::executeBatch(std::span<const Command> commands, std::vector<std::int64_t>& changed) {
  for (const Command& c : commands) {
    const ClientWork guard(*this, c.asClient);
    if (c.rows) {
      queryInto(c.sql, c.params, *c.rows);
      changed.push_back(0);
    } else {
      changed.push_back(execute(c.sql, c.params));
    }
  }
}

}  // namespace qadj::appserver
