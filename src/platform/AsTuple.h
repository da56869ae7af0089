#pragma once

#include <asio/experimental/as_tuple.hpp>
#include <asio/use_awaitable.hpp>

namespace qb::platform {

// The completion token of every awaited operation whose failure is an expected outcome: the error comes back
// as a value beside the result instead of as an exception.
inline constexpr auto kAsTuple = asio::experimental::as_tuple(asio::use_awaitable);

}  // namespace qb::platform
