// A value or the error of the operation that failed to give it.
#pragma once

#include <string>
#include <utility>
#include <variant>

#include "failure.hpp"

namespace morvelta {

// The debug form of an error that is a text: the text quoted.
std::string debug_form(const std::string& text);

// `E` needs a `std::string debug_form(const E&)` found by argument-dependent lookup,
// which `unwrap` writes after "called `Result::unwrap()` on an `Err` value: ".
template <class T, class E>
class Result {
  public:
    static Result ok(T value) { return Result(std::in_place_index<0>, std::move(value)); }
    static Result err(E error) { return Result(std::in_place_index<1>, std::move(error)); }

    bool is_ok() const { return state_.index() == 0; }
    T& value() { return std::get<0>(state_); }
    const T& value() const { return std::get<0>(state_); }
    const E& error() const { return std::get<1>(state_); }

    // The value, or the failure stop with the error's debug form.
    T unwrap() && {
        if (!is_ok())
            unwrap_failed(debug_form(error()));
        return std::move(value());
    }

  private:
    template <size_t I, class V>
    Result(std::in_place_index_t<I> index, V&& v) : state_(index, std::forward<V>(v)) {}
    std::variant<T, E> state_;
};

}  // namespace morvelta
