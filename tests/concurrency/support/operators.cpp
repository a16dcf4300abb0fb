#include "support/operators.h"

#include <algorithm>
#include <stdexcept>

#include "qadj/appserver/schema.h"
#include "qadj/grid/number_format.h"
#include "qadj/platform/text.h"
#include "qadj/protocol/appserver.h"
#include "qadj/window/numbers.h"
#include "qadj/window/sql.h"

namespace qadj::testing {

const std::vector<std::string> kSalespersons = {"0011", "0012", "0013", "0014", "0015", "0016"};
const std::vector<std::string> kProducts = {"P001", "P002"};

void seedQuotaLines(appserver::Database& db) {
  appserver::createSchema(db);
  std::string script =
      "INSERT INTO GSTRYGL0 VALUES ('0001','OPERATOR','01','N');"
      "INSERT INTO GSTJYGL1 VALUES ('P001','WATER');"
      "INSERT INTO GSTJYGL1 VALUES ('P002','BREAD');"
      "INSERT INTO XSTXLGL1 VALUES ('D1','2026-12-08 09:30:00','0001');";
  for (const auto& person : kSalespersons) {
    script += "INSERT INTO GSTRYGL0 VALUES ('" + person + "','S" + person + "','01','Y');";
    for (const auto& product : kProducts)
      script += "INSERT INTO XSTXLGL01 VALUES ('D1','" + person + "','" + product + "'," +
                std::to_string(static_cast<int>(kFirstQuota)) + ");";
  }
  db.executeScript(script);
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
    out[{receiver, product}] += window::roundToCents(amount);
    total += window::roundToCents(amount);
  }
  out[{giver, product}] -= total;
  return out;
}

std::string saveBlock(const Transfer& t) {
  std::vector<std::string> statements;
  double sent = 0;
  for (const auto& [receiver, amount] : t.receivers) {
    statements.push_back(
        window::sql::increment(window::adjustmentText(amount), kDocument, receiver, t.product));
    sent += window::roundToCents(amount);
  }
  statements.push_back(
      window::sql::decrement(grid::formatFloat("0.00;-0.00", sent), kDocument, t.giver, t.product));
  return window::sql::block(statements);
}

namespace {

// Calls through IDispatch as a late-bound client does: arguments in order here,
// reversed on the way in (and back).
com::HRESULT call(com::IDispatch& d, std::int32_t dispid, std::vector<com::Variant>& args,
                  com::Variant* result, com::ExcepInfo* excep) {
  std::reverse(args.begin(), args.end());
  const auto hr = d.Invoke(dispid, com::DISPATCH_METHOD, args, result, excep);
  std::reverse(args.begin(), args.end());
  return hr;
}

std::string described(const com::ExcepInfo& excep) {
  return excep.description.empty() ? "<no description>" : text::utf16ToUtf8(excep.description);
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
  std::shared_ptr<com::IUnknown> unknown;
  const auto hr = com::CoCreateInstanceEx(CLSID_CoStoreProduct, com::CLSCTX_REMOTE_SERVER, address,
                                          com::IID_IDispatch, unknown);
  if (com::failed(hr))
    throw std::runtime_error("cannot create the server object at " + address + ": hr " +
                             std::to_string(hr));
  object_ = com::interface_cast<com::IDispatch>(unknown);
  if (!object_) throw std::runtime_error("the server object has no IDispatch");
}

Operator::Operator(std::shared_ptr<com::IDispatch> object) : object_(std::move(object)) {
  if (!object_) throw std::invalid_argument("Operator: no object");
}

Operator::~Operator() = default;

std::optional<std::string> Operator::execute(const std::string& sql) {
  std::vector<com::Variant> args = {com::Variant::bstr(u"PUBLIC_DSP"),
                                    com::Variant::bstr(text::utf8ToUtf16(sql)),
                                    com::Variant::null().setByRef(), com::Variant().setByRef()};
  com::ExcepInfo excep;
  const auto hr = call(*object_, DISPID_ExecuteCommand, args, nullptr, &excep);
  if (com::succeeded(hr)) return std::nullopt;
  return described(excep);
}

packet::Packet Operator::fetch(const std::string& sql) {
  std::vector<com::Variant> args = {com::Variant::bstr(u"PUBLIC_DSP"),
                                    com::Variant::i4(-1),
                                    com::Variant::i4(0).setByRef(),
                                    com::Variant::i4(kFetchMetaData),
                                    com::Variant::bstr(text::utf8ToUtf16(sql)),
                                    com::Variant::null().setByRef(),
                                    com::Variant().setByRef()};
  com::Variant result;
  com::ExcepInfo excep;
  const auto hr = call(*object_, DISPID_FetchRecords, args, &result, &excep);
  if (com::failed(hr)) throw std::runtime_error(described(excep));
  return packet::decode(result.asBytes());
}

std::optional<std::string> Operator::refill(const std::string& code, double day) {
  std::int32_t id = 0;
  if (com::failed(object_->GetIDsOfNames(u"m_qadj", id))) return "m_qadj is not known";
  std::vector<com::Variant> args = {com::Variant::bstr(text::utf8ToUtf16(code)).setByRef(),
                                    com::Variant::date(day)};
  com::ExcepInfo excep;
  if (com::succeeded(call(*object_, id, args, nullptr, &excep))) return std::nullopt;
  return described(excep);
}

}  // namespace qadj::testing
