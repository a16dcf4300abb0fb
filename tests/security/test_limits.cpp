// Limits against a caller that asks too much: the largest result of one query (read
// row by row and stopped early, on SQLite and PostgreSQL, in the daemon and
// in-process, also for the window's own queries over a large database), the largest
// message and the objects one client may hold.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QTemporaryDir>

#include "qadj/appserver/costore_product.h"
#include "qadj/com/com.h"
#include "qadj/testing/com_scope.h"
#include "qadj/testing/daemon_process.h"
#include "support/attack.h"
#include "support/quota_db.h"
#include "support/remote_calls.h"
#include "support/tls_material.h"

using namespace qadj;
using namespace qadj::testing;

namespace {

std::shared_ptr<com::IDispatch> inProcess(const std::string& url, std::size_t maxResult) {
  std::shared_ptr<com::IUnknown> itf;
  auto object = maxResult ? appserver::createCoStoreProduct(url, maxResult)
                          : appserver::createCoStoreProduct(url);
  object->QueryInterface(com::IID_IDispatch, itf);
  return com::interface_cast<com::IDispatch>(itf);
}

class ResultCap : public ::testing::TestWithParam<const char*> {
 protected:
  qadj::testing::ComScope com_;  // first: it outlives every object below
  void SetUp() override { db = quotaDatabaseFor(GetParam()); }
  std::unique_ptr<QuotaDatabase> db;
};

TEST_P(ResultCap, ATooLargeResultFailsAndTheSessionGoesOn) {
  auto server = inProcess(db->url(), std::size_t{1} << 20);
  ASSERT_TRUE(server);
  // 900 salespersons of about 1000 bytes fit in 1 MiB; 2000 do not.
  const auto fits = fetchOn(*server, wideWarehouse(*db, "M", 900, 1000));
  EXPECT_EQ(fits.hr, com::S_OK) << fits.description;
  EXPECT_EQ(fits.rows, 900u);
  const auto huge = fetchOn(*server, wideWarehouse(*db, "L", 2000, 1000));
  EXPECT_EQ(huge.hr, com::DISP_E_EXCEPTION);
  EXPECT_EQ(huge.description, "the result of the query exceeds 1 MiB; narrow the query");
  // The same session answers the next request.
  const auto after = fetchOn(*server, salespersonsOf("01"));
  EXPECT_EQ(after.hr, com::S_OK) << after.description;
  EXPECT_EQ(after.rows, 4u);
}

// The cap is counted as the rows are read: a statement of millions of rows (about 5 GB)
// stops at the first mebibyte instead of filling the server's memory. One value as large
// as the database server's memory is refused before it reaches the server.
TEST_P(ResultCap, TheSessionStopsReadingAtTheCap) {
  auto session = appserver::openDatabase(db->url());
  session->setResultLimit(std::size_t{1} << 20);
  const std::string rows =
      GetParam() == std::string("sqlite")
          ? "WITH RECURSIVE N(I) AS (SELECT 1 UNION ALL SELECT I+1 FROM N WHERE I<5000000) "
            "SELECT I, printf('%01000d', I) FROM N"
          : "SELECT I, lpad(I::text, 1000, '0') FROM generate_series(1, 5000000) AS G(I)";
  EXPECT_THROW(session->query(rows), appserver::ResultTooLarge);
  EXPECT_EQ(session->query("SELECT 1").rows.size(), 1u);
  rusage before{};
  ::getrusage(RUSAGE_SELF, &before);
  if (GetParam() == std::string("sqlite")) {
    EXPECT_THROW(session->query("SELECT length(randomblob(900000000))"), appserver::ResultTooLarge);
  } else {
    // PostgreSQL builds a value in its own process: the window's query bounds each text
    // column there, so a host's 300 MB name never reaches the server.
    const auto query = wideWarehouse(*db, "V", 1, 300'000'000);
    auto server = inProcess(db->url(), 0);
    ASSERT_TRUE(server);
    const auto r = fetchOn(*server, query);
    EXPECT_EQ(r.hr, com::DISP_E_EXCEPTION);
    EXPECT_EQ(r.description, "the result of the query exceeds 1 MiB; narrow the query");
  }
  rusage after{};
  ::getrusage(RUSAGE_SELF, &after);
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024) << "peak memory rose, KiB";
}

