// The record-set interface of the application server, shared by the plug-in's data
// sets and the server object. Seven operations in this order; dispatch id of the
// n-th operation = kDispIdBase + n.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "qadj/com/com.h"

namespace qadj {

// {2C7AB8CD-6EB5-4670-9EB5-AFF9151148AA}
extern const com::Guid IID_IAppServer;
// The application server class and its program identifier.
extern const com::Guid CLSID_CoStoreProduct;  // {15F46FC4-4736-4AAF-9087-8A67C59E42F4}
inline constexpr const char* kCoStoreProductProgId = "KorvantaServer.CoStoreProduct";
// The one provider of the server class: the window's data sets name it in every call.
inline constexpr const char* kPublicProvider = "PUBLIC_DSP";

inline constexpr std::int32_t kDispIdBase = 20000000;
enum AppServerDispId : std::int32_t {
  DISPID_ApplyUpdates = kDispIdBase + 0,
  DISPID_FetchRecords = kDispIdBase + 1,
  DISPID_DataRequest = kDispIdBase + 2,
  DISPID_GetProviderNames = kDispIdBase + 3,
  DISPID_GetParams = kDispIdBase + 4,
  DISPID_RowRequest = kDispIdBase + 5,
  DISPID_ExecuteCommand = kDispIdBase + 6,
};

// FetchRecords options.
inline constexpr std::int32_t kFetchMetaData = 1;  // field descriptions included
inline constexpr std::int32_t kFetchReset = 2;     // reset the provider

// The record-set operations, declared once for the interface and for every class that
// implements it: `head` opens each declaration (`virtual` or nothing) and `tail` ends it
// (`= 0` or `override`).
//   ApplyUpdates: applies a delta; errorCount receives the number of records refused.
//   FetchRecords: runs commandText (options kFetchMetaData) or resets (kFetchReset,
//     count 0) and returns a record-set packet (a byte array) in result; recsOut = rows
//     sent.
//   DataRequest, GetProviderNames, GetParams, RowRequest: the provider's other requests.
//   ExecuteCommand: runs one statement that returns no rows.
// Every operation returns S_OK or a failure code; on failure it leaves a description
// in the thread's error information (com::SetErrorInfo).
#define QADJ_APP_SERVER_OPERATIONS(head, tail)                                              \
  head com::HRESULT ApplyUpdates(const std::u16string& provider, const com::Variant& delta, \
                                 std::int32_t maxErrors, std::int32_t& errorCount,          \
                                 com::Variant& ownerData, com::Variant& result) tail;       \
  head com::HRESULT FetchRecords(const std::u16string& provider, std::int32_t count,        \
                                 std::int32_t& recsOut, std::int32_t options,               \
                                 const std::u16string& commandText, com::Variant& params,   \
                                 com::Variant& ownerData, com::Variant& result) tail;       \
  head com::HRESULT DataRequest(const std::u16string& provider, const com::Variant& data,   \
                                com::Variant& result) tail;                                 \
  head com::HRESULT GetProviderNames(com::Variant& result) tail;                            \
  head com::HRESULT GetParams(const std::u16string& provider, com::Variant& ownerData,      \
                              com::Variant& result) tail;                                   \
  head com::HRESULT RowRequest(const std::u16string& provider, const com::Variant& row,     \
                               std::int32_t requestType, com::Variant& ownerData,           \
                               com::Variant& result) tail;                                  \
  head com::HRESULT ExecuteCommand(const std::u16string& provider,                          \
                                   const std::u16string& commandText, com::Variant& params, \
                                   com::Variant& ownerData) tail

class IAppServer : public virtual com::IUnknown {
 public:
  QADJ_APP_SERVER_OPERATIONS(virtual, = 0);
};

// Carries out one Invoke of the record-set interface on target: dispid is one of the
// AppServerDispId values, args are in reverse order with the argument lists of the
// operations (texts BSTR, empty or null; counts and options 4-byte integers, booleans,
// whole doubles or empty; in/out values by reference). The
// new values of by-reference arguments are written back on success. A failing
// operation's error information becomes excep with DISP_E_EXCEPTION; without a
// description its code is returned. Unknown ids give DISP_E_MEMBERNOTFOUND, a wrong
// argument count DISP_E_BADPARAMCOUNT, a wrong type DISP_E_TYPEMISMATCH.
com::HRESULT InvokeAppServer(IAppServer& target, std::int32_t dispid,
                             std::vector<com::Variant>& args, com::Variant* result,
                             com::ExcepInfo* excep);

// The code an Invoke returns for a member that failed with hr (a failure code): with
// a description in the thread's error information, DISP_E_EXCEPTION and that
// information in excep (scode = hr); without one, hr itself. Consumes the thread's
// error information.
com::HRESULT InvokeFailure(com::HRESULT hr, com::ExcepInfo* excep);

// Registers InvokeAppServer as the remote stub of IAppServer, so that a daemon
// serving an object that answers IAppServer carries out record-set calls on it.
// Idempotent; it also runs when this library is loaded.
void RegisterAppServerStub();

}  // namespace qadj
