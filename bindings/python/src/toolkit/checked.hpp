#pragma once
// Debug and sanitizer builds are checked builds: they assert the interpreter
// lock where references are taken and count the live instances of every class.

namespace vantrel::py {

#if !defined(NDEBUG) || defined(VANTREL_CHECKED)
inline constexpr bool kCheckedBuild = true;
#else
inline constexpr bool kCheckedBuild = false;
#endif

}  // namespace vantrel::py
