#include "qadj/appserver/costore_product.h"

#include <optional>

#include "qadj/appserver/dates.h"
#include "qadj/appserver/provider.h"
#include "qadj/appserver/quota.h"
#include "qadj/appserver/schema.h"
#include "qadj/platform/error.h"
#include "qadj/platform/text.h"
#include "qadj/protocol/save_request.h"
#include "qadj/protocol/statements.h"

namespace qadj::appserver {
namespace {

using com::HRESULT;
using com::Variant;
using com::VarType;

constexpr const char16_t* kSource = u"KorvantaServer.CoStoreProduct";

// The quota date argument of m_qadj: an automation date, a number of days, or a text
// "YYYY-MM-DD[ HH:MM[:SS]]"; nullopt for anything else.
std::optional<double> argDate(const Variant& v) {
  switch (v.type()) {
    case VarType::Date:
    case VarType::R8:
      return v.asR8();
    case VarType::I4:
      return v.asI4();
    case VarType::BStr:
      try {
        return dates::parseTimestamp(text::utf16ToUtf8(v.asBStr()));
      } catch (const qadj::Exception&) {
        return std::nullopt;  // broken UTF-16
      }
    default:
      return std::nullopt;
  }
}

// Replaces an in/out argument's value, keeping its by-reference mark.
void setOut(Variant& arg, Variant value) {
  const bool byRef = arg.byRef();
  arg = std::move(value);
  arg.setByRef(byRef);
}

std::string utf8Of(const std::u16string& s, const char* what) {
  try {
    return text::utf16ToUtf8(s);
  } catch (const qadj::Exception&) {
    throw ServerError(std::string(what) + " is not valid text (broken UTF-16)");
  }
}

std::u16string utf16OfUtf8(const std::string& s) {
  try {
    return text::utf8ToUtf16(s);
  } catch (const qadj::Exception&) {
    return text::utf8ToUtf16(text::gbkToUtf8Lossy(text::utf8ToGbkLossy(s)));
  }
}

// Tells the request log, when there is one, the member this call runs and the provider
// it names.
void noteCall(const char* method, const std::u16string& provider = {}) {
  com::RequestFacts* facts = com::CurrentRequestFacts();
  if (!facts) return;
  facts->method = method;
  try {
    facts->provider = text::utf16ToUtf8(provider);  // the log makes it printable
  } catch (const qadj::Exception&) {
    facts->provider = "(broken UTF-16)";
  }
}

// Tells the request log how many rows the call returned or changed.
void noteRows(std::int64_t rows) {
  if (com::RequestFacts* facts = com::CurrentRequestFacts()) facts->rows = rows;
}

struct Member {
  const char16_t* name;
  std::int32_t dispid;
};

constexpr Member kMembers[] = {
    {u"ApplyUpdates", DISPID_ApplyUpdates},     {u"FetchRecords", DISPID_FetchRecords},
    {u"DataRequest", DISPID_DataRequest},       {u"GetProviderNames", DISPID_GetProviderNames},
    {u"GetParams", DISPID_GetParams},           {u"RowRequest", DISPID_RowRequest},
    {u"ExecuteCommand", DISPID_ExecuteCommand}, {u"m_qadj", kDispIdMQadj},
};

// A request's statement in the window's GBK: text that GBK cannot hold (or broken
// UTF-16) is none of the window's statements.
std::string statementText(const std::u16string& commandText) {
  try {
    return text::utf16ToGbk(commandText);
  } catch (const qadj::Exception&) {
    throw ServerError(
        "The statement is refused: it holds characters the window never sends (text that is "
        "not GBK, or broken UTF-16)");
  }
}

// The quota date of m_qadj, refused unless it is a day of the years 1 to 9999.
void checkQuotaDate(double quotaDate) {
  if (!(quotaDate >= dates::fromCivil(1, 1, 1) && quotaDate < dates::fromCivil(10000, 1, 1)))
    throw ServerError("the quota date of m_qadj is not a day of the years 1 to 9999");
}

// The salesperson code of m_qadj in the database's UTF-8, refused unless it is GBK text
// that fits its column.
std::string salespersonOf(const std::u16string& code) {
  std::string gbk;
  try {
    gbk = text::utf16ToGbk(code);
  } catch (const qadj::Exception&) {
    throw ServerError("the salesperson code of m_qadj is not GBK text");
  }
  if (gbk.size() > static_cast<std::size_t>(statements::kPersonCodeWidth))
    throw ServerError("the salesperson code of m_qadj is longer than its column (" +
                      std::to_string(statements::kPersonCodeWidth) + " bytes)");
  return text::gbkToUtf8(gbk);
}

bool sameName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char16_t c) {
      return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
    };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace

std::u16string describeException(const std::exception& e) {
  if (dynamic_cast<const qadj::Exception*>(&e))
    return text::utf8ToUtf16(text::gbkToUtf8Lossy(e.what()));
  return utf16OfUtf8(e.what());
}

CoStoreProduct::CoStoreProduct(SessionOpener open) : open_(std::move(open)) {}

com::HRESULT CoStoreProduct::QueryInterface(const com::Guid& iid,
                                            std::shared_ptr<com::IUnknown>& out) {
  if (iid == com::IID_IUnknown || iid == com::IID_IDispatch || iid == IID_IAppServer) {
    out = shared_from_this();
    return com::S_OK;
  }
  out.reset();
  return com::E_NOINTERFACE;
}

Database& CoStoreProduct::session() {
  if (db_ && !db_->healthy()) {
    // The working rows lived in the lost session.
    workingRowsLost_ = workingRowsLost_ || workingRowsFilled_;
    workingRowsFilled_ = false;
    sessionLost_ = true;
    db_.reset();
  }
  if (!db_) {
    try {
      auto db = open_();
      prepareSession(*db);
      db_ = std::move(db);
    } catch (const DatabaseError& e) {
      if (!sessionLost_) throw;
      throw DatabaseError(std::string("the connection to the database was lost and cannot be "
                                      "opened again: ") +
                          e.what());
    }
    sessionLost_ = false;
  }
  return *db_;
}

template <class F>
com::HRESULT CoStoreProduct::guarded(F&& body) {
  std::lock_guard lock(mutex_);
  try {
    body();
    return com::S_OK;
  } catch (const OverLimit& e) {
    // Refused with a code of its own, so that the window can show its own box for it.
    com::SetErrorInfo({QADJ_E_OVER_LIMIT, kSource, utf16OfUtf8(e.what())});
    return QADJ_E_OVER_LIMIT;
  } catch (const OutcomeUnknown& e) {
    // Neither done nor refused: the caller keeps its request to send it again.
    com::SetErrorInfo({com::XACT_E_INDOUBT, kSource, utf16OfUtf8(e.what())});
    return com::XACT_E_INDOUBT;
  } catch (const DatabaseError& e) {
    // A failure that took the session with it says so: the caller must not take it for
    // a refusal of its statement.
    std::string text = e.what();
    if (db_ && !db_->healthy() &&
        text.find("connection to the database was lost") == std::string::npos)
      text = "the connection to the database was lost: " + text;
    com::SetErrorInfo({com::E_FAIL, kSource, utf16OfUtf8(text)});
    return com::E_FAIL;
  } catch (const std::exception& e) {
    com::SetErrorInfo({com::E_FAIL, kSource, describeException(e)});
    return com::E_FAIL;
  } catch (...) {
    com::SetErrorInfo({com::E_FAIL, kSource, u"Unexpected failure in the application server"});
    return com::E_FAIL;
  }
}

com::HRESULT CoStoreProduct::ApplyUpdates(const std::u16string& provider, const com::Variant&,
                                          std::int32_t, std::int32_t& errorCount, com::Variant&,
                                          com::Variant& result) {
  noteCall("ApplyUpdates", provider);
  return guarded([&] {
    checkProvider(utf8Of(provider, "The provider name"));
    errorCount = 0;
    result = Variant::null();
    throw ServerError("Provider 'PUBLIC_DSP' applies no updates: send statements to be executed");
  });
}

com::HRESULT CoStoreProduct::FetchRecords(const std::u16string& provider, std::int32_t count,
                                          std::int32_t& recsOut, std::int32_t options,
                                          const std::u16string& commandText, com::Variant&,
                                          com::Variant&, com::Variant& result) {
  noteCall("FetchRecords", provider);
  return guarded([&] {
    checkProvider(utf8Of(provider, "The provider name"));
    if (options & kFetchReset) {
      recsOut = 0;
      result = Variant::bytes(resetResult().packet);
      return;
    }
    const std::string statement = statementText(commandText);
    Database& db = session();
    if (workingRowsLost_ && statement == statements::productQuery())
      throw ServerError(
          "the connection to the database was lost, and this window's working rows (PGTQADJ0) "
          "with it; choose the salesperson again to prepare them");
    auto fetched = fetchRecords(db, statement, count, options);
    recsOut = fetched.recordsSent;
    noteRows(recsOut);
    result = Variant::bytes(std::move(fetched.packet));
  });
}

com::HRESULT CoStoreProduct::DataRequest(const std::u16string& provider, const com::Variant&,
                                         com::Variant& result) {
  noteCall("DataRequest", provider);
  return guarded([&] {
    checkProvider(utf8Of(provider, "The provider name"));
    result = Variant();
  });
}

com::HRESULT CoStoreProduct::GetProviderNames(com::Variant& result) {
  noteCall("GetProviderNames");
  return guarded([&] { result = Variant::bstr(u"PUBLIC_DSP"); });
}

com::HRESULT CoStoreProduct::GetParams(const std::u16string& provider, com::Variant&,
                                       com::Variant& result) {
  noteCall("GetParams", provider);
  return guarded([&] {
    checkProvider(utf8Of(provider, "The provider name"));
    result = Variant::null();  // the provider takes no parameters
  });
}

com::HRESULT CoStoreProduct::RowRequest(const std::u16string& provider, const com::Variant&,
                                        std::int32_t, com::Variant&, com::Variant& result) {
  noteCall("RowRequest", provider);
  return guarded([&] {
    checkProvider(utf8Of(provider, "The provider name"));
    result = Variant::null();
  });
}

com::HRESULT CoStoreProduct::ExecuteCommand(const std::u16string& provider,
                                            const std::u16string& commandText, com::Variant&,
                                            com::Variant& ownerData) {
  noteCall("ExecuteCommand", provider);
  return guarded([&] {
    checkProvider(utf8Of(provider, "The provider name"));
    SaveContext save;
    try {
      if (const auto request = parseSaveOwnerData(ownerData)) {
        save.id = request->id;
        save.operatorCode = request->operatorCode;
      }
    } catch (const std::invalid_argument& e) {
      throw ServerError(std::string("The save is refused: ") + e.what());
    }
    save.client = com::CallerPeer().empty() ? "in-process" : com::CallerPeer();
    if (com::RequestFacts* facts = com::CurrentRequestFacts()) {
      facts->peer = save.client;
      facts->saveId = save.id;
      facts->operatorCode = save.operatorCode;
    }
    noteRows(executeCommand(session(), statementText(commandText), &save));
  });
}

void CoStoreProduct::m_qadj(std::u16string& code, double quotaDate) {
  std::lock_guard lock(mutex_);
  fillQuotas(code, quotaDate);
}

void CoStoreProduct::fillQuotas(std::u16string& code, double quotaDate) {
  noteCall("m_qadj");
  const std::string salesperson = salespersonOf(code);
  checkQuotaDate(quotaDate);
  noteRows(static_cast<std::int64_t>(fillAdjustableQuotas(session(), salesperson, quotaDate)));
  workingRowsFilled_ = true;
  workingRowsLost_ = false;
}

com::HRESULT CoStoreProduct::GetIDsOfNames(const std::u16string& name, std::int32_t& dispid) {
  for (const auto& m : kMembers)
    if (sameName(name, m.name)) {
      dispid = m.dispid;
      return com::S_OK;
    }
  return com::DISP_E_UNKNOWNNAME;
}

com::HRESULT CoStoreProduct::Invoke(std::int32_t dispid, std::uint16_t flags,
                                    std::vector<com::Variant>& args, com::Variant* result,
                                    com::ExcepInfo* excep) {
  if (!(flags & com::DISPATCH_METHOD)) return com::DISP_E_MEMBERNOTFOUND;
  // The record-set operations are decoded as for every IAppServer; m_qadj is ours.
  if (dispid != kDispIdMQadj) return InvokeAppServer(*this, dispid, args, result, excep);
  if (args.size() != 2) return com::DISP_E_BADPARAMCOUNT;
  // Arguments arrive last first: the code, then the date.
  Variant& codeArg = args[1];
  if (codeArg.type() != VarType::BStr) return com::DISP_E_TYPEMISMATCH;
  const auto date = argDate(args[0]);
  if (!date) return com::DISP_E_TYPEMISMATCH;
  std::u16string code = codeArg.asBStr();
  com::ExcepInfo stale;
  com::GetErrorInfo(stale);
  const HRESULT hr = guarded([&] { fillQuotas(code, *date); });
  if (com::failed(hr)) return InvokeFailure(hr, excep);
  setOut(codeArg, Variant::bstr(code));
  if (result) *result = Variant();
  return com::S_OK;
}

std::shared_ptr<com::IUnknown> createCoStoreProduct(const std::string& dbUrl,
                                                    std::size_t maxResultBytes,
                                                    int statementTimeoutMs) {
  return std::make_shared<CoStoreProduct>([dbUrl, maxResultBytes, statementTimeoutMs] {
    auto db = openDatabase(dbUrl, OpenMode::Existing);
    db->setResultLimit(maxResultBytes);
    db->setStatementBounds(statementTimeoutMs, com::CallAbandoned);
    return db;
  });
}

}  // namespace qadj::appserver
