#pragma once
// Staged changes of one main stage or one account-adjustment batch: pairs of
// one-shot actions (commit, rollback) in the order the policies staged them.
// Exactly one side of every pair ever runs: all commits first to last, or all
// rollbacks last to first, so a change resting on an earlier one is undone first
// (or neither side of any pair, on a thread that may no longer call the host).
// A list released while it still holds pairs rolls them back: a stage that
// ends early (a throw, an allocation that fails) keeps none of its changes.
// Not thread-safe: owned by one stage, then by one reservation.
#include <cstddef>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

#include "vantrel/core/inline_vector.hpp"

namespace vantrel {

// Set on a thread that may no longer call back into the host (a thread the
// host's runtime is ending): the host's actions cannot run there. A list
// holding one is then released whole, unrun, rather than run without it, so
// the host's changes and the built-ins' never part (see Mutations).
inline thread_local bool t_host_calls_refused __attribute__((tls_model("initial-exec"))) = false;

// A move-only action that runs at most once. Callables up to kInlineSize bytes
// live inside the action; larger ones are boxed on the heap (so an undo staged
// after its change must fit inline: see Mutations::push_reserved_undo). An empty action
// does nothing. Actions cannot fail towards the engine: one that can fail
// reports on its own terms (a block, a parked exception).
class MutationAction {
 public:
  // Room for the largest undo a built-in policy stages (a funds hold's, with
  // its exact amount and a stage's own block registry).
  static constexpr std::size_t kInlineSize = 96;

  MutationAction() noexcept = default;

  template <class F>
    requires(!std::is_same_v<std::remove_cvref_t<F>, MutationAction> && std::is_invocable_v<std::decay_t<F>&>)
  MutationAction(F&& f) {  // NOLINT: implicit, so a lambda can be staged as it is
    using Fn = std::decay_t<F>;
    static_assert(std::is_nothrow_invocable_v<Fn&>, "a mutation action must be noexcept");
    if constexpr (fits_inline<Fn>()) {
      ::new (static_cast<void*>(storage_)) Fn(std::forward<F>(f));
      ops_ = &kInlineOps<Fn>;
    } else {
      Fn* boxed = new Fn(std::forward<F>(f));
      ::new (static_cast<void*>(storage_)) Fn*(boxed);
      ops_ = &kBoxedOps<Fn>;
    }
  }

  MutationAction(MutationAction&& other) noexcept : ops_(other.ops_) {
    if (ops_ != nullptr) {
      ops_->relocate(storage_, other.storage_);
      other.ops_ = nullptr;
    }
  }
  MutationAction& operator=(MutationAction&& other) noexcept {
    if (this != &other) {
      reset();
      if (other.ops_ != nullptr) {
        other.ops_->relocate(storage_, other.storage_);
        ops_ = std::exchange(other.ops_, nullptr);
      }
    }
    return *this;
  }
  MutationAction(const MutationAction&) = delete;
  MutationAction& operator=(const MutationAction&) = delete;
  // Released unrun.
  ~MutationAction() { reset(); }

  explicit operator bool() const noexcept { return ops_ != nullptr; }
  // Whether it calls back into the host: its callable declares
  // `static constexpr bool kCallsHost = true`.
  bool calls_host() const noexcept { return ops_ != nullptr && ops_->calls_host; }

  // Whether a callable of type Fn is kept inside the action: building such an
  // action allocates nothing, and moving it cannot fail (building it from an
  // lvalue copies, which may: see ReservedUndo).
  template <class Fn>
  static constexpr bool fits_inline() {
    return sizeof(Fn) <= kInlineSize && alignof(Fn) <= alignof(std::max_align_t) &&
           std::is_nothrow_move_constructible_v<Fn>;
  }

  // Runs the action, then releases it; the action is empty afterwards.
  void run() noexcept {
    if (ops_ == nullptr) return;
    const Ops* ops = std::exchange(ops_, nullptr);
    ops->run_and_destroy(storage_);
  }

  // Releases the action unrun.
  void reset() noexcept {
    if (ops_ == nullptr) return;
    const Ops* ops = std::exchange(ops_, nullptr);
    ops->destroy(storage_);
  }

 private:
  struct Ops {
    void (*run_and_destroy)(void*) noexcept;
    void (*destroy)(void*) noexcept;
    void (*relocate)(void* dst, void* src) noexcept;
    bool calls_host;
  };

  template <class Fn>
  static constexpr bool kCallsHostOf = requires { requires Fn::kCallsHost; };

  template <class Fn>
  static Fn* as(void* p) noexcept {
    return std::launder(static_cast<Fn*>(p));
  }

