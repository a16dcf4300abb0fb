// The connection `dcom`: creates the application server object on a named host,
// hands data sets its record-set interface and makes late-bound calls by name.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "qadj/com/com.h"
#include "qadj/server/remote_server.h"

namespace qadj {

// One argument of a late-bound call. Texts are GBK.
class DispatchArg {
 public:
  // A text passed by value.
  static DispatchArg text(std::string gbk);
  // A text passed by reference: after a successful call *gbk holds the text the
  // server left in it. The caller keeps gbk alive during the call.
  static DispatchArg textRef(std::string& gbk);
  // A date: days since 1899-12-30, the fraction being the time of day.
  static DispatchArg date(double days);
  static DispatchArg integer(std::int32_t value);
  static DispatchArg real(double value);

  // The automation value passed for this argument (texts converted to UTF-16; a
  // by-reference text leniently, a cut character becoming U+FFFD).
  com::Variant toVariant() const;
  // Copies a by-reference text back from the value the call left, converted to GBK
  // leniently (a character GBK cannot hold becomes '?'). Throws qadj::EOleError
  // (type mismatch) for a value that is no text.
  void copyBack(const com::Variant& v) const;

 private:
  struct Date {
    double days;
  };
  using Value = std::variant<std::string, std::string*, Date, std::int32_t, double>;
  explicit DispatchArg(Value v) : value_(std::move(v)) {}
  Value value_;
};

// A late-bound method call on disp: name look-up (GBK name as UTF-16), Invoke with the
// method flag, no result, arguments in reverse order; by-reference texts are copied
// back on success. Throws qadj::EOleError "Method '%s' not supported by automation
// object" for an unknown name, qadj::EOleException with the server's description
// (trailing blanks, control characters and periods removed) for DISP_E_EXCEPTION,
// qadj::EOleError with the system's text for any other failure code.
void InvokeByName(com::IDispatch& disp, const std::string& name,
                  const std::vector<DispatchArg>& args);

// The class context used to create the server object on a named host: 0x15 when
// computerName equals this computer's name without regard to letter case, else 0x10
// (also when the computer's name cannot be had).
std::uint32_t RemoteClassContext(const std::string& computerName);

class TDCOMConnection : public TCustomRemoteServer {
 public:
  // name is the component name (GBK) used in messages, "dcom" in the window.
  explicit TDCOMConnection(std::string name = "dcom");
  // Disconnects, releasing the server object. Never throws.
  ~TDCOMConnection() override;
  TDCOMConnection(const TDCOMConnection&) = delete;
  TDCOMConnection& operator=(const TDCOMConnection&) = delete;

  const std::string& Name() const { return name_; }

  // The class as text in braces; empty text when null.
  std::string ServerGUID() const;
  // Empty text sets the null class. Throws qadj::EOleError "Invalid class string"
  // for a text that is not a class identifier.
  void SetServerGUID(const std::string& text);
  // Program identifier, used only when ServerGUID is null.
  const std::string& ServerName() const { return serverName_; }
  void SetServerName(const std::string& progId) { serverName_ = progId; }
  // Host on which the object is created ("name[:port]"); empty means this computer.
  const std::string& ComputerName() const { return computerName_; }
  // A text that differs from the stored one byte for byte disconnects first.
  void SetComputerName(const std::string& host);
  bool Connected() const;
  // Connects or disconnects; throws as Connect().
  void SetConnected(bool value);
  // Kept as a property; no login step is taken before connecting.
  bool LoginPrompt() const { return loginPrompt_; }
  void SetLoginPrompt(bool value) { loginPrompt_ = value; }

  // Creates the server object unless connected and tells the registered data sets.
  // Throws qadj::EOleError with the texts of the connection's failure table; a failed
  // connect leaves the connection disconnected.
  void Connect();
  // Drops the server object (nothing is sent to it) after telling the data sets.
  void Disconnect();

  // Connects, then returns the object's IAppServer, or a TDispatchAppServer over its
  // IDispatch when it has none; the same one while the connection lasts (asking a
  // remote object again would cost a call each time). Throws as Connect().
  std::shared_ptr<IAppServer> GetRecordSetInterface() override;
  // The held automation value: empty before the first connect, null after a
  // disconnect, the object's IDispatch while connected. Does not connect.
  const com::Variant& ServerDispatch() const { return serverDispatch_; }

  // Late-bound method call on ServerDispatch (see InvokeByName). Throws qadj::EOleError
  // "Variant does not reference an automation object" when not connected, except after
  // the connection dropped an object found gone: then it connects afresh first.
  void CallMethod(const std::string& name, const std::vector<DispatchArg>& args);

  // A call failed with a code that says the server object is gone or out of reach
  // (disconnected, server unavailable, deadline passed): the object is dropped as by
  // Disconnect, so that the next request, a late-bound call included, connects afresh.
  void CallFailed(com::HRESULT hr) override;

 private:
  std::string name_;
  com::Guid serverGuid_{};
  std::string serverName_;
  std::string computerName_;
  bool loginPrompt_ = false;
  com::Variant serverDispatch_;
  std::shared_ptr<IAppServer> appServer_;  // record-set interface of the connected object
  bool reconnect_ = false;  // the object was dropped as gone: a late-bound call connects
};

}  // namespace qadj
