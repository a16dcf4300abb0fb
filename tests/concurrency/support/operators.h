// Operators of the quota window for concurrency tests: a quota data set, the save
// block of a transfer built by the window's own statement functions, a remote object
// server serving the application server object, and one operator's connection to it.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "qadj/appserver/costore_product.h"
#include "qadj/com/com.h"
#include "qadj/protocol/packet.h"
#include "qadj/testing/server_under_test.h"

namespace qadj::testing {

// The quota document every transfer goes to, and its date.
inline constexpr const char* kDocument = "D1";
inline constexpr const char* kQuotaDay = "2026-12-08";
// The first value of every quota line.
inline constexpr double kFirstQuota = 1000;
// Visit-salespersons of warehouse 01 and the products they hold quota of.
extern const std::vector<std::string> kSalespersons;
extern const std::vector<std::string> kProducts;

// Creates the schema and the data set: the salespersons and products above, the
// document D1 on kQuotaDay and one quota line of kFirstQuota for every salesperson and
// product.
void seedQuotaLines(appserver::Database& db);

using LineKey = std::pair<std::string, std::string>;  // salesperson, product
// Every quota line of D1: (salesperson, product) → XL0000.
std::map<LineKey, double> quotaLines(appserver::Database& db);
// The sum of XL0000 over every quota line.
double quotaSum(const std::map<LineKey, double>& lines);

// One save of the window: the giver's quota of a product goes to receivers, each
// with its amount, in the order the operator's grid lists them.
struct Transfer {
  std::string product;
  std::string giver;
  std::vector<std::pair<std::string, double>> receivers;
  // What the transfer does to every line it touches.
  std::map<LineKey, double> deltas() const;
};

// The statement block the window sends for a transfer: the receivers' increments in
// their order, then the giver's decrement by their total.
std::string saveBlock(const Transfer& t);

// An object server over gRPC on a free loopback port serving CoStoreProduct objects,
// each on a session that open makes. Started by the constructor (throws qadj::Exception
// when it cannot listen); shut down by the destructor.
class ObjectServer : public ServerUnderTest {
 public:
  explicit ObjectServer(appserver::CoStoreProduct::SessionOpener open);
  // "127.0.0.1:PORT"
  std::string address() const { return host(); }
};

// One operator's connection: its own server object, reached over gRPC. Used on the
// thread that made it, which must have called com::CoInitialize.
class Operator {
 public:
  // Throws std::runtime_error when the object cannot be created.
  explicit Operator(const std::string& address);
  // An operator calling an object of this process (not null).
  explicit Operator(std::shared_ptr<com::IDispatch> object);
  ~Operator();
  Operator(const Operator&) = delete;
  Operator& operator=(const Operator&) = delete;

  // ExecuteCommand of PUBLIC_DSP with a statement of the window (GBK). Returns nothing
  // when the server reported success, else its description (UTF-8; "<no description>"
  // when it sent none).
  std::optional<std::string> execute(const std::string& gbkText);
  // FetchRecords of PUBLIC_DSP (a query of the window, GBK), every row. Throws
  // std::runtime_error with the server's description when it fails.
  packet::Packet fetch(const std::string& gbkText);
  // m_qadj(code, day). Returns nothing on success, else the description.
  std::optional<std::string> refill(const std::string& code, double day);

 private:
  std::shared_ptr<com::IDispatch> object_;
};

}  // namespace qadj::testing
