// The objects an object server holds for its clients, by client id and object id,
// with each client's lease and the caps on how many objects a client, a computer and
// the server may hold. Thread-safe.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "qadj/com/com.h"

namespace qadj::com::detail {

// An object held for a client. The objects are written for one caller at a time: a
// call that finds its object busy with another is refused at once (the window never
// sends two), rather than wait on a call thread that other clients need.
struct ServedObject {
  std::shared_ptr<IUnknown> object;
  std::mutex calls;
};

// How many objects may be held: by one client id, by the clients of one computer, in
// all.
struct ObjectCaps {
  std::size_t perClient;
  std::size_t perComputer;
  std::size_t total;
};

class ObjectTable {
 public:
  using Clock = std::chrono::steady_clock;
  enum class Added { Yes, Full, Closed };

  explicit ObjectTable(ObjectCaps caps) : caps_(caps) {}

  // True when one more object of client, made from computer, fits the caps.
  bool roomFor(const std::string& client, const std::string& computer) const;
  // Holds object for client under a new random id (written to id), renewing the
  // client's lease; the client counts for computer from now on. Full when the caps
  // are reached, Closed after close(): the object is then let go, without the table
  // locked (its release may take a while).
  Added add(const std::string& client, const std::string& computer,
            std::shared_ptr<ServedObject> object, std::uint64_t& id);
  // The object id of client (null when there is none), renewing the client's lease.
  std::shared_ptr<ServedObject> find(const std::string& client, std::uint64_t id);
  // Takes object id of client out of the table (null when there is none), renewing the
  // lease; a client left without objects is forgotten.
  std::shared_ptr<ServedObject> remove(const std::string& client, std::uint64_t id);
  // Renews the lease of client and returns how many objects it holds (0 for a client
  // the table does not know).
  std::size_t renew(const std::string& client);

  // The clients whose lease ran out, taken out of the table: their objects, to be
  // released by the caller, and per client that held some, its id and their number.
  struct Expired {
    std::vector<std::shared_ptr<ServedObject>> objects;
    std::vector<std::pair<std::string, std::size_t>> clients;
  };
  Expired expire(Clock::duration lease);

  // Refuses every add from now on.
  void close();
  // Takes every object out of the table, for the caller to release.
  std::vector<std::shared_ptr<ServedObject>> takeAll();
  // The objects held.
  std::size_t count() const;

 private:
  struct Client {
    Clock::time_point lastSeen;
    std::string computer;  // of the activation that made the entry
    std::map<std::uint64_t, std::shared_ptr<ServedObject>> objects;
  };
  bool roomForLocked(const std::string& client, const std::string& computer) const;

  const ObjectCaps caps_;
  mutable std::mutex mutex_;
  std::map<std::string, Client> clients_;
  bool closed_ = false;
};

}  // namespace qadj::com::detail
