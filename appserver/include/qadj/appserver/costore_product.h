// The application server object "KorvantaServer.CoStoreProduct": the record-set
// interface IAppServer with its provider "PUBLIC_DSP" (the window's statements only),
// the automation interface (the seven record-set operations by dispatch id, m_qadj by
// name), and one database session of its own, opened at the first request.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "qadj/appserver/database.h"
#include "qadj/appserver/provider.h"
#include "qadj/com/com.h"
#include "qadj/protocol/appserver.h"

namespace qadj::appserver {

// Dispatch id of m_qadj (the record-set operations use kDispIdBase + n).
inline constexpr std::int32_t kDispIdMQadj = 1;

class CoStoreProduct final : public IAppServer, public com::IDispatch {
 public:
  // Opens this object's database session; called at the first request and again
  // after the session was lost.
  using SessionOpener = std::function<std::unique_ptr<Database>()>;
  explicit CoStoreProduct(SessionOpener open);

  com::HRESULT QueryInterface(const com::Guid& iid, std::shared_ptr<com::IUnknown>& out) override;

  // IAppServer. Each returns S_OK, or E_FAIL with the description in the thread's
  // error information. Only FetchRecords and ExecuteCommand do work; the others
  // answer what a provider without updates, parameters or rows-on-demand answers.
  QADJ_APP_SERVER_OPERATIONS(, override);

  // IDispatch: names are matched without regard to letter case.
  com::HRESULT GetIDsOfNames(const std::u16string& name, std::int32_t& dispid) override;
  com::HRESULT Invoke(std::int32_t dispid, std::uint16_t flags, std::vector<com::Variant>& args,
                      com::Variant* result, com::ExcepInfo* excep) override;

  // m_qadj: fills this session's PGTQADJ0 for the salesperson (left unchanged in
  // code) and the date. Throws ServerError for a code longer than its column (in GBK
  // bytes) or not GBK, and for a date that is not finite or outside the years 1 to
  // 9999; DatabaseError.
  void m_qadj(std::u16string& code, double quotaDate);

 private:
  // Runs body with the session under the object's lock; turns every failure into
  // E_FAIL with its description.
  template <class F>
  com::HRESULT guarded(F&& body);
  Database& session();                                      // under the lock
  void fillQuotas(std::u16string& code, double quotaDate);  // under the lock

  SessionOpener open_;
  std::mutex mutex_;
  std::unique_ptr<Database> db_;
  // A session was lost and no new one is open yet.
  bool sessionLost_ = false;
  // m_qadj filled PGTQADJ0 in the current session.
  bool workingRowsFilled_ = false;
  // The session holding filled working rows was lost; reading PGTQADJ0 fails until
  // m_qadj fills it again, rather than answering silently with no rows.
  bool workingRowsLost_ = false;
};

// A new server object on its own session of the database at dbUrl. A query whose
// result passes maxResultBytes (bytes of values, see Database::setResultLimit) fails
// with "the result of the query exceeds N MiB; narrow the query"; 0 means no limit.
// A statement running longer than statementTimeoutMs (0: no limit), or one whose
// remote call is abandoned (com::CallAbandoned), is cancelled
// (Database::setStatementBounds).
std::shared_ptr<com::IUnknown> createCoStoreProduct(
    const std::string& dbUrl, std::size_t maxResultBytes = kDefaultMaxResultBytes,
    int statementTimeoutMs = kDefaultStatementTimeoutMs);

// Description text for an exception the server object caught (UTF-16, as it travels).
std::u16string describeException(const std::exception& e);

}  // namespace qadj::appserver
