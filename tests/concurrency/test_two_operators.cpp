// Several operators (windows, each with its own server object) giving from one giver's
// quota of one product at the same time. Each window checks the total against the
// adjustable quantity it read when the product was clicked; only the server sees the
// line as it is when a save runs, so the server must hold the limit: the giver's
// quota never falls below what the giver has sold, whatever the timing.
#include <gtest/gtest.h>

#include <latch>
#include <random>
#include <thread>

#include "qadj/appserver/costore_product.h"
#include "qadj/appserver/save_record.h"
#include "qadj/protocol/save_request.h"
#include "qadj/protocol/statements.h"
#include "qadj/testing/com_scope.h"
#include "qadj/testing/databases.h"
#include "qadj/testing/shorthand.h"
#include "support/operators.h"

namespace qadj::testing {
namespace {

const std::string kGiver = "0011";
const std::string kProduct = "P001";

enum class Reach { InProcess, Grpc };

struct Setup {
  Reach reach;
  std::string dialect;
};

std::string setupName(const ::testing::TestParamInfo<Setup>& info) {
  return (info.param.reach == Reach::Grpc ? "Grpc_" : "InProcess_") + info.param.dialect;
}

class Giving : public ::testing::TestWithParam<Setup> {
 protected:
  void SetUp() override {
    url_ = freshDatabaseFor(GetParam().dialect, dir_);
    if (url_.empty()) return;
    db_ = appserver::openDatabase(url_);
    seedQuotaLines(*db_);
    if (GetParam().reach == Reach::Grpc)
      server_ =
          std::make_unique<ObjectServer>([url = url_] { return appserver::openDatabase(url); });
  }

  // Records a sale of the giver's product on the quota day that leaves `adjustable`
  // of the giver's quota to give.
  void sellAllBut(double adjustable) {
    db_->execute(
        "INSERT INTO XSTFXDD0 (DHAO00, HH0000, FXRY00, SPDM00, XSSL00, XSRQ00)"
        " VALUES ('S1', 1, $1, $2, $3, '2026-12-08 10:00:00')",
        {kGiver, kProduct, kFirstQuota - adjustable});
  }

  // A new operator with its own server object, in this process or over gRPC. Over
  // gRPC it is used on the calling thread, which must have called com::CoInitialize.
  std::unique_ptr<Operator> newOperator() const {
    if (server_) return std::make_unique<Operator>(server_->address());
    return std::make_unique<Operator>(
        com::interface_cast<com::IDispatch>(appserver::createCoStoreProduct(url_)));
  }

  // Runs body(operator, index) on `count` threads at once, each with its own operator.
  template <class Body>
  void together(int count, Body body) const {
    std::latch start(count);
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i)
      threads.emplace_back([&, i] {
        const ComScope comScope;
        auto op = newOperator();
        start.arrive_and_wait();
        body(*op, i);
      });
    for (auto& t : threads) t.join();
  }

  double line(const std::string& salesperson) {
    return quotaLines(*db_).at({salesperson, kProduct});
  }

