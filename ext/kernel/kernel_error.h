// The error value of the realization kernel and the cache functions: a message and the kind of
// exception it becomes at the boundary.
#pragma once

#include <cstdint>
#include <string>

namespace corvala::kernel {

enum class KernelErrorKind : std::uint8_t {
    value,            // ValueError: bad input, data, plan or configuration
    runtime,          // RuntimeError: file-system failures, internal consistency failures
    not_implemented,  // NotImplementedError
    internal_fault,   // NativeFault: a violated invariant
    host_exception,   // the host raised; the binding layer holds the exception itself
};

struct KernelError {
    KernelErrorKind kind = KernelErrorKind::value;
    std::string message;

    static KernelError value(std::string m) { return {KernelErrorKind::value, std::move(m)}; }
    static KernelError runtime(std::string m) { return {KernelErrorKind::runtime, std::move(m)}; }
    static KernelError not_implemented(std::string m) { return {KernelErrorKind::not_implemented, std::move(m)}; }
    static KernelError internal_fault(std::string m) { return {KernelErrorKind::internal_fault, std::move(m)}; }

    bool operator==(const KernelError&) const = default;
};

}  // namespace corvala::kernel
