#include "qadj/server/client_dataset.h"

#include "qadj/platform/error.h"
#include "qadj/platform/text.h"
#include "qadj/protocol/packet.h"

namespace qadj {

EOleException AppServerError(com::HRESULT hr) {
  com::ExcepInfo info;
  std::string message;
  if (com::GetErrorInfo(info) && !info.description.empty())
    message = com::ErrorDescriptionText(info.description);
  if (message.empty()) message = com::OleErrorText(hr);
  return EOleException(message, hr);
}

TClientDataSet::TClientDataSet(std::string name) : TDataSet(std::move(name)) {}

TClientDataSet::~TClientDataSet() {
  ownerDestroying_ = true;
  try {
    Close();  // sends nothing to the server; only a bound control's hook could throw
  } catch (...) {
  }
  appServer_.reset();
  if (remoteServer_) remoteServer_->UnregisterClient(this);
}

void TClientDataSet::SetRemoteServer(TCustomRemoteServer* server) {
  if (server == remoteServer_) return;
  if (remoteServer_) remoteServer_->UnregisterClient(this);
  remoteServer_ = server;
  appServer_.reset();  // an interface of the old connection is no use
  if (remoteServer_) remoteServer_->RegisterClient(this);
}

void TClientDataSet::ConnectChange(bool connected) {
  if (!connected) appServer_.reset();
  DataEvent(TDataEvent::deConnectChange, connected ? 1 : 0);
}

com::Variant TClientDataSet::PackageParams() const {
  if (params_.IsEmpty()) return com::Variant::null();
  DatabaseError("Parameters are not supported");
}

std::shared_ptr<IAppServer> TClientDataSet::AppServer() {
  if (appServer_) return appServer_;
  if (providerName_.empty() || !remoteServer_)
    DatabaseError("Missing data provider or data packet");
  appServer_ = remoteServer_->GetRecordSetInterface();
  if (!appServer_) DatabaseError("Missing data provider or data packet");
  return appServer_;
}

std::unique_ptr<RecordSet> TClientDataSet::DoOpen() {
  noResetCall_ = false;
  com::Variant params = PackageParams();
  const std::shared_ptr<IAppServer> server = AppServer();
  std::int32_t recsOut = 0;
  com::Variant ownerData;
  com::Variant result;
  const com::HRESULT hr =
      server->FetchRecords(text::gbkToUtf16(providerName_), packetRecords_, recsOut, kFetchMetaData,
                           text::gbkToUtf16(commandText_), params, ownerData, result);
  if (com::failed(hr)) failed(hr);
  if (result.isNull()) DatabaseError("Missing data provider or data packet");
  if (result.type() != com::VarType::Bytes || result.asBytes().size() < packet::kMinPacketSize)
    throw EDatabaseError("Invalid data packet");
  allFetched_ = recsOut != packetRecords_;
  std::unique_ptr<RecordSet> records;
  try {
    records = std::make_unique<RecordSet>(std::move(result.asBytes()));
  } catch (const packet::PacketError& e) {
    // The record-set engine's own message, without the data set's name.
    throw EDatabaseError(e.what());
  }
  noResetCall_ = records->NoResetCall();
  return records;
}

void TClientDataSet::DoAfterClose() {
  allFetched_ = false;
  if (!appServer_) return;
  if (!ownerDestroying_ && !noResetCall_) SendReset();
  appServer_.reset();
  noResetCall_ = false;
}

void TClientDataSet::SendReset() {
  std::int32_t recsOut = 0;
  com::Variant params;
  com::Variant ownerData;
  com::Variant result;
  // The reset's outcome is of no interest; a failure must not keep Close from
  // completing.
  try {
    const com::HRESULT hr = appServer_->FetchRecords(text::gbkToUtf16(providerName_), 0, recsOut,
                                                     kFetchReset, u"", params, ownerData, result);
    if (com::failed(hr)) {
      com::ExcepInfo discarded;
      com::GetErrorInfo(discarded);
    }
  } catch (const std::exception&) {
  }
}

void TClientDataSet::Execute(const com::Variant& ownerData) {
  com::Variant params = PackageParams();
  const std::shared_ptr<IAppServer> server = AppServer();
  com::Variant owner = ownerData;
  const com::HRESULT hr = server->ExecuteCommand(text::gbkToUtf16(providerName_),
                                                 text::gbkToUtf16(commandText_), params, owner);
  if (com::failed(hr)) failed(hr);
}

void TClientDataSet::failed(com::HRESULT hr) {
  EOleException error = AppServerError(hr);
  // The connection may find its server object gone, and drop it.
  if (remoteServer_) remoteServer_->CallFailed(hr);
  throw error;
}

}  // namespace qadj
