#include "object_table.h"

#include <random>

namespace qadj::com::detail {
namespace {

// A new object id: 64 random bits from the system's source of randomness, so that an
// id can neither be guessed nor reached by a proxy left over from before a restart.
std::uint64_t randomObjectId() {
  std::random_device rd;
  std::uint64_t id = 0;
  while (id == 0) id = (static_cast<std::uint64_t>(rd()) << 32) | rd();
  return id;
}

}  // namespace

bool ObjectTable::roomForLocked(const std::string& clientId, const std::string& computer) const {
  std::size_t total = 0, ofComputer = 0, ofClient = 0;
  for (const auto& [id, client] : clients_) {
    total += client.objects.size();
    if (client.computer == computer) ofComputer += client.objects.size();
    if (id == clientId) ofClient = client.objects.size();
  }
  return ofClient < caps_.perClient && ofComputer < caps_.perComputer && total < caps_.total;
}

bool ObjectTable::roomFor(const std::string& client, const std::string& computer) const {
  std::lock_guard lock(mutex_);
  return roomForLocked(client, computer);
}

ObjectTable::Added ObjectTable::add(const std::string& clientId, const std::string& computer,
                                    std::shared_ptr<ServedObject> object, std::uint64_t& id) {
  std::lock_guard lock(mutex_);
  if (closed_) return Added::Closed;
  if (!roomForLocked(clientId, computer)) return Added::Full;
  auto& client = clients_[clientId];
  client.lastSeen = Clock::now();
  client.computer = computer;
  do id = randomObjectId();
  while (client.objects.count(id));
  client.objects[id] = std::move(object);
  return Added::Yes;
}  // an object not added is released here, after the lock

std::shared_ptr<ServedObject> ObjectTable::find(const std::string& clientId, std::uint64_t id) {
  std::lock_guard lock(mutex_);
  auto c = clients_.find(clientId);
  if (c == clients_.end()) return nullptr;
  c->second.lastSeen = Clock::now();
  auto o = c->second.objects.find(id);
  return o == c->second.objects.end() ? nullptr : o->second;
}

std::shared_ptr<ServedObject> ObjectTable::remove(const std::string& clientId, std::uint64_t id) {
  std::lock_guard lock(mutex_);
  auto c = clients_.find(clientId);
  if (c == clients_.end()) return nullptr;
  c->second.lastSeen = Clock::now();
  std::shared_ptr<ServedObject> removed;
  if (auto o = c->second.objects.find(id); o != c->second.objects.end()) {
    removed = std::move(o->second);
    c->second.objects.erase(o);
  }
  if (c->second.objects.empty()) clients_.erase(c);
  return removed;
}

std::size_t ObjectTable::renew(const std::string& clientId) {
  std::lock_guard lock(mutex_);
  auto c = clients_.find(clientId);
  if (c == clients_.end()) return 0;
  c->second.lastSeen = Clock::now();
  return c->second.objects.size();
}

ObjectTable::Expired ObjectTable::expire(Clock::duration lease) {
  Expired expired;
  const auto now = Clock::now();
  std::lock_guard lock(mutex_);
  for (auto it = clients_.begin(); it != clients_.end();) {
    if (now - it->second.lastSeen <= lease) {
      ++it;
      continue;
    }
    if (!it->second.objects.empty())
      expired.clients.emplace_back(it->first, it->second.objects.size());
    for (auto& [id, object] : it->second.objects) expired.objects.push_back(std::move(object));
    it = clients_.erase(it);
  }
  return expired;
}

void ObjectTable::close() {
  std::lock_guard lock(mutex_);
  closed_ = true;
}

std::vector<std::shared_ptr<ServedObject>> ObjectTable::takeAll() {
  std::map<std::string, Client> taken;
  {
    std::lock_guard lock(mutex_);
    taken.swap(clients_);
  }
  std::vector<std::shared_ptr<ServedObject>> objects;
  for (auto& [id, client] : taken)
    for (auto& [objectId, object] : client.objects) objects.push_back(std::move(object));
  return objects;
}

std::size_t ObjectTable::count() const {
  std::lock_guard lock(mutex_);
  std::size_t n = 0;
  for (const auto& [id, client] : clients_) n += client.objects.size();
  return n;
}

}  // namespace qadj::com::detail
