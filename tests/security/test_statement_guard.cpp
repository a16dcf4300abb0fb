// The server runs the window's statements and nothing else. Each text here is one that
// a hostile client with a valid token sent the daemon over the wire when the server
// still ran client text behind a scanner; replayed now, each is refused and nothing
// changes: quota lines, journal, save ids, large objects, temporary files, the other
// sessions. On PostgreSQL the daemon serves through a role with only the window's
// grants, and will not serve through a superuser, a role that may become one, or the
// tables' owner.
#include <gtest/gtest.h>

#include <unistd.h>
#include <QTemporaryDir>

#include <cmath>
#include <filesystem>

#include "qadj/appserver/daemon_options.h"
#include "qadj/appserver/save_record.h"
#include "qadj/platform/text.h"
#include "qadj/protocol/appserver.h"
#include "qadj/protocol/save_request.h"
#include "qadj/protocol/statements.h"
#include "qadj/testing/com_scope.h"
#include "qadj/testing/daemon_process.h"
#include "qadj/testing/shorthand.h"
#include "qadj/testing/window_save.h"
#include "support/quota_db.h"
#include "support/remote_calls.h"
#include "support/tls_material.h"

using namespace qadj;
using namespace qadj::testing;

namespace {

const std::string kLine = " WHERE  DHAO00='D1' AND FXRY00='0012' AND SPDM00='P001'";
const std::string kUpdate = "UPDATE XSTXLGL01 SET XL0000=";

// The texts sent with ExecuteCommand.
std::vector<std::string> commandAttacks() {
  std::vector<std::string> out;
  for (const char* name : {":WHERE", "@WHERE", "$WHERE"})
    out.push_back(kUpdate + "CASE WHEN " + name +
                  " IS NULL THEN XL0000 END, FXRY00='0099' WHERE DHAO00='D1'");
  out.push_back(kUpdate + "XL0000-1" + std::string(1, '\0') + kLine);
  for (const char* amount : {"-1", "-0x64", "-'1e2'", "+1e309", "+'NaN'::float8", "-1.00"})
    out.push_back(kUpdate + "XL0000" + amount + kLine + " AND 1=1");
  for (const char* amount : {"-0x64", "-'1e2'", "+1e309", "+'NaN'::float8", "-(-0.00)", "-100"})
    out.push_back(kUpdate + "XL0000" + amount + kLine);
  out.push_back(kUpdate + "XL0000-1.00" + kLine + "||''");
  out.push_back(kUpdate + "0" + kLine);
  out.push_back("/* a /* nested */ comment */ " + kUpdate + "XL0000-1.00" + kLine);
  out.push_back(kUpdate + "XL0000-$$1$$" + kLine);
  out.push_back("SELECT setval(pg_get_serial_sequence('qadj_transfer_journal', 'journal_no'), 1)");
  out.push_back("UPDATE QADJ_TRANSFER_JOURNAL SET TOTAL = 0");
  out.push_back("DELETE FROM QADJ_SAVE_ID");
  out.push_back("VACUUM");
  // A disguised giver line inside a save block; a receiver given more than the giver
  // gives; a receiver code that would forge journal entries.
  out.push_back(statements::block({statements::increment(q(5), "D1", "0013", "P001"),
                                   statements::increment(q(-5), "D1", "0012", "P001"),
                                   statements::decrement(q(0), "D1", "0012", "P001")}));
  out.push_back(statements::block({statements::increment(q(1000), "D1", "0013", "P001"),
                                   statements::decrement(q(1), "D1", "0012", "P001")}));
  out.push_back(windowSave("D1", "P001", "0012", {{"0013=1000;0099", 1}}));
  return out;
}

// The texts sent with FetchRecords.
std::vector<std::string> queryAttacks() {
  return {"SELECT lo_from_bytea(0, 'x')",
          "SELECT set_config('work_mem', '4GB', false)",
          "SELECT set_config('role', 'none', false)",
          "SELECT pg_terminate_backend(pid) FROM pg_stat_activity",
          "SELECT fts3_tokenizer('simple')",
          "SELECT * FROM XSTXLGL01 A, XSTXLGL01 B, XSTXLGL01 C ORDER BY randomblob(100000)",
          "WITH x AS (SELECT 1) DELETE FROM XSTXLGL01 RETURNING DHAO00",
          "ATTACH DATABASE '/tmp/qadj-attack.db' AS x",
          statements::warehouseLookup("0001") + "; DELETE FROM XSTXLGL01",
          statements::warehouseLookup("0001") + " UNION SELECT pg_read_file('/etc/hostname')"};
}

class Attacks : public ::testing::TestWithParam<const char*> {
 protected:
  qadj::testing::ComScope com_;  // first: it outlives every object below
  void SetUp() override {
    ASSERT_TRUE(clientDir.isValid());
    db = quotaDatabaseFor(GetParam());
    if (!db) return;
    url = db->url();
    if (postgres()) url = servingRole();
  }
  void TearDown() override {
    if (!db) return;
    if (postgres()) db->db().executeScript("DROP OWNED BY " + role + "; DROP ROLE " + role);
  }
  bool postgres() const { return std::string(GetParam()) == "postgresql"; }

