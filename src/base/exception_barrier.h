// Exception barriers for code that C libraries (libcurl) or another event loop (Qt) call: no
// exception may unwind through their frames. The callback runs its body through catchInto, which
// keeps an escaping exception for the owner to deal with on its own stack (fail the transfer,
// show an alert, rethrow) and returns the value that tells the caller to stop.
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace marigold {

// Runs `body`; if it throws, keeps the exception in `kept` (the first one wins) and returns
// `onException` instead.
template <typename Result, typename Body>
Result catchInto(std::exception_ptr& kept, Result onException, Body&& body) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (...) {
    if (!kept) kept = std::current_exception();
    return onException;
  }
}

// What a kept exception says, for a message: its what(), or a generic text for other types.
inline std::string describeException(const std::exception_ptr& exception) {
  try {
    std::rethrow_exception(exception);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "an unexpected error";
  }
}

}  // namespace marigold
