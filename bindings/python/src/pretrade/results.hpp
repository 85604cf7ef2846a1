#pragma once
// The result records of vantrel.pretrade, made from core values by the engine's
// entry points. Call with the interpreter lock held.
#include <cstdint>
#include <vector>

#include "toolkit/ref.hpp"
#include "vantrel/core/account_block.hpp"
#include "vantrel/core/outcome.hpp"
#include "vantrel/core/reject.hpp"

namespace vantrel::py {

// A refused stage carries its rejects; a passed one the handle for the next
// step (a Request, a Reservation), which the result keeps and hands out as is.
// A null handle is an internal fault.
Ref make_start_result(NonEmptyRejects rejects);
Ref make_start_result(Ref request);
Ref make_execute_result(NonEmptyRejects rejects);
Ref make_execute_result(Ref reservation);

Ref make_post_trade_result(std::vector<AccountBlock> blocks, std::vector<AdjustmentOutcomeRecord> outcomes);

// A batch that passed, with its outcomes; one that failed at `failed_index`,
// with its rejects and no outcomes.
Ref make_batch_result(std::vector<AdjustmentOutcomeRecord> outcomes);
Ref make_batch_result(std::uint64_t failed_index, NonEmptyRejects rejects);

// What a PostTradeResult holds, for readers that take one as it is.
struct PostTradeParts {
  std::vector<AccountBlock> blocks;
  std::vector<AdjustmentOutcomeRecord> outcomes;
};
bool is_post_trade_result(PyObject* obj);
const PostTradeParts& post_trade_result_of(PyObject* obj);  // precondition: is_post_trade_result(obj)

}  // namespace vantrel::py
