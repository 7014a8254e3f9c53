// Runs a function when the scope it guards is left, by any way out,
// exceptions included: for restoring a field or releasing a lock that no
// handle owner in handles.h covers.
#pragma once

#include <utility>

namespace frame {

template <class F>
class scope_exit {
  public:
    explicit scope_exit(F f) noexcept : f_(std::move(f)) {}
    scope_exit(const scope_exit&) = delete;
    scope_exit& operator=(const scope_exit&) = delete;
    ~scope_exit() { f_(); }

  private:
    F f_;
};

}  // namespace frame
