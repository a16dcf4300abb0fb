#include "support/fake_app_server.h"

#include <algorithm>

#include "qadj/platform/error.h"
#include "qadj/platform/text.h"

namespace qadj::dstest {

com::HRESULT FakeAppServer::FetchRecords(const std::u16string& provider, std::int32_t count,
                                         std::int32_t& recsOut, std::int32_t options,
                                         const std::u16string& commandText, com::Variant& params,
                                         com::Variant&, com::Variant& result) {
  calls.push_back({AppServerCall::Fetch, provider, count, options, commandText, params});
  if (com::failed(failHr_)) {
    if (!failDescription_.empty()) com::SetErrorInfo({failHr_, u"fake", failDescription_});
    return failHr_;
  }
  if (options == kFetchReset) {
    result = com::Variant();
    recsOut = 0;
    return com::S_OK;
  }
  const auto it = results_.find(commandText);
  if (it == results_.end()) {
    result = com::Variant::null();
    recsOut = 0;
    return com::S_OK;
  }
  result = it->second;
  recsOut = rowsSent;
  if (recsOut < 0 && result.type() == com::VarType::Bytes) {
    try {
      recsOut = static_cast<std::int32_t>(packet::decode(result.asBytes()).rows.size());
    } catch (const packet::PacketError&) {
      recsOut = 0;  // a malformed result on purpose
    }
  }
  return com::S_OK;
}

com::HRESULT FakeAppServer::ExecuteCommand(const std::u16string& provider,
                                           const std::u16string& commandText, com::Variant& params,
                                           com::Variant&) {
  calls.push_back({AppServerCall::Execute, provider, 0, 0, commandText, params});
  if (com::failed(failHr_)) {
    if (!failDescription_.empty()) com::SetErrorInfo({failHr_, u"fake", failDescription_});
    return failHr_;
  }
  return com::S_OK;
}

void FakeAppServer::setResult(const std::string& commandText, const packet::Packet& p) {
  results_[text::gbkToUtf16(commandText)] = com::Variant::bytes(packet::encode(p));
}

void FakeAppServer::setRawResult(const std::string& commandText, com::Variant v) {
  results_[text::gbkToUtf16(commandText)] = std::move(v);
}

int FakeAppServer::fetches() const {
  return static_cast<int>(std::count_if(calls.begin(), calls.end(), [](const AppServerCall& c) {
    return c.kind == AppServerCall::Fetch && c.options != kFetchReset;
  }));
}

int FakeAppServer::resets() const {
  return static_cast<int>(std::count_if(calls.begin(), calls.end(), [](const AppServerCall& c) {
    return c.kind == AppServerCall::Fetch && c.options == kFetchReset;
  }));
}

int FakeAppServer::executes() const {
  return static_cast<int>(std::count_if(calls.begin(), calls.end(), [](const AppServerCall& c) {
    return c.kind == AppServerCall::Execute;
  }));
}

std::shared_ptr<IAppServer> FakeRemoteServer::GetRecordSetInterface() {
  ++interfaceRequests;
  if (connectFailure) throw Exception(*connectFailure);
  return appServer;
}

packet::Packet productPacket(int rows) {
  std::vector<testing::ProductRow> out;
  for (int i = 0; i < rows; ++i)
    out.push_back({"P" + std::to_string(1000000 + i), "\xBE\xED\xD1\xCC" + std::to_string(i),
                   100.0 + i, 40.0 + i * 0.5, 60.0 + i * 0.5});
  return testing::productPacket(out);
}

packet::Packet detailPacket(int rows) {
  std::vector<testing::DetailRow> out;
  for (int i = 0; i < rows; ++i) {
    char code[8];
    std::snprintf(code, sizeof code, "%04d", i % 10000);
    out.push_back({code, "\xD5\xC5\xC8\xFD" + std::to_string(i % 100), 50.0 + i, 0.0, "P0000001",
                   "\xBE\xED\xD1\xCC  Ultra Slim 20"});
  }
  return testing::detailPacket(out);
}

}  // namespace qadj::dstest