  // A login role with the window's grants only (docs/deployment.md); its URL.
  std::string servingRole() {
    role = "qadj_window_" + std::to_string(::getpid());
    const std::string dbName = db->url().substr(db->url().rfind('/') + 1);
    db->db().executeScript(
        "DROP ROLE IF EXISTS " + role + "; CREATE ROLE " + role +
        " LOGIN; GRANT CONNECT, TEMPORARY ON DATABASE " + dbName + " TO " + role +
        "; GRANT USAGE ON SCHEMA public TO " + role +
        "; GRANT SELECT ON GSTRYGL0, GSTJYGL1, XSTXLGL1, XSTXLGL01, XSTFXDD0 TO " + role +
        "; GRANT UPDATE (XL0000) ON XSTXLGL01 TO " + role +
        "; GRANT SELECT, INSERT, DELETE ON QADJ_SAVE_ID TO " + role +
        "; GRANT SELECT, INSERT ON QADJ_TRANSFER_JOURNAL TO " + role + "; ALTER ROLE " + role +
        " SET temp_file_limit = '1GB'");
    std::string served = db->url();
    served.replace(served.find("postgres@"), 8, role);
    return served;
  }
  // What no refused request may change.
  std::string fingerprint() {
    std::string sql =
        "SELECT (SELECT COUNT(*) FROM XSTXLGL01), (SELECT SUM(XL0000) FROM XSTXLGL01),"
        " (SELECT COUNT(*) FROM QADJ_TRANSFER_JOURNAL), (SELECT COUNT(*) FROM QADJ_SAVE_ID)";
    if (postgres())
      sql +=
          ", (SELECT COUNT(*) FROM pg_largeobject_metadata), (SELECT temp_files FROM "
          "pg_stat_database WHERE datname = current_database())";
    const auto rs = db->db().query(sql);
    std::string out;
    for (const auto& v : rs.rows.at(0)) out += std::to_string(std::get<double>(v)) + " ";
    return out;
  }

