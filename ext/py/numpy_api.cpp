#define CORVALA_NUMPY_API_OWNER
#include "ext/py/numpy.h"

#include <atomic>

#include "ext/py/errors.h"

namespace corvala::py {

bool ensure_numpy() {
    // Always called with the interpreter lock held; a second concurrent lookup would only store
    // the same table again.
    static std::atomic<bool> ready{false};
    if (ready.load(std::memory_order_acquire)) {
        return true;
    }
    // NumPy's own loader tries numpy._core (NumPy 2) and then numpy.core (NumPy 1), and checks
    // that the running NumPy offers the C-API version we were built for.
    if (_import_array() < 0) {
        PyErr_Clear();
        raise_native_fault("Failed to access NumPy array API capsule");
        return false;
    }
    ready.store(true, std::memory_order_release);
    return true;
}

}  // namespace corvala::py
