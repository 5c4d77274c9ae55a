// The AIFF reader from bytes, and from a file with the same bytes: both must give the same
// samples or the same error, and no sample is made from nothing.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "audiolib/aiff.h"
#include "fuzz/fuzz.h"
#include "fuzz/reader_check.h"

using namespace corvala;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::check_reader(fuzz::as_bytes(data, size), audiolib::read_aiff_bytes,
                       [](const std::string& path) { return audiolib::read_aiff(path); });
    return 0;
}
