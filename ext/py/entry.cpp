#include "ext/py/entry.h"

#include <string>

namespace corvala::py {

PyObject* fault_from_current_exception() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return raise_native_fault("out of memory");
    } catch (const std::exception& e) {
        return raise_native_fault(std::string("native exception: ") + e.what());
    } catch (...) {
        return raise_native_fault("unknown native exception");
    }
}

}  // namespace corvala::py