  const ComScope comScope_;
  TempDir dir_;
  std::string url_;
  std::unique_ptr<appserver::Database> db_;
  std::unique_ptr<ObjectServer> server_;
};

TEST_P(Giving, TwoWindowsGivingTwentyOfThirtyAtOnceApplyOne) {
  sellAllBut(30);
  const double sumBefore = quotaSum(quotaLines(*db_));
  std::optional<std::string> outcome[2];
  const std::string receiver[2] = {"0012", "0013"};
  together(2, [&](Operator& op, int i) {
    outcome[i] = op.execute(saveBlock({kProduct, kGiver, {{receiver[i], 20}}}));
  });
  ASSERT_NE(outcome[0].has_value(), outcome[1].has_value())
      << "both or neither applied: " << outcome[0].value_or("applied") << " / "
      << outcome[1].value_or("applied");
  const int applied = outcome[0] ? 1 : 0;
  EXPECT_EQ(*outcome[1 - applied], kOverLimitText);
  EXPECT_EQ(line(kGiver), kFirstQuota - 20);
  EXPECT_EQ(line(receiver[applied]), kFirstQuota + 20);
  EXPECT_EQ(line(receiver[1 - applied]), kFirstQuota);
  EXPECT_EQ(quotaSum(quotaLines(*db_)), sumBefore);
  EXPECT_EQ(appserver::readJournal(*db_, {}).size(), 1u);
}

TEST_P(Giving, ADecreasePastTheLimitSentStraightChangesNothing) {
  sellAllBut(30);
  const auto before = quotaLines(*db_);
  auto op = newOperator();
  // The statements one by one, as a client of the original design sends them: each is
  // checked as a save of its own (a lone increment has no giver: its refusal names the
  // salesperson it would take below what they sold).
  for (const auto& [sql, refusal] :
       {std::pair{saveBlock({kProduct, kGiver, {{"0012", 60}, {"0013", 40}}}),
                  std::string(kOverLimitText)},
        {statements::decrement(q(100), "D1", kGiver, kProduct), kOverLimitText},
        {statements::increment(q(-31), "D1", kGiver, kProduct),
         "访销员 0011 S0011 的限量最多还能调回 30.00，这次要调回 31.00，没有修改任何限量"}})
    EXPECT_EQ(op->execute(sql), std::optional<std::string>(refusal)) << sql;
  EXPECT_EQ(quotaLines(*db_), before);
  EXPECT_EQ(op->execute(saveBlock({kProduct, kGiver, {{"0012", 30}}})), std::nullopt);
  EXPECT_EQ(line(kGiver), kFirstQuota - 30);
}

TEST_P(Giving, EightOperatorsNeverGiveMoreThanIsLeft) {
  constexpr int kOperators = 8, kSaves = 100;
  constexpr double kAdjustable = 600;
  sellAllBut(kAdjustable);
  const double sumBefore = quotaSum(quotaLines(*db_));
  struct Save {
    Transfer transfer;
    std::optional<std::string> error;
  };
  std::vector<std::vector<Save>> saves(kOperators);
  together(kOperators, [&](Operator& op, int i) {
    std::mt19937 rng(static_cast<unsigned>(104729 * i + 3));
    std::vector<std::string> others(kSalespersons.begin() + 1, kSalespersons.end());
    for (int n = 0; n < kSaves; ++n) {
      std::shuffle(others.begin(), others.end(), rng);
      Transfer t{kProduct, kGiver, {}};
      const auto receivers = std::uniform_int_distribution<std::size_t>(1, 3)(rng);
      for (std::size_t r = 0; r < receivers; ++r)  // quarters: sums compare exactly
        t.receivers.emplace_back(others[r], std::uniform_int_distribution<int>(1, 40)(rng) * 0.25);
      auto error = op.execute(saveBlock(t));
      saves[static_cast<std::size_t>(i)].push_back({std::move(t), std::move(error)});
    }
  });

  auto expected = quotaLines(*db_);
  for (auto& [key, value] : expected) value = kFirstQuota;
  double given = 0, smallestRefused = kAdjustable;
  int refused = 0;
  for (const auto& run : saves)
    for (const auto& save : run) {
      const double total = -save.transfer.deltas().at({kGiver, kProduct});
      if (save.error) {
        ++refused;
        EXPECT_EQ(*save.error, kOverLimitText);
        smallestRefused = std::min(smallestRefused, total);
        continue;
      }
      given += total;
      for (const auto& [key, delta] : save.transfer.deltas()) expected[key] += delta;
    }
  EXPECT_EQ(quotaLines(*db_), expected) << "a line does not hold the saves reported applied";
  EXPECT_EQ(quotaSum(quotaLines(*db_)), sumBefore);
  EXPECT_LE(given, kAdjustable) << "the giver's quota fell below what the giver sold";
  EXPECT_GT(refused, 0);
  // What is left only shrinks, so every refused amount was more than is left now.
  EXPECT_LT(kAdjustable - given, smallestRefused);
}

INSTANTIATE_TEST_SUITE_P(Setups, Giving,
                         ::testing::Values(Setup{Reach::InProcess, "sqlite"},
                                           Setup{Reach::Grpc, "sqlite"},
                                           Setup{Reach::InProcess, "postgresql"},
                                           Setup{Reach::Grpc, "postgresql"}),
                         setupName);

}  // namespace
}  // namespace qadj::testing