TEST_P(ResultCap, TheInProcessServerCapsAt64MiB) {
  auto server = inProcess(db->url(), 0);
  ASSERT_TRUE(server);
  const auto r = fetchOn(*server, wideWarehouse(*db, "L", 70, 1'000'000));  // about 70 MB
  EXPECT_EQ(r.hr, com::DISP_E_EXCEPTION);
  EXPECT_EQ(r.description, "the result of the query exceeds 64 MiB; narrow the query");
}

INSTANTIATE_TEST_SUITE_P(Dialects, ResultCap, ::testing::Values("sqlite", "postgresql"));

// The daemon's options, on one SQLite database.
class DaemonLimits : public ::testing::Test {
 protected:
  qadj::testing::ComScope com_;  // first: it outlives every object below
  void SetUp() override { ASSERT_TRUE(clientDir.isValid()); }
  std::string start(const std::vector<std::string>& limits) {
    std::vector<std::string> args{"--db", db.url()};
    args.insert(args.end(), limits.begin(), limits.end());
    daemon = std::make_unique<DaemonProcess>(args, clientDir.path().toStdString());
    return daemon->start() ? daemon->host() : std::string();
  }
  QTemporaryDir clientDir;
  QuotaDatabase db{"sqlite"};
  std::unique_ptr<DaemonProcess> daemon;
};

TEST_F(DaemonLimits, ResultAndMessageCaps) {
  const std::string host = start({"--max-result-mib", "1", "--max-request-mib", "2"});
  ASSERT_FALSE(host.empty()) << daemon->error();
  ClientEnv env(clientDir.path().toStdString(), "", "");
  EXPECT_EQ(createAndFetch(host, wideWarehouse(db, "M", 900, 1000)).rows, 900u);
  const auto big = createAndFetch(host, wideWarehouse(db, "L", 2000, 1000));
  EXPECT_EQ(big.hr, com::DISP_E_EXCEPTION);
  EXPECT_EQ(big.description, "the result of the query exceeds 1 MiB; narrow the query");
  // A request over 2 MiB (a statement padded with a comment) is refused by the transport.
  std::u16string padded = u"SELECT 1 /*" + std::u16string(1'200'000, u'x') + u"*/";
  const auto tooLong = createAndFetch(host, padded);
  EXPECT_EQ(tooLong.hr, com::E_OUTOFMEMORY);
  EXPECT_EQ(com::OleErrorText(tooLong.hr),
            "Not enough storage is available to complete this operation");
  EXPECT_EQ(daemon->terminate(), 0);
}

// The request cap and the transport's memory quota bound what comes in, not what goes
// out: a result of about 50 MB still reaches the client.
TEST_F(DaemonLimits, ALargeResultPassesTheDefaults) {
  const std::string host = start({});
  ASSERT_FALSE(host.empty()) << daemon->error();
  ClientEnv env(clientDir.path().toStdString(), "", "");
  const auto big = createAndFetch(host, wideWarehouse(db, "L", 50, 1'000'000));
  EXPECT_EQ(big.hr, com::S_OK) << big.description;
  EXPECT_EQ(big.rows, 50u);
  EXPECT_EQ(daemon->terminate(), 0);
}

TEST_F(DaemonLimits, ObjectsPerClient) {
  const std::string host = start({"--max-objects", "2"});
  ASSERT_FALSE(host.empty()) << daemon->error();
  ClientEnv env(clientDir.path().toStdString(), "", "");
  std::shared_ptr<com::IUnknown> a, b, c;
  EXPECT_EQ(com::CoCreateInstanceEx(CLSID_CoStoreProduct, com::CLSCTX_REMOTE_SERVER, host,
                                    com::IID_IUnknown, a),
            com::S_OK);
  EXPECT_EQ(com::CoCreateInstanceEx(CLSID_CoStoreProduct, com::CLSCTX_REMOTE_SERVER, host,
                                    com::IID_IUnknown, b),
            com::S_OK);
  EXPECT_EQ(com::CoCreateInstanceEx(CLSID_CoStoreProduct, com::CLSCTX_REMOTE_SERVER, host,
                                    com::IID_IUnknown, c),
            com::E_OUTOFMEMORY);
  b.reset();  // a released object frees its place
  EXPECT_EQ(com::CoCreateInstanceEx(CLSID_CoStoreProduct, com::CLSCTX_REMOTE_SERVER, host,
                                    com::IID_IUnknown, c),
            com::S_OK);
  a.reset();
  c.reset();
  EXPECT_EQ(daemon->terminate(), 0);
  EXPECT_EQ(daemon->countLines({"Activate", "hr=0x8007000e"}), 1u) << daemon->log();
}

}  // namespace
