// The `data_io` submodule: cache artifacts as Python values. The conversions are also what the
// kernel's truth nodes use, with the interpreter lock held.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "ext/kernel/data_io.h"
#include "ext/py/python.h"
#include "ext/py/ref.h"

namespace corvala::kernel {

bool register_data_io_module(PyObject* top);

// Storage for an artifact file in a Python bytes object, so that arrays read from it are made
// with one copy. Needs the lock while the allocator runs.
class BytesFileStorage {
public:
    FileAllocator allocator();
    PyObject* bytes() const { return bytes_.get(); }

private:
    py::Ref bytes_;
};

// The Python value of a hit: the "__value__" tensor's value, or nested dicts by "/" paths; text
// tensors as str, 0-d tensors as scalars, others as owning arrays. `file` is the bytes object
// holding hit.file (from BytesFileStorage), or nullptr to copy each tensor's bytes first.
// New reference, or nullptr with the exception set.
PyObject* artifact_value(const ArtifactHit& hit, PyObject* file);

// A buffer exported by an array, released with the lock held.
class HeldBuffer {
public:
    HeldBuffer() = default;
    HeldBuffer(const HeldBuffer&) = delete;
    HeldBuffer& operator=(const HeldBuffer&) = delete;
    ~HeldBuffer() {
        if (held) PyBuffer_Release(&view);
    }
    Py_buffer view{};
    bool held = false;
};

// The tensors of one item value; their data and names stay valid while this lives. Destroy it
// with the lock held.
struct ItemTensors {
    std::vector<TensorData> tensors;
    std::vector<std::string> str_keys;
    std::deque<std::string> names;
    std::deque<std::vector<std::uint64_t>> shapes;
    std::vector<py::Ref> keep;     // the bytes and str objects the data points into
    std::deque<HeldBuffer> views;  // the arrays whose memory is written as it is
};

// The write conversion of one item value. False with the exception set.
bool item_tensors(PyObject* value, ItemTensors& out);

}  // namespace corvala::kernel
