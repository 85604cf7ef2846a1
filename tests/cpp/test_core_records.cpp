#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "allocation_probe.hpp"
#include "allocation_refusal.hpp"
#include "decimal_test_util.hpp"
#include "vantrel/core/account_adjustment.hpp"
#include "vantrel/core/execution_report.hpp"
#include "vantrel/core/order.hpp"
#include "vantrel/core/source_ref.hpp"

// Counts this thread's allocations, so a test can tell that copying a record
// allocated nothing.
namespace {
thread_local long t_allocations = 0;
}

namespace vantrel::testing {
thread_local int t_refused_allocations = 0;
thread_local int t_allocations_before_refusal = 0;
}  // namespace vantrel::testing

namespace {
bool refuse_this_allocation() noexcept {
  using namespace vantrel::testing;
  if (t_refused_allocations <= 0) return false;
  if (t_allocations_before_refusal > 0) {
    --t_allocations_before_refusal;
    return false;
  }
  --t_refused_allocations;
  return true;
}
}  // namespace

// These forward to malloc/free as the default ones do.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  if (refuse_this_allocation()) throw std::bad_alloc();
  ++t_allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, std::align_val_t align) {
  if (refuse_this_allocation()) throw std::bad_alloc();
  ++t_allocations;
  const std::size_t alignment = static_cast<std::size_t>(align);
  if (void* p = std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

long thread_allocations() noexcept { return t_allocations; }

namespace vantrel {
namespace {

using testing::dec;

// A stand-in host object: counts how often it was released, and where.
struct Host {
  int releases = 0;
  std::thread::id released_on;
};

void release_host(void* object) noexcept {
  Host* host = static_cast<Host*>(object);
  ++host->releases;
  host->released_on = std::this_thread::get_id();
}

SourceRef source_of(Host& host) { return SourceRef(&host, &release_host); }

TEST(SourceRef, ReleasesOnceWhateverPathItTakes) {
  struct Path {
    const char* name;
    void (*run)(Host&);
  };
  const Path paths[] = {
      {"destroyed", [](Host& h) { SourceRef s = source_of(h); }},
      {"reset", [](Host& h) {
         SourceRef s = source_of(h);
         s.reset();
         s.reset();
       }},
      {"moved then both destroyed", [](Host& h) {
         SourceRef a = source_of(h);
         SourceRef b(std::move(a));
         EXPECT_FALSE(a);
         EXPECT_EQ(b.get(), &h);
       }},
      {"move-assigned onto an empty handle", [](Host& h) {
         SourceRef a = source_of(h);
         SourceRef b;
         b = std::move(a);
       }},
      {"self move-assigned", [](Host& h) {
         SourceRef a = source_of(h);
         SourceRef& alias = a;
         a = std::move(alias);
         EXPECT_EQ(a.get(), &h);
       }},
  };
  for (const Path& path : paths) {
    Host host;
    path.run(host);
    EXPECT_EQ(host.releases, 1) << path.name;
  }
}

TEST(SourceRef, AssigningReleasesTheObjectHeldBefore) {
  Host first, second;
  SourceRef s = source_of(first);
  s = source_of(second);
  EXPECT_EQ(first.releases, 1);
  EXPECT_EQ(second.releases, 0);
  s = SourceRef();
  EXPECT_EQ(second.releases, 1);
}

TEST(SourceRef, ReleasedOnTheThreadThatDropsTheRecord) {
  Host host;
  OrderRecord record;
  record.source = source_of(host);
  std::thread worker([moved = std::move(record)]() mutable { moved = OrderRecord(); });
  const std::thread::id worker_id = worker.get_id();
  worker.join();
  EXPECT_EQ(host.releases, 1);
  EXPECT_EQ(host.released_on, worker_id);
}

OrderRecord::Operation limit_operation(const char* underlying, const char* settlement) {
  OrderRecord::Operation operation;
  operation.instrument = Instrument{*Asset::from_text(underlying), *Asset::from_text(settlement)};
  operation.account_id = AccountId{7};
  operation.side = Side::Buy;
  operation.trade_amount = TradeAmount::of_quantity(Quantity{dec("1.5")});
  operation.price = Price{dec("101.25")};
  return operation;
}

// The engine copies order parts per order; asset names up to 15 bytes must not
// reach the heap.
TEST(OrderRecord, CopyingPartsWithShortAssetNamesAllocatesNothing) {
  const OrderRecord::Operation operation = limit_operation("ABCDEFGHIJKLMNO", "USD");  // 15 bytes
  OrderRecord::Margin margin;
  margin.collateral_asset = *Asset::from_text("USDT");
  margin.leverage = Leverage{100};

  const long before = t_allocations;
  OrderRecord record;
  record.operation = operation;
  record.margin = margin;
  record.position = OrderRecord::Position{PositionSide::Long, true, false};
  OrderRecord moved = std::move(record);
  EXPECT_EQ(t_allocations, before);

  EXPECT_EQ(moved.operation->instrument->underlying_asset.name(), "ABCDEFGHIJKLMNO");
  EXPECT_EQ(moved.margin->collateral_asset->name(), "USDT");
  EXPECT_EQ(moved.margin->leverage->tenths, 100);
  EXPECT_TRUE(moved.position->reduce_only);
}

// The counter itself works: a 16-byte name does allocate.
TEST(OrderRecord, LongAssetNamesAreStillCopiedWhole) {
  const OrderRecord::Operation operation = limit_operation("ABCDEFGHIJKLMNOP", "USD");
  const long before = t_allocations;
  OrderRecord::Operation copy = operation;
  EXPECT_GT(t_allocations, before);
  EXPECT_EQ(copy.instrument->underlying_asset.name(), "ABCDEFGHIJKLMNOP");
}

TEST(OrderRecord, DefaultPartsAreAbsentAndFlagsFalse) {
  const OrderRecord record;
  EXPECT_FALSE(record.operation || record.position || record.margin || record.source);
  const OrderRecord::Position position;
  EXPECT_FALSE(position.position_side || position.reduce_only || position.close_position);
  const OrderRecord::Margin margin;
  EXPECT_FALSE(margin.leverage || margin.collateral_asset || margin.auto_borrow);
}

TEST(AccountAdjustmentRecord, OperationKindIsReadThroughItsAccessors) {
  AccountAdjustmentRecord record;
  EXPECT_EQ(record.balance_operation(), nullptr);
  EXPECT_EQ(record.position_operation(), nullptr);

  record.operation = AccountAdjustmentRecord::BalanceOperation{*Asset::from_text("USD"), Price{dec("2")}};
  ASSERT_NE(record.balance_operation(), nullptr);
  EXPECT_EQ(record.balance_operation()->asset->name(), "USD");
  EXPECT_EQ(record.position_operation(), nullptr);

  AccountAdjustmentRecord::PositionOperation position;
  position.mode = PositionMode::Hedged;
  record.operation = position;
  EXPECT_EQ(record.balance_operation(), nullptr);
  ASSERT_NE(record.position_operation(), nullptr);
  EXPECT_EQ(record.position_operation()->mode, PositionMode::Hedged);
}

TEST(AccountAdjustmentRecord, AnEmptyPartIsDistinctFromAnAbsentOne) {
  AccountAdjustmentRecord record;
  EXPECT_FALSE(record.amount.has_value());
  record.amount.emplace();
  record.bounds.emplace();
  EXPECT_TRUE(record.amount.has_value());
  EXPECT_FALSE(record.amount->balance || record.amount->held || record.amount->incoming);
  EXPECT_FALSE(record.bounds->balance_lower.has_value());
}

TEST(AccountAdjustmentRecord, BatchesMoveWithoutReleasingEarly) {
  std::vector<Host> hosts(20);
  {
    std::vector<AccountAdjustmentRecord> batch;
    for (Host& host : hosts) {
      AccountAdjustmentRecord record;
      record.source = source_of(host);
      batch.push_back(std::move(record));  // regrowth moves the records already there
    }
    for (const Host& host : hosts) EXPECT_EQ(host.releases, 0);
  }
  for (const Host& host : hosts) EXPECT_EQ(host.releases, 1);
}

// A report's fill carries a whole copy of the lock; a typical lock (one default
// price, a section or two) copies without touching the heap.
TEST(ExecutionReportRecord, FillCopiesTheWholeLock) {
  ExecutionReportRecord::Fill fill;
  fill.lock.push_price(0, dec("1.50"));
  fill.lock.push_price(7, dec("2"));
  fill.last_trade = Trade{Price{dec("10")}, Quantity{dec("3")}};
  fill.is_final = false;

  const long before = t_allocations;
  ExecutionReportRecord record;
  record.fill = fill;
  record.financial_impact = ExecutionReportRecord::FinancialImpact{Pnl{dec("-1")}, Fee{dec("0.01")}};
  EXPECT_EQ(t_allocations, before);

  fill.lock.push_price(0, dec("3"));  // the original changes; the copy does not
  ASSERT_TRUE(record.fill.has_value());
  EXPECT_EQ(record.fill->lock.size(), 2u);
  EXPECT_EQ(format_lock(record.fill->lock), "Lock([(0, 1.50), (7, 2)])");
  EXPECT_EQ(record.fill->is_final, std::optional<bool>(false));
  EXPECT_FALSE(record.operation || record.position_impact);
}

TEST(ExecutionReportRecord, MovingKeepsTheSourceAndTheLock) {
  Host host;
  {
    ExecutionReportRecord record;
    record.source = source_of(host);
    record.fill.emplace().lock.push_price(3, dec("5"));
    ExecutionReportRecord moved = std::move(record);
    EXPECT_EQ(moved.source.get(), &host);
    EXPECT_EQ(format_lock(moved.fill->lock), "Lock([(3, 5)])");
    EXPECT_EQ(host.releases, 0);
  }
  EXPECT_EQ(host.releases, 1);
}

}  // namespace
}  // namespace vantrel
