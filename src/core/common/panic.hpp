// Internal assertion failures.
//
// Kernels assume validated input; a violated precondition (which no public entry point
// can trigger, because dispatch checks first) throws Panic. The binding boundary turns it
// into the Python exception PanicException with the message unchanged, and the module
// stays usable. Nothing in the library prints, aborts or exits.
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace tarnvel::core {

class Panic : public std::exception {
public:
    explicit Panic(std::string msg) : msg_(std::move(msg)) {}
    const char* what() const noexcept override { return msg_.c_str(); }
    const std::string& message() const noexcept { return msg_; }

private:
    std::string msg_;
};

[[noreturn]] inline void panic(std::string msg) { throw Panic(std::move(msg)); }

// Checks an internal invariant; the message is built only on failure.
#define TARNVEL_ASSERT(cond, msg_expr)                     \
    do {                                                   \
        if (!(cond)) [[unlikely]]                          \
            ::tarnvel::core::panic(std::string(msg_expr)); \
    } while (0)

}  // namespace tarnvel::core
