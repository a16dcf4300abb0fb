#include "support/operators.h"

#include <stdexcept>

#include "qadj/platform/quantity.h"
#include "qadj/platform/text.h"
#include "qadj/protocol/appserver.h"
#include "qadj/testing/databases.h"
#include "qadj/testing/store_calls.h"
#include "qadj/testing/window_save.h"

namespace qadj::testing {

const std::vector<std::string> kSalespersons = {"0011", "0012", "0013", "0014", "0015", "0016"};
const std::vector<std::string> kProducts = {"P001", "P002"};

void seedQuotaLines(appserver::Database& db) {
  seedQuotaDocument(db, kSalespersons, kProducts, kFirstQuota);
}

std::map<LineKey, double> quotaLines(appserver::Database& db) {
  std::map<LineKey, double> out;
  const auto rs = db.query("SELECT FXRY00, SPDM00, XL0000 FROM XSTXLGL01 WHERE DHAO00 = $1",
                           {std::string(kDocument)});
  for (const auto& row : rs.rows)
    out[{std::get<std::string>(row[0]), std::get<std::string>(row[1])}] = std::get<double>(row[2]);
  return out;
}

double quotaSum(const std::map<LineKey, double>& lines) {
  double sum = 0;
  for (const auto& [key, value] : lines) sum += value;
  return sum;
}

std::map<LineKey, double> Transfer::deltas() const {
  std::map<LineKey, double> out;
  double total = 0;
  for (const auto& [receiver, amount] : receivers) {
    const double sent = Quantity::round(amount)->value();
    out[{receiver, product}] += sent;
    total += sent;
  }
  out[{giver, product}] -= total;
  return out;
}

std::string saveBlock(const Transfer& t) {
  return windowSave(kDocument, t.product, t.giver, t.receivers);
}

namespace {

std::string described(const std::string& description) {
  return description.empty() ? "<no description>" : description;
}

}  // namespace

ObjectServer::ObjectServer(appserver::CoStoreProduct::SessionOpener open)
    : ServerUnderTest(Transport::Grpc) {
  registerClass(CLSID_CoStoreProduct, kCoStoreProductProgId,
                [open = std::move(open)]() -> std::shared_ptr<com::IUnknown> {
                  return std::make_shared<appserver::CoStoreProduct>(open);
                });
  start();
}

Operator::Operator(const std::string& address) {
  com::HRESULT hr = com::S_OK;
  object_ = createServerOn(address, &hr);
  if (!object_)
    throw std::runtime_error("cannot create the server object at " + address + ": hr " +
                             std::to_string(hr));
}

Operator::Operator(std::shared_ptr<com::IDispatch> object) : object_(std::move(object)) {
  if (!object_) throw std::invalid_argument("Operator: no object");
}

Operator::~Operator() = default;

std::optional<std::string> Operator::execute(const std::string& gbkText) {
  const CallOutcome out = executeOn(*object_, text::gbkToUtf16(gbkText));
  if (com::succeeded(out.hr)) return std::nullopt;
  return described(out.description);
}

packet::Packet Operator::fetch(const std::string& gbkText) {
  CallOutcome out = fetchOn(*object_, text::gbkToUtf16(gbkText));
  if (com::failed(out.hr)) throw std::runtime_error(described(out.description));
  return std::move(out.packet);
}

std::optional<std::string> Operator::refill(const std::string& code, double day) {
  com::ExcepInfo excep;
  if (com::succeeded(refillOn(*object_, text::utf8ToUtf16(code), day, &excep))) return std::nullopt;
  return described(text::utf16ToUtf8(excep.description));
}

}  // namespace qadj::testing
