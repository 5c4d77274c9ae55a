#include "ext/py/dict.h"

#include <string>

#include "ext/py/convert.h"

namespace corvala::py {

bool check_dict(PyObject* obj) {
    return PyDict_Check(obj) || not_an_instance(obj, "PyDict");
}

}  // namespace corvala::py
