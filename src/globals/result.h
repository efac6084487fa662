#pragma once

#include <QString>
#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

#include "globals/errors.h"

// Why an operation below the window failed: a message that names what went wrong, and an
// explanation of what it means and what cures it ("" when there is nothing to add). The
// companion prints the message on its error line and the explanation under it.
struct TFailure {
  QString Message;
  QString Explanation;

  // Returns the failure an error raised by the tool's own layers carries.
  static TFailure Of(const Exception& e) { return {e.Message(), e.Explanation()}; }
};

// The outcome of an operation that yields a T or fails: one or the other, never both.
// Libraries the companion uses return it instead of raising, or of a flag with a text beside.
template <class T>
class [[nodiscard]] TResult {
 public:
  TResult(T value) : FValue(std::in_place_index<0>, std::move(value)) {}
  TResult(TFailure failure) : FValue(std::in_place_index<1>, std::move(failure)) {}

  explicit operator bool() const { return FValue.index() == 0; }
  bool Ok() const { return FValue.index() == 0; }

  T& Value() & { return std::get<0>(FValue); }
  const T& Value() const& { return std::get<0>(FValue); }
  T&& Value() && { return std::get<0>(std::move(FValue)); }
  T* operator->() { return &Value(); }
  const T* operator->() const { return &Value(); }
  T& operator*() & { return Value(); }
  const T& operator*() const& { return Value(); }

  const TFailure& Failure() const { return std::get<1>(FValue); }

 private:
  std::variant<T, TFailure> FValue;
};

// The outcome of an operation that yields nothing but may fail.
template <>
class [[nodiscard]] TResult<void> {
 public:
  TResult() = default;
  TResult(TFailure failure) : FFailure(std::move(failure)) {}

  explicit operator bool() const { return !FFailure; }
  bool Ok() const { return !FFailure; }
  const TFailure& Failure() const { return *FFailure; }

 private:
  std::optional<TFailure> FFailure;
};

// Runs action, which may raise the tool's errors, and returns its outcome as a result: the
// one place where an exception of the layers below becomes a failure.
template <class F>
auto Catching(F&& action) -> TResult<decltype(action())> {
  try {
    if constexpr (std::is_void_v<decltype(action())>) {
      action();
      return {};
    } else {
      return action();
    }
  } catch (const Exception& e) {
    return TFailure::Of(e);
  }
}