  QTemporaryDir clientDir;
  std::unique_ptr<QuotaDatabase> db;
  std::string url, role;
};

TEST_P(Attacks, EveryTextOfAnotherShapeIsRefusedOverTheWireAndChangesNothing) {
  if (!db) return;
  DaemonProcess daemon({"--db", url}, clientDir.path().toStdString());
  ASSERT_TRUE(daemon.start()) << daemon.error();
  ClientEnv env(clientDir.path().toStdString(), "", "");
  auto server = createServerOn(daemon.host());
  ASSERT_TRUE(server);
  const std::string before = fingerprint();

  for (const std::string& text : commandAttacks()) {
    const auto out = executeOn(*server, text::gbkToUtf16(text));
    EXPECT_EQ(out.hr, com::DISP_E_EXCEPTION) << text;
    EXPECT_TRUE(out.description.starts_with("The statement is refused: ") ||
                out.description.find("不是一次限量调整，没有修改任何限量") != std::string::npos)
        << text << ": " << out.description;
  }
  for (const std::string& text : queryAttacks()) {
    const auto out = fetchOn(*server, text::gbkToUtf16(text));
    EXPECT_EQ(out.hr, com::DISP_E_EXCEPTION) << text;
    EXPECT_TRUE(out.description.starts_with("The statement is refused: ")) << out.description;
  }
  // A save whose owner data is malformed is refused, never run as one without an id.
  const std::string save = windowSave("D1", "P001", "0012", {{"0013", 1}});
  const std::u16string id = u"0123456789abcdef0123456789abcdef";
  for (const std::u16string& owner :
       {u"qadj-save id=" + id + u" operator=" + std::u16string(65, u'x'),
        u"qadj-save id=" + id + u" operator=00\n1", u"qadj-save id=" + id + u" operator=\xDC00",
        std::u16string(u"qadj-save id=0123456789abcdefg123456789abcdef operator=0001")}) {
    com::Variant params = com::Variant::null(), ownerData = com::Variant::bstr(owner);
    EXPECT_EQ(
        callInOrder(*server, DISPID_ExecuteCommand,
                    {com::Variant::bstr(u"PUBLIC_DSP"), com::Variant::bstr(text::gbkToUtf16(save)),
                     params.setByRef(), ownerData.setByRef()}),
        com::DISP_E_EXCEPTION);
  }
  // m_qadj with a date that is no day.
  for (const double date : {std::nan(""), HUGE_VAL}) EXPECT_NE(refillOn(*server, u"0012", date), 0);
  EXPECT_EQ(fingerprint(), before);
  EXPECT_FALSE(std::filesystem::exists("/tmp/qadj-attack.db"));

  // The window's own save goes through; sent again with its id in capitals it is the
  // same save, applied once.
  const auto send = [&](const std::u16string& saveId) {
    com::Variant params = com::Variant::null(),
                 ownerData = com::Variant::bstr(u"qadj-save id=" + saveId + u" operator=0001");
    return callInOrder(
        *server, DISPID_ExecuteCommand,
        {com::Variant::bstr(u"PUBLIC_DSP"), com::Variant::bstr(text::gbkToUtf16(save)),
         params.setByRef(), ownerData.setByRef()});
  };
  EXPECT_EQ(send(u"00aabbccddeeff00112233445566778f"), com::S_OK);
  EXPECT_EQ(send(u"00AABBCCDDEEFF00112233445566778F"), com::S_OK);
  EXPECT_EQ(db->quota("D1", "0013", "P001"), 6);
  EXPECT_EQ(db->quota("D1", "0012", "P001"), 9);
  EXPECT_EQ(appserver::readJournal(db->db(), {}).size(), 1u);
  server.reset();
  EXPECT_EQ(daemon.terminate(), 0) << daemon.log();
  // Refused texts are logged by their shape: no value a client sent shows. The role's
  // temporary files are bounded, so the daemon has no warning to give.
  EXPECT_EQ(daemon.log().find("0013=1000"), std::string::npos);
  EXPECT_EQ(daemon.log().find("warning"), std::string::npos) << daemon.log();
}

INSTANTIATE_TEST_SUITE_P(Dialects, Attacks, ::testing::Values("sqlite", "postgresql"));

// The daemon will not serve through a role whose statements could do more than the
// window's: a superuser (whose text could run programs and read files on the database
// server), a login role that may become one (a superuser whose default role is the
// serving role), or the owner of the tables (who could rewrite the journal).
TEST(DaemonRole, OnlyARoleWithTheWindowsGrantsServes) {
  auto db = quotaDatabaseFor("postgresql");
  if (!db) return;
  const std::string pid = std::to_string(::getpid());
  const std::string owner = "qadj_owner_" + pid, masked = "qadj_masked_" + pid;
  db->db().executeScript("DROP ROLE IF EXISTS " + owner + "; CREATE ROLE " + owner +
                         " LOGIN; ALTER TABLE XSTXLGL01 OWNER TO " + owner +
                         "; DROP ROLE IF EXISTS " + masked + "; CREATE ROLE " + masked +
                         " LOGIN SUPERUSER; ALTER ROLE " + masked + " SET role = " + owner);
  const auto as = [&](const std::string& login) {
    std::string url = db->url();
    url.replace(url.find("postgres@"), 8, login);
    return url;
  };
  for (const auto& [url, why] : {std::pair{db->url(), "is a superuser or may become one"},
                                 std::pair{as(masked), "is a superuser or may become one"},
                                 std::pair{as(owner), "owns the window's tables"}}) {
    ChildProcess refused(daemonExecutable(), {"--db", url, "--listen", "127.0.0.1:0"});
    EXPECT_EQ(refused.finish(), appserver::kExitConfiguration) << url;
    EXPECT_NE(refused.output().find(std::string("the database role ") + why), std::string::npos)
        << refused.output();
  }
  db->db().executeScript("ALTER TABLE XSTXLGL01 OWNER TO postgres; DROP ROLE " + masked +
                         "; DROP ROLE " + owner);
}

}  // namespace
