// Conversions of Python arguments to native values. Each `convert` returns false with the
// conversion's own exception set; `arg` adds the note naming the parameter.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ext/audio/samples.h"
#include "ext/py/python.h"
#include "ext/py/ref.h"

namespace corvala::py {

// A one-dimensional NumPy array of T, borrowed read-only for the call.
template <typename T>
struct ArrayArg {
    Ref array;
    audio::SampleView<T> view;
};

// The name of obj's type, for messages.
std::string type_name(PyObject* obj);
// Raises TypeError "'<type>' object is not an instance of '<expected>'"; returns false.
bool not_an_instance(PyObject* obj, std::string_view expected);

bool convert(PyObject* obj, double& out);
bool convert(PyObject* obj, std::int64_t& out);
bool convert(PyObject* obj, std::uint64_t& out);
// A str, as UTF-8. Lone surrogates are kept (encoded as such) so that any str round-trips.
bool convert(PyObject* obj, std::string& out);
// A file-system path given as str, encoded as the operating system expects it (undecodable
// bytes that os.fsdecode turned into lone surrogates get their bytes back).
struct PathArg {
    std::string bytes;
};
bool convert(PyObject* obj, PathArg& out);
// The inverse, for paths handed back to Python.
PyObject* path_to_str(std::string_view bytes);

// Any sequence of str except a str itself.
bool convert(PyObject* obj, std::vector<std::string>& out);
// A sequence (not a str) of such sequences.
bool convert(PyObject* obj, std::vector<std::vector<std::string>>& out);
bool convert(PyObject* obj, ArrayArg<float>& out);
bool convert(PyObject* obj, ArrayArg<std::int32_t>& out);

// Adds "while processing '<name>'" to the exception being raised.
void add_parameter_note(std::string_view name);

template <typename T>
bool arg(PyObject* obj, std::string_view name, T& out) {
    if (convert(obj, out)) {
        return true;
    }
    add_parameter_note(name);
    return false;
}

// Result conversions. The array takes the buffer over without a copy.
PyObject* to_array(audio::SampleBuffer<float>&& buffer);
PyObject* to_array(audio::SampleBuffer<std::int32_t>&& buffer);

}  // namespace corvala::py
