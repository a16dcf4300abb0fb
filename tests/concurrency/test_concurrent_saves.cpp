// Operators saving at the same moment. Eight clients, each on its own thread with its
// own server object reached over gRPC, make 200 quota transfers each among the same
// salespersons and products, with the save block the window builds (the receivers'
// increments in the client's own order, then the giver's decrement), so that blocks
// lock the same lines in opposite orders. Afterwards every quota line must hold its
// first value plus exactly the transfers reported saved, the total must be unchanged,
// every refusal must say why, and no read may ever see half a transfer.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <latch>
#include <random>
#include <thread>

#include "qadj/appserver/dates.h"
#include "qadj/appserver/provider.h"
#include "qadj/protocol/statements.h"
#include "qadj/testing/com_scope.h"
#include "qadj/testing/databases.h"
#include "support/operators.h"

namespace qadj::testing {
namespace {

constexpr int kClients = 8;
constexpr int kSavesPerClient = 200;

struct SaveOutcome {
  Transfer transfer;
  std::optional<std::string> error;  // empty when the server reported the save done
};

struct ClientRun {
  std::vector<SaveOutcome> saves;
  std::vector<std::string> readFaults;  // failed or inconsistent reads after a save
  double slowestSaveMs = 0;
};

// A transfer of client `client`: one product, a giver and one to three receivers in a
// shuffled order, amounts in quarters (exact in binary, so sums compare exactly).
Transfer randomTransfer(std::mt19937& rng) {
  Transfer t;
  t.product = kProducts[std::uniform_int_distribution<std::size_t>(0, kProducts.size() - 1)(rng)];
  std::vector<std::string> people = kSalespersons;
  std::shuffle(people.begin(), people.end(), rng);
  t.giver = people[0];
  const std::size_t receivers = std::uniform_int_distribution<std::size_t>(1, 3)(rng);
  std::uniform_int_distribution<int> quarters(1, 40);
  for (std::size_t i = 1; i <= receivers; ++i)
    t.receivers.emplace_back(people[i], quarters(rng) * 0.25);
  return t;
}

// The quota of a detail (column XL0000) summed.
double quotaOf(const packet::Packet& detail) {
  double sum = 0;
  for (const auto& row : detail.rows) sum += std::get<double>(row.at(4));
  return sum;
}

// One operator: saves, then refreshes as the window does after a save (m_qadj for the
// giver and the product query), and reads the product's total, which no committed or
// half-done transfer may change.
ClientRun runClient(const std::string& address, int client, double productTotal,
                    std::latch& start) {
  ClientRun run;
  const ComScope comScope;
  try {
    Operator op(address);
    std::mt19937 rng(static_cast<unsigned>(7919 * client + 17));
    const double day = appserver::dates::fromCivil(2026, 12, 8);
    start.arrive_and_wait();
    for (int i = 0; i < kSavesPerClient; ++i) {
      SaveOutcome outcome{randomTransfer(rng), std::nullopt};
      const auto begun = std::chrono::steady_clock::now();
      outcome.error = op.execute(saveBlock(outcome.transfer));
      run.slowestSaveMs = std::max(run.slowestSaveMs, std::chrono::duration<double, std::milli>(
                                                          std::chrono::steady_clock::now() - begun)
                                                          .count());
      if (auto e = op.refill(outcome.transfer.giver, day))
        run.readFaults.push_back("m_qadj: " + *e);
      try {
        op.fetch(statements::productQuery());
        // Every salesperson's line of the product, as one detail read sees them (the
        // operator, who holds no line, stands for the giver left out).
        const double total = quotaOf(op.fetch(
            statements::detailQuery("2026-12-08", "01", "0001", outcome.transfer.product)));
        if (total != productTotal)
          run.readFaults.push_back("a read saw the total of " + outcome.transfer.product + " at " +
                                   std::to_string(total));
      } catch (const std::exception& e) {
        run.readFaults.push_back(std::string("fetch: ") + e.what());
      }
      run.saves.push_back(std::move(outcome));
    }
  } catch (const std::exception& e) {
    run.readFaults.push_back(std::string("client stopped: ") + e.what());
  }
  return run;
}

// Texts that tell the operator the save did not happen.
bool clearRefusal(const std::string& text) {
  return text.find("nothing was changed") != std::string::npos ||
         text.find("no statement of the block was applied") != std::string::npos;
}

class ConcurrentSaves : public ::testing::TestWithParam<std::string> {};

TEST_P(ConcurrentSaves, EveryReportedSaveCountsOnceAndTotalsHold) {
  const ComScope comScope;
  TempDir dir;
  const std::string url = freshDatabaseFor(GetParam(), dir);
  if (url.empty()) return;
  auto db = appserver::openDatabase(url);
  seedQuotaLines(*db);
  const auto before = quotaLines(*db);
  ASSERT_EQ(before.size(), kSalespersons.size() * kProducts.size());
  const double productTotal = kFirstQuota * static_cast<double>(kSalespersons.size());

  const auto retriesBefore = appserver::conflictRetries();
  const auto begun = std::chrono::steady_clock::now();
  std::vector<ClientRun> runs(kClients);
  {
    ObjectServer server([url] { return appserver::openDatabase(url); });
    std::latch start(kClients);
    std::vector<std::thread> threads;
    for (int c = 0; c < kClients; ++c)
      threads.emplace_back([&, c] {
        runs[static_cast<std::size_t>(c)] = runClient(server.address(), c, productTotal, start);
      });
    for (auto& t : threads) t.join();
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count();
  const auto retried = appserver::conflictRetries() - retriesBefore;

  auto expected = before;
  int attempted = 0, committed = 0, failed = 0;
  double slowest = 0;
  for (const auto& run : runs) {
    for (const auto& fault : run.readFaults) ADD_FAILURE() << fault;
    slowest = std::max(slowest, run.slowestSaveMs);
    for (const auto& save : run.saves) {
      ++attempted;
      if (save.error) {
        ++failed;
        EXPECT_TRUE(clearRefusal(*save.error)) << "unclear refusal: " << *save.error;
        ADD_FAILURE() << "a save failed because others saved at the same time: " << *save.error;
        continue;
      }
      ++committed;
      for (const auto& [key, delta] : save.transfer.deltas()) expected[key] += delta;
    }
  }
  EXPECT_EQ(attempted, kClients * kSavesPerClient);

  const auto after = quotaLines(*db);
  ASSERT_EQ(after.size(), before.size());
  for (const auto& [key, value] : expected)
    EXPECT_EQ(after.at(key), value)
        << "quota line " << key.first << "/" << key.second << ": a save was lost or counted twice";
  EXPECT_EQ(quotaSum(after), quotaSum(before));

  std::printf(
      "[figures] %s: %d clients, saves attempted %d, committed %d, retried %llu, failed %d; "
      "quota sum before %.2f, after %.2f; slowest save %.0f ms; run %.1f s\n",
      GetParam().c_str(), kClients, attempted, committed, static_cast<unsigned long long>(retried),
      failed, quotaSum(before), quotaSum(after), slowest, seconds);
}

INSTANTIATE_TEST_SUITE_P(Databases, ConcurrentSaves, ::testing::Values("sqlite", "postgresql"),
                         [](const auto& p) { return p.param; });

}  // namespace
}  // namespace qadj::testing