  template <class Fn>
  static constexpr Ops kInlineOps{
      [](void* p) noexcept {
        Fn* fn = as<Fn>(p);
        // Destroyed even if the call reports a failure of its own.
        struct Destroy {
          Fn* fn;
          ~Destroy() { std::destroy_at(fn); }
        } destroy{fn};
        (*fn)();
      },
      [](void* p) noexcept { std::destroy_at(as<Fn>(p)); },
      [](void* dst, void* src) noexcept {
        Fn* from = as<Fn>(src);
        ::new (dst) Fn(std::move(*from));
        std::destroy_at(from);
      },
      kCallsHostOf<Fn>,
  };

  template <class Fn>
  static constexpr Ops kBoxedOps{
      [](void* p) noexcept {
        Fn* fn = *as<Fn*>(p);
        struct Destroy {
          Fn* fn;
          ~Destroy() { delete fn; }
        } destroy{fn};
        (*fn)();
      },
      [](void* p) noexcept { delete *as<Fn*>(p); },
      [](void* dst, void* src) noexcept { ::new (dst) Fn*(*as<Fn*>(src)); },
      kCallsHostOf<Fn>,
  };

  alignas(std::max_align_t) unsigned char storage_[kInlineSize];
  const Ops* ops_ = nullptr;
};

// What Mutations::push_reserved_undo accepts: an undo kept inside its action,
// built there from the argument (moved from an rvalue, copied from an lvalue)
// by a constructor that cannot throw.
template <class Arg>
concept ReservedUndo = MutationAction::fits_inline<std::decay_t<Arg>>() &&
                       std::is_nothrow_constructible_v<std::decay_t<Arg>, Arg>;

struct Mutation {
  // Each action is built straight from what it is given (an undo lands in its slot
  // without a move); spelled out because not every compiler builds aggregates from parentheses.
  template <class Commit, class Rollback>
  Mutation(Commit&& commit_action, Rollback&& rollback_action)
      : commit(std::forward<Commit>(commit_action)), rollback(std::forward<Rollback>(rollback_action)) {}

  MutationAction commit;
  MutationAction rollback;
};

class Mutations {
 public:
  // Room for one mutation per policy of a typical engine before the list allocates.
  static constexpr std::size_t kInlineRoom = 4;

  Mutations() noexcept = default;
  Mutations(Mutations&&) noexcept = default;
  Mutations& operator=(Mutations&& other) noexcept {
    if (this != &other) {
      rollback();
      items_ = std::move(other.items_);
    }
    return *this;
  }
  Mutations(const Mutations&) = delete;
  Mutations& operator=(const Mutations&) = delete;
  // Released unfinalised (the stage did not complete, or the reservation was
  // dropped open): rolled back. A list that was committed, rolled back or
  // moved into a reservation is empty and does nothing here.
  ~Mutations() { rollback(); }

  void push(MutationAction commit, MutationAction rollback) {
    items_.emplace_back(std::move(commit), std::move(rollback));
  }
  // Room for `count` more pairs; throws std::bad_alloc with nothing changed.
  void reserve_more(std::size_t count) { items_.reserve_more(count); }

  // Stages the undo of a change already made, with nothing to commit. Cannot
  // fail: the room was taken by reserve_more() before the change, and the undo
  // is built inside its action from the argument by a constructor that cannot
  // throw (ReservedUndo: an lvalue whose copy may throw is refused at compile
  // time). So a change is never left without its undo.
  template <ReservedUndo Undo>
  void push_reserved_undo(Undo&& undo) noexcept {
    // A missing reserve_more() is a programming error: growing here may throw,
    // which ends the process rather than keep a change without its undo.
    // The undo is built in its slot, never relocated into it.
    items_.emplace_back(MutationAction(), std::forward<Undo>(undo));
  }
  std::size_t size() const noexcept { return items_.size(); }
  bool empty() const noexcept { return items_.empty(); }

  // First staged first: each commit runs, its rollback is released unrun.
  // The list is detached before the walk (in place, nothing relocated), so an
  // action that reaches this list again finds it empty. On a thread that may
  // no longer call the host, a list holding a host action runs nothing.
  void commit() noexcept {
    if (items_.empty()) return;
    if (t_host_calls_refused && calls_host()) [[unlikely]]
      return release_unrun();
    items_.drain(false, [](Mutation& m) noexcept {
      m.commit.run();
      m.rollback.reset();
    });
  }

  // Last staged first: each rollback runs, its commit is released unrun.
  void rollback() noexcept {
    if (items_.empty()) return;
    if (t_host_calls_refused && calls_host()) [[unlikely]]
      return release_unrun();
    items_.drain(true, [](Mutation& m) noexcept {
      m.rollback.run();
      m.commit.reset();
    });
  }

 private:
  bool calls_host() const noexcept {
    for (const Mutation& m : items_)
      if (m.commit.calls_host() || m.rollback.calls_host()) return true;
    return false;
  }
  void release_unrun() noexcept {
    items_.drain(true, [](Mutation& m) noexcept {
      m.rollback.reset();
      m.commit.reset();
    });
  }

  InlineVector<Mutation, kInlineRoom> items_;
};

}  // namespace vantrel
