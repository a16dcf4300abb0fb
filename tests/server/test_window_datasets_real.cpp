// The window's data sets against the real application server on the demo database:
// once created in-process, once behind the gRPC object server on loopback.
#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>

#include "qadj/appserver/costore_product.h"
#include "qadj/appserver/database.h"
#include "qadj/appserver/demo.h"
#include "qadj/appserver/embedded.h"
#include "qadj/protocol/statements.h"
#include "qadj/server/connection.h"
#include "qadj/testing/com_scope.h"
#include "qadj/testing/server_under_test.h"
#include "qadj/window/window_datasets.h"

namespace qadj {
namespace {

constexpr double kToday = 46000;  // 2025-12-09

enum class Where { InProcess, OverGrpc };

class RealServerTest : public ::testing::TestWithParam<Where> {
 protected:
  qadj::testing::ComScope com_;  // first: it outlives every object below
  void SetUp() override {
    path_ = ::testing::TempDir() + "qadj_ds_real_" + std::to_string(::getpid()) + ".sqlite";
    std::filesystem::remove(path_);
    url_ = appserver::sqliteUrl(path_);
    {
      auto db = appserver::openDatabase(url_);
      demo_ = appserver::seedDemoData(*db, kToday);
    }
    dcom_ = std::make_unique<TDCOMConnection>("dcom");
    dcom_->SetServerGUID(CLSID_CoStoreProduct.toString());
    if (GetParam() == Where::InProcess) {
      appserver::registerInProcessServer(url_);
    } else {
      remote_ = std::make_unique<testing::ServerUnderTest>(testing::Transport::Grpc);
      const std::string url = url_;
      remote_->registerClass(CLSID_CoStoreProduct, kCoStoreProductProgId,
                             [url] { return appserver::createCoStoreProduct(url); });
      remote_->start();
      dcom_->SetComputerName(remote_->host());
    }
    sets_ = CreateWindowDataSets(dcom_.get());
  }
  void TearDown() override {
    sets_ = {};  // data sets before the connection, as the window does
    dcom_.reset();
    remote_.reset();
    if (GetParam() == Where::InProcess) com::CoRevokeClass(CLSID_CoStoreProduct);
    std::filesystem::remove(path_);
  }

  std::string path_, url_;
  appserver::DemoSummary demo_;
  std::unique_ptr<testing::ServerUnderTest> remote_;
  std::unique_ptr<TDCOMConnection> dcom_;
  WindowDataSets sets_;
};

TEST_P(RealServerTest, WindowQueriesOpenOnTheDemoDatabase) {
  TClientDataSet& q = *sets_.publicQry;
  // Warehouse lookup.
  q.Close();
  q.SetCommandText(statements::warehouseLookup(demo_.operatorCode));
  q.Open();
  const std::string warehouse = q.FieldByName("CKDM00")->AsString();
  EXPECT_EQ(warehouse, demo_.warehouseCode);
  // Salesperson list.
  q.Close();
  q.SetCommandText(statements::salespersonList(warehouse));
  q.Open();
  EXPECT_EQ(q.RecordCount(), demo_.salespersons);
  ASSERT_FALSE(q.IsEmpty());
  std::string giver = q.FieldByName("RYDM00")->AsString();
  ASSERT_EQ(giver.size(), 4u);
  EXPECT_FALSE(q.FieldByName("rymc00")->AsString().empty());
  q.Close();

  // The working table, then the product query.
  dcom_->CallMethod("m_qadj", {DispatchArg::textRef(giver), DispatchArg::date(kToday)});
  TClientDataSet& products = *sets_.clientDataSet1;
  products.SetCommandText(statements::productQuery());
  products.Open();
  ASSERT_FALSE(products.IsEmpty());
  std::vector<std::string> codes;
  for (products.First(); !products.Eof(); products.Next()) {
    codes.push_back(products.FieldByName("SPDM00")->AsString());
    EXPECT_FALSE(products.FieldByName("SPMC00")->AsString().empty());
    (void)products.FieldByName("KTZXL0")->AsFloat();
  }
  EXPECT_TRUE(std::is_sorted(codes.begin(), codes.end()));

  // The detail of the first product that other salespersons hold a line for.
  TClientDataSet& detail = *sets_.clientDataSet2;
  bool found = false;
  for (const std::string& product : codes) {
    detail.Close();
    detail.SetCommandText(statements::detailQuery(demo_.today, warehouse, giver, product));
    detail.Open();
    if (detail.IsEmpty()) continue;
    found = true;
    for (detail.First(); !detail.Eof(); detail.Next()) {
      EXPECT_NE(detail.FieldByName("FXRY00")->AsString(), giver);
      EXPECT_EQ(detail.FieldByName("SPDM00")->AsString(), product);
      EXPECT_EQ(detail.FieldByName("TZXL00")->AsString(), "0");
    }
    // The only editable field takes a local change.
    detail.First();
    detail.Edit();
    detail.FieldByName("TZXL00")->SetAsFloat(1.5);
    detail.Post();
    EXPECT_EQ(detail.FieldByName("TZXL00")->AsString(), "1.5");
    break;
  }
  EXPECT_TRUE(found);

  // Document lookup and an UPDATE that changes nothing.
  q.SetCommandText(statements::documentLookup(demo_.today));
  q.Open();
  ASSERT_EQ(q.RecordCount(), 1);
  const std::string doc = q.FieldByName("DHAO00")->AsString();
  q.Close();
  q.SetCommandText(statements::increment(Quantity(), doc, giver, "NONE"));
  q.Execute();
  EXPECT_EQ(q.State(), TDataSetState::dsInactive);
}

TEST_P(RealServerTest, ServerErrorsReachTheCallerWithTheirText) {
  TClientDataSet& q = *sets_.publicQry;
  q.SetCommandText("SELECT NOPE FROM NOWHERE");
  try {
    q.Open();
    FAIL() << "no error";
  } catch (const Exception& e) {
    const std::string text = e.what();
    EXPECT_FALSE(text.empty());
    EXPECT_NE(text.back(), '.');
    EXPECT_NE(text.back(), ' ');
  }
  EXPECT_EQ(q.State(), TDataSetState::dsInactive);
  // The data set is usable afterwards.
  q.SetCommandText(statements::warehouseLookup(demo_.operatorCode));
  q.Open();
  EXPECT_FALSE(q.IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Both, RealServerTest, ::testing::Values(Where::InProcess, Where::OverGrpc),
                         [](const auto& param) {
                           return param.param == Where::InProcess ? "InProcess" : "OverGrpc";
                         });

}  // namespace
}  // namespace qadj
