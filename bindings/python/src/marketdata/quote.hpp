#pragma once
// The Python side of Quote, QuoteTtl and QuoteResolution, and the readers of
// arguments typed with them.
#include <string_view>

#include "toolkit/ref.hpp"
#include "vantrel/marketdata/quote.hpp"

namespace vantrel::py {

Ref wrap_quote(const Quote& quote);
// A Quote instance, else TypeError "argument '{arg}': '{type}' object cannot be converted to 'Quote'".
const Quote& extract_quote(std::string_view arg, PyObject* obj);

Ref wrap_quote_ttl(QuoteTtl ttl);
// A QuoteTtl instance only (no durations), else the same TypeError naming QuoteTtl.
QuoteTtl extract_quote_ttl(std::string_view arg, PyObject* obj);

// A QuoteResolution instance only (no integers), else the TypeError naming QuoteResolution.
QuoteResolution extract_quote_resolution(std::string_view arg, PyObject* obj);

}  // namespace vantrel::py
