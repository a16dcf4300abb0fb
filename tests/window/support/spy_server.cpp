#include "support/spy_server.h"

#include <utility>

#include "qadj/appserver/costore_product.h"
#include "qadj/platform/text.h"
#include "qadj/testing/app_server_stub.h"

namespace qadj::testing {

void ServerLog::clear() {
  std::lock_guard lock(mutex);
  fetches.clear();
  executes.clear();
  qadjCodes.clear();
  qadjDates.clear();
}

std::vector<std::string> ServerLog::snapshotQadj() {
  std::lock_guard lock(mutex);
  return qadjCodes;
}

std::vector<std::string> ServerLog::snapshotExecutes() {
  std::lock_guard lock(mutex);
  return executes;
}

std::vector<std::string> ServerLog::snapshotFetches() {
  std::lock_guard lock(mutex);
  return fetches;
}

namespace {

// Records what the window asks of the server and passes it on; the window uses only
// FetchRecords and ExecuteCommand (the rest answer "not implemented").
class SpyServer : public AppServerStub, public com::IDispatch {
 public:
  SpyServer(std::shared_ptr<com::IUnknown> inner, std::shared_ptr<ServerLog> log)
      : inner_(std::move(inner)), log_(std::move(log)) {
    std::shared_ptr<com::IUnknown> p;
    inner_->QueryInterface(com::IID_IDispatch, p);
    disp_ = com::interface_cast<com::IDispatch>(p);
    inner_->QueryInterface(IID_IAppServer, p);
    app_ = com::interface_cast<IAppServer>(p);
  }

  com::HRESULT QueryInterface(const com::Guid& iid, std::shared_ptr<com::IUnknown>& out) override {
    if (iid == com::IID_IUnknown || iid == com::IID_IDispatch || iid == IID_IAppServer) {
      out = shared_from_this();
      return com::S_OK;
    }
    return com::E_NOINTERFACE;
  }

  com::HRESULT GetIDsOfNames(const std::u16string& name, std::int32_t& dispid) override {
    return disp_->GetIDsOfNames(name, dispid);
  }

  com::HRESULT Invoke(std::int32_t dispid, std::uint16_t flags, std::vector<com::Variant>& args,
                      com::Variant* result, com::ExcepInfo* excep) override {
    std::int32_t qadjId = 0;
    if (disp_->GetIDsOfNames(u"m_qadj", qadjId) == com::S_OK && dispid == qadjId &&
        args.size() == 2) {
      std::lock_guard lock(log_->mutex);
      log_->qadjCodes.push_back(text::utf16ToUtf8(args[1].asBStr()));
      log_->qadjDates.push_back(args[0].asR8());
    }
    return disp_->Invoke(dispid, flags, args, result, excep);
  }

  com::HRESULT FetchRecords(const std::u16string& provider, std::int32_t count,
                            std::int32_t& recsOut, std::int32_t options,
                            const std::u16string& commandText, com::Variant& params,
                            com::Variant& ownerData, com::Variant& result) override {
    {
      std::lock_guard lock(log_->mutex);
      log_->fetches.push_back(options & kFetchReset ? "<reset>" : text::utf16ToUtf8(commandText));
    }
    return app_->FetchRecords(provider, count, recsOut, options, commandText, params, ownerData,
                              result);
  }
  com::HRESULT ExecuteCommand(const std::u16string& provider, const std::u16string& commandText,
                              com::Variant& params, com::Variant& ownerData) override {
    com::HRESULT lost = 0;
    {
      std::lock_guard lock(log_->mutex);
      log_->executes.push_back(text::utf16ToUtf8(commandText));
      lost = std::exchange(log_->loseNextReply, 0);
    }
    const com::HRESULT hr = app_->ExecuteCommand(provider, commandText, params, ownerData);
    if (lost == 0) return hr;
    com::ExcepInfo discarded;
    com::GetErrorInfo(discarded);
    return lost;
  }

 private:
  std::shared_ptr<com::IUnknown> inner_;
  std::shared_ptr<com::IDispatch> disp_;
  std::shared_ptr<IAppServer> app_;
  std::shared_ptr<ServerLog> log_;
};

}  // namespace

std::shared_ptr<com::IUnknown> createSpyServer(const std::string& dbUrl,
                                               std::shared_ptr<ServerLog> log) {
  return std::make_shared<SpyServer>(appserver::createCoStoreProduct(dbUrl), std::move(log));
}

}  // namespace qadj::testing
