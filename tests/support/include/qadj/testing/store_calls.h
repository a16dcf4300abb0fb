// Calls on the application-server object as a late-bound host makes them: through its
// automation interface, arguments written in call order (Invoke takes them reversed).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "qadj/com/com.h"
#include "qadj/protocol/packet.h"

namespace qadj::testing {

// Invokes method dispid of d with args in call order; *after (if given) gets the
// arguments as the call left them (by-reference values written back). Returns Invoke's
// result.
com::HRESULT callInOrder(com::IDispatch& d, std::int32_t dispid, std::vector<com::Variant> args,
                         com::Variant* result = nullptr, com::ExcepInfo* excep = nullptr,
                         std::vector<com::Variant>* after = nullptr);

// The outcome of one record-set call.
struct CallOutcome {
  com::HRESULT hr = com::S_OK;   // of the creation, else of the call
  std::string description;       // the error information's text (UTF-8), if any
  std::size_t rows = 0;          // rows the query returned
  std::int32_t recordsSent = 0;  // what the server said it sent
  packet::Packet packet;         // the query's packet
};

// Creates "KorvantaServer.CoStoreProduct" on host and returns its automation
// interface, or null with *hr (if given) telling why: the creation's result, or
// E_NOINTERFACE. The caller owns the one reference returned.
std::shared_ptr<com::IDispatch> createServerOn(const std::string& host, com::HRESULT* hr = nullptr);

// The window's salesperson list of a warehouse (GBK code), as it travels (UTF-16): the
// query the tests send when any query of the window will do.
std::u16string salespersonsOf(const std::string& warehouse);

// FetchRecords of every row of sqlText (with field descriptions) through server.
CallOutcome fetchOn(com::IDispatch& server, const std::u16string& sqlText);
// ExecuteCommand of sqlText through server, with the owner data given (a save's, see
// saveOwnerData; null: none).
CallOutcome executeOn(com::IDispatch& server, const std::u16string& sqlText,
                      const com::Variant& ownerData = com::Variant::null());
// Creates the server object on host and fetches sqlText through it; the object is
// released before returning.
CallOutcome createAndFetch(const std::string& host, const std::u16string& sqlText);

// m_qadj(code by reference, date), looked up by name: refills the salesperson's
// adjustable quantities for the day. *codeAfter gets the code as the call left it.
com::HRESULT refillOn(com::IDispatch& server, const std::u16string& code, double date,
                      com::ExcepInfo* excep = nullptr, std::u16string* codeAfter = nullptr);

}  // namespace qadj::testing
