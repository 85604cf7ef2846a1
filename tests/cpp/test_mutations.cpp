#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "allocation_probe.hpp"
#include "vantrel/pretrade/mutations.hpp"

namespace vantrel {
namespace {

// Records which actions ran and which were released.
struct Journal {
  std::vector<std::string> ran;
  std::vector<std::string> released;
};

// An action that logs its run and its release (run or not).
struct Logged {
  Journal* journal;
  std::string name;
  bool moved_from = false;
  Logged(Journal* j, std::string n) : journal(j), name(std::move(n)) {}
  Logged(Logged&& o) noexcept : journal(o.journal), name(std::move(o.name)) { o.moved_from = true; }
  ~Logged() {
    if (!moved_from) journal->released.push_back(name);
  }
  void operator()() noexcept { journal->ran.push_back(name); }
};

// The same with a payload too large for the inline room.
struct Bulky : Logged {
  std::array<char, 200> payload{};
  using Logged::Logged;
};

Mutations staged(Journal& j, std::initializer_list<const char*> names) {
  Mutations m;
  for (const char* n : names) m.push(Logged(&j, std::string("commit ") + n), Logged(&j, std::string("rollback ") + n));
  return m;
}

TEST(MutationAction, RunsOnceThenIsEmpty) {
  int runs = 0;
  MutationAction a([&runs]() noexcept { ++runs; });
  ASSERT_TRUE(a);
  a.run();
  a.run();
  EXPECT_EQ(runs, 1);
  EXPECT_FALSE(a);
}

TEST(MutationAction, EmptyActionIsANoOp) {
  MutationAction a;
  EXPECT_FALSE(a);
  a.run();
  a.reset();
}

TEST(MutationAction, ReleasedUnrunOnDestruction) {
  Journal j;
  { MutationAction a(Logged(&j, "x")); }
  EXPECT_TRUE(j.ran.empty());
  EXPECT_EQ(j.released, std::vector<std::string>{"x"});
}

TEST(MutationAction, MoveTransfersOwnershipInlineAndBoxed) {
  for (bool bulky : {false, true}) {
    Journal j;
    MutationAction a = bulky ? MutationAction(Bulky(&j, "x")) : MutationAction(Logged(&j, "x"));
    MutationAction b(std::move(a));
    EXPECT_FALSE(a);
    MutationAction c;
    c = std::move(b);
    EXPECT_FALSE(b);
    EXPECT_TRUE(j.released.empty()) << bulky;
    c.run();
    EXPECT_EQ(j.ran, std::vector<std::string>{"x"}) << bulky;
    EXPECT_EQ(j.released, std::vector<std::string>{"x"}) << bulky;
  }
}

TEST(MutationAction, AssigningOverAnActionReleasesTheOldOne) {
  Journal j;
  MutationAction a(Logged(&j, "old"));
  a = MutationAction(Logged(&j, "new"));
  EXPECT_EQ(j.released, std::vector<std::string>{"old"});
  a.run();
  EXPECT_EQ(j.ran, std::vector<std::string>{"new"});
}

TEST(Mutations, CommitRunsFirstToLastAndNeverARollback) {
  Journal j;
  Mutations m = staged(j, {"A", "B", "C"});
  m.commit();
  EXPECT_EQ(j.ran, (std::vector<std::string>{"commit A", "commit B", "commit C"}));
  EXPECT_TRUE(m.empty());
  // Every action of every pair was released exactly once.
  EXPECT_EQ(j.released.size(), 6u);
}

TEST(Mutations, RollbackRunsLastToFirstAndNeverACommit) {
  Journal j;
  Mutations m = staged(j, {"A", "B", "C"});
  m.rollback();
  EXPECT_EQ(j.ran, (std::vector<std::string>{"rollback C", "rollback B", "rollback A"}));
  EXPECT_EQ(j.released.size(), 6u);
}

TEST(Mutations, FinalisingConsumesTheList) {
  Journal j;
  Mutations m = staged(j, {"A"});
  m.commit();
  m.rollback();
  m.commit();
  EXPECT_EQ(j.ran, std::vector<std::string>{"commit A"});
}

TEST(Mutations, EmptyListFinalisesWithoutEffect) {
  Mutations a, b;
  a.commit();
  b.rollback();
  EXPECT_TRUE(a.empty());
  EXPECT_TRUE(b.empty());
}

// An action that calls back into the host (a Python callable, in the binding).
struct HostCall : Logged {
  static constexpr bool kCallsHost = true;
  using Logged::Logged;
};

// On a thread that may no longer call the host, a list holding a host action
// runs none of its actions, the built-ins' included, and releases them all;
// a list of built-ins alone runs whole there. Elsewhere host actions run.
TEST(Mutations, HostActionsRunWithTheirListOrNoneOfItRuns) {
  struct Case {
    bool refused;
    bool with_host;
    bool commit;
    std::vector<std::string> ran;
  };
  const std::vector<Case> cases = {
      {false, true, true, {"commit A", "commit host", "commit C"}},
      {false, true, false, {"rollback C", "rollback host", "rollback A"}},
      {true, true, true, {}},
      {true, true, false, {}},
      {true, false, true, {"commit A", "commit C"}},
      {true, false, false, {"rollback C", "rollback A"}},
  };
  for (const Case& c : cases) {
    Journal j;
    {
      Mutations m;
      m.push(Logged(&j, "commit A"), Logged(&j, "rollback A"));
      if (c.with_host) m.push(HostCall(&j, "commit host"), HostCall(&j, "rollback host"));
      m.push(Logged(&j, "commit C"), Logged(&j, "rollback C"));
      t_host_calls_refused = c.refused;
      c.commit ? m.commit() : m.rollback();
      t_host_calls_refused = false;
      EXPECT_TRUE(m.empty());
    }
    EXPECT_EQ(j.ran, c.ran) << c.refused << c.with_host << c.commit;
    EXPECT_EQ(j.released.size(), c.with_host ? 6u : 4u);
  }
  // A list released unfinalised on such a thread runs nothing either.
  Journal j;
  t_host_calls_refused = true;
  {
    Mutations m;
    m.push(Logged(&j, "commit A"), Logged(&j, "rollback A"));
    m.push(HostCall(&j, "commit host"), HostCall(&j, "rollback host"));
  }
  t_host_calls_refused = false;
  EXPECT_TRUE(j.ran.empty());
  EXPECT_EQ(j.released.size(), 4u);
}

TEST(Mutations, ReleasedUnfinalisedRollsBack) {
  // A stage that ends early (a throw) drops its list: its changes are undone.
  Journal j;
  { Mutations m = staged(j, {"A", "B"}); }
  EXPECT_EQ(j.ran, (std::vector<std::string>{"rollback B", "rollback A"}));
  EXPECT_EQ(j.released.size(), 4u);
  // So is a list assigned over, before it takes the other's pairs; a list
  // moved out of is empty and undoes nothing.
  j = {};
  Mutations kept = staged(j, {"C"});
  Mutations source = staged(j, {"D"});
  kept = std::move(source);
  EXPECT_EQ(j.ran, std::vector<std::string>{"rollback C"});
  { Mutations gone = std::move(kept); }
  EXPECT_EQ(j.ran, (std::vector<std::string>{"rollback C", "rollback D"}));
}

TEST(Mutations, OrderHoldsPastTheInlineRoom) {
  // Ten pairs spill to the heap; the order must not change when they move.
  Journal j;
  Mutations m;
  std::vector<std::string> expected;
  for (int i = 0; i < 10; ++i) {
    m.push(i % 3 == 0 ? MutationAction(Bulky(&j, "c" + std::to_string(i))) : MutationAction(Logged(&j, "c" + std::to_string(i))),
           Logged(&j, "r" + std::to_string(i)));
  }
  Mutations moved = std::move(m);
  moved.rollback();
  for (int i = 9; i >= 0; --i) expected.push_back("r" + std::to_string(i));
  EXPECT_EQ(j.ran, expected);
}

TEST(Mutations, AnActionThatReachesItsOwnListFindsItEmpty) {
  Mutations m;
  std::size_t seen = 99;
  m.push([&m, &seen]() noexcept { seen = m.size(); }, MutationAction());
  m.push(MutationAction(), MutationAction());
  m.commit();
  EXPECT_EQ(seen, 0u);
}

TEST(Mutations, PairsStagedWhileFinalisingStayForTheNextRound) {
  // An action that stages into its own list lands in fresh storage: the pairs
  // being walked (inline or spilled) are each finalised once, the new one stays.
  for (int count : {2, 6}) {
    for (bool commit : {true, false}) {
      Journal j;
      Mutations m;
      for (int i = 0; i < count; ++i) {
        auto restage = [&j, &m]() noexcept { m.push(Logged(&j, "late commit"), Logged(&j, "late rollback")); };
        if (i == 0)
          commit ? m.push(restage, MutationAction()) : m.push(MutationAction(), restage);
        else
          m.push(Logged(&j, "commit " + std::to_string(i)), Logged(&j, "rollback " + std::to_string(i)));
      }
      commit ? m.commit() : m.rollback();
      EXPECT_EQ(j.ran.size(), static_cast<std::size_t>(count - 1)) << count << commit;
      ASSERT_EQ(m.size(), 1u) << count << commit;
      m.commit();
      EXPECT_EQ(j.ran.back(), "late commit") << count << commit;
      EXPECT_TRUE(m.empty());
    }
  }
}

TEST(Mutations, AFinalisedListTakesNewPairsWithoutAllocating) {
  // Inline and spilled lists alike get their inline room back once drained.
  for (bool commit : {true, false}) {
    for (std::size_t staged : {std::size_t{1}, Mutations::kInlineRoom, Mutations::kInlineRoom + 3}) {
      int ran = 0;
      Mutations m;
      for (std::size_t i = 0; i < staged; ++i) m.push([&ran]() noexcept { ++ran; }, [&ran]() noexcept { --ran; });
      commit ? m.commit() : m.rollback();
      const long before = thread_allocations();
      for (std::size_t i = 0; i < Mutations::kInlineRoom; ++i)
        m.push([&ran]() noexcept { ran += 10; }, MutationAction());
      EXPECT_EQ(thread_allocations() - before, 0) << commit << " " << staged;
      m.commit();
      EXPECT_EQ(ran, (commit ? 1 : -1) * static_cast<int>(staged) + 10 * static_cast<int>(Mutations::kInlineRoom));
    }
  }
}

// An undo staged after its change is built from the argument in a noexcept call:
// an argument whose construction may throw (an lvalue with a throwing copy) or
// that does not fit inline is refused at compile time.
struct ThrowingCopy {
  ThrowingCopy() = default;
  ThrowingCopy(const ThrowingCopy&) noexcept(false) {}
  ThrowingCopy(ThrowingCopy&&) noexcept {}
  void operator()() noexcept {}
};
struct QuietCopy {
  void operator()() noexcept {}
};
struct TooBig {
  std::array<char, MutationAction::kInlineSize + 1> payload{};
  void operator()() noexcept {}
};
template <class Arg>
constexpr bool kStageableAfterChange = requires(Mutations& m, Arg&& a) { m.push_reserved_undo(std::forward<Arg>(a)); };
static_assert(kStageableAfterChange<ThrowingCopy>);
static_assert(!kStageableAfterChange<ThrowingCopy&>);
static_assert(!kStageableAfterChange<const ThrowingCopy&>);
static_assert(kStageableAfterChange<QuietCopy&>);
static_assert(!kStageableAfterChange<TooBig>);

TEST(Mutations, AReservedUndoIsBuiltInItsSlotAndRunsOnRollback) {
  Journal j;
  Mutations m;
  m.reserve_more(1);
  const long before = thread_allocations();
  m.push_reserved_undo([&j]() noexcept { j.ran.push_back("undo"); });
  EXPECT_EQ(thread_allocations() - before, 0);
  m.rollback();
  EXPECT_EQ(j.ran, std::vector<std::string>{"undo"});
}

}  // namespace
}  // namespace vantrel
