// The engine's own failure type: a broken invariant of the pool or of a parallel shape.
//
// The engine knows nothing of the layers above it, so it reports through this type; the
// binding boundary turns it into PanicException with the message unchanged, as it does
// for the core's Panic. See also: core/common/panic.hpp.
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace tarnvel::engine {

class InvariantError : public std::exception {
public:
    explicit InvariantError(std::string msg) : msg_(std::move(msg)) {}
    const char* what() const noexcept override { return msg_.c_str(); }
    const std::string& message() const noexcept { return msg_; }

private:
    std::string msg_;
};

// Throws InvariantError(what).
[[noreturn]] void fail_invariant(const char* what);

}  // namespace tarnvel::engine
