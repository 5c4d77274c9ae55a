// The mixture store and artifact keys, for tests against sqlite3 and hashlib.
#include <array>
#include <string>

#include "ext/kernel/data_io.h"
#include "ext/kernel/store.h"
#include "ext/py/args.h"
#include "ext/py/convert.h"
#include "ext/py/errors.h"
#include "ext/py/registry.h"
#include "tests/native/testing.h"

namespace corvala::testing {
namespace {

constexpr py::Parameter LOCATION_PARAMS[] = {{"location"}};
constexpr py::Parameter PATH_PARAMS[] = {{"path"}};
constexpr py::Parameter KEY_PARAMS[] = {{"plan_digest"}, {"name"}, {"index"}, {"item"}, {"kernel_epoch"}};

PyObject* read_plan_digest(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr py::Signature sig{"read_plan_digest", LOCATION_PARAMS};
    PyObject* bound[1];
    std::string location;
    if (!py::bind(sig, args, nargs, kwnames, bound) || !py::arg(bound[0], "location", location)) return nullptr;
    return py::to_str(kernel::read_plan_digest(location));
}

PyObject* plan_digest_uri(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr py::Signature sig{"plan_digest_uri", PATH_PARAMS};
    PyObject* bound[1];
    std::string path;
    if (!py::bind(sig, args, nargs, kwnames, bound) || !py::arg(bound[0], "path", path)) return nullptr;
    return py::to_str(kernel::plan_digest_uri(path));
}

PyObject* artifact_key(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr py::Signature sig{"artifact_key", KEY_PARAMS};
    PyObject* bound[5];
    std::string digest, name, index, item;
    std::int64_t epoch = 0;
    if (!py::bind(sig, args, nargs, kwnames, bound) || !py::arg(bound[0], "plan_digest", digest) ||
        !py::arg(bound[1], "name", name) || !py::arg(bound[2], "index", index) || !py::arg(bound[3], "item", item) ||
        !py::arg(bound[4], "kernel_epoch", epoch)) {
        return nullptr;
    }
    return py::to_str(kernel::artifact_key(digest, name, index, item, epoch));
}

constexpr std::array FUNCTIONS{
    py::function<read_plan_digest>("read_plan_digest", "read_plan_digest(location)\n--\n\n"),
    py::function<plan_digest_uri>("plan_digest_uri", "plan_digest_uri(path)\n--\n\n"),
    py::function<artifact_key>("artifact_key", "artifact_key(plan_digest, name, index, item, kernel_epoch)\n--\n\n"),
};

}  // namespace

bool register_store(PyObject* module) { return py::add_functions(module, FUNCTIONS); }

}  // namespace corvala::testing
