// Result<T>: a value or an error text. Failures travel up the call chain as
// values; nothing in the program throws across a module boundary and no
// numeric error codes exist. The caller returns the first error unchanged.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace tilvane {

// An error text: a plain sentence without a final period or line feed.
struct Error {
  std::string text;
};

inline Error fail(std::string text) { return Error{std::move(text)}; }

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }

  const std::string& error() const { return std::get<1>(state_).text; }
  Error take_error() && { return std::get<1>(std::move(state_)); }

 private:
  std::variant<T, Error> state_;
};

// Success without a value, or an error text.
template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Error error) : error_(std::move(error.text)), failed_(true) {}

  bool ok() const { return !failed_; }
  explicit operator bool() const { return ok(); }
  const std::string& error() const { return error_; }
  Error take_error() && { return Error{std::move(error_)}; }

 private:
  std::string error_;
  bool failed_ = false;
};

using Status = Result<void>;

}  // namespace tilvane
