// Writes the seed corpus of every fuzz target: make_seeds DIR gives DIR/<target>/<n> files. The
// seeds are small valid inputs (and a few near misses) made here, the binary ones by the core's
// own writers where it has them.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "ext/kernel/data_io.h"
#include "ext/kernel/safetensors.h"
#include "fuzz/fuzz.h"

using namespace corvala;
namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::byte>;

class Corpus {
public:
    Corpus(fs::path root, std::string_view target) : dir_(std::move(root) / target) { fs::create_directories(dir_); }

    void add(std::span<const std::byte> bytes) {
        std::ofstream out(dir_ / std::to_string(count_++), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            std::perror("make_seeds: write");
            std::exit(1);
        }
    }
    void add(std::string_view text) { add(std::as_bytes(std::span(text.data(), text.size()))); }

private:
    fs::path dir_;
    int count_ = 0;
};

void put(Bytes& out, std::string_view text) {
    for (char c : text) out.push_back(static_cast<std::byte>(c));
}
void put_le(Bytes& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::byte>((value >> (8 * i)) & 0xFF));
}
void put_be(Bytes& out, std::uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<std::byte>((value >> (8 * i)) & 0xFF));
}
void put_zeros(Bytes& out, std::size_t n) { out.insert(out.end(), n, std::byte{0}); }
// Deterministic sample bytes that are not all alike.
void put_pattern(Bytes& out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) out.push_back(static_cast<std::byte>((i * 37 + 11) & 0xFF));
}

void effects(Corpus& c) {
    for (std::string_view s : {
             "gain -3", "gain -n -3", "gain -nl 1", "gain -h 2", "gain -r", "norm -1", "vol 0.5", "vol -4 dB 0.05",
             "vol 0.5 power", "dcshift 0.1 0.05", "contrast 75", "overdrive 20 20", "tremolo 5 40",
             "fade q 0.5 -1 0.5", "fade t 1:0.5 =8000s", "fade h 0.1+100s", "reverse", "equalizer 1k 2q -6",
             "equalizer 300 1.5o 3", "highpass -1 500", "highpass 100 0.7q", "lowpass -2 3k 2h", "bandpass -c 1k 200h",
             "bandreject 1000 100k", "allpass 1000 2s", "bass 6 100 0.5s", "treble -3 4k 1o", "band -n 1000 200",
             "compand 0.3,1 -70,-70,-60,-20 -5 -90 0.2", "compand 0.3,1 6:-70,-70,-20",
             "mcompand \"0.005,0.1 -47,-40,-34,-34,-17,-33\" 100 \"0.003,0.05 -47,-40,-34,-34,-17,-33\"",
             "echo 0.8 0.9 100 0.3 200 0.25", "echos 0.8 0.7 700 0.25 900 0.3", "chorus 0.5 0.9 50 0.4 0.25 2 -t",
             "flanger 0 2 0 71 0.5 sin 25 lin", "phaser 0.8 0.74 3 0.4 0.5 -t", "reverb -w 50 50 100 100 20 0",
             "pitch -q 100 40 15 10", "tempo -s 1.2 30", "tempo -m 0.9", "speed 100c", "speed 1.1", "stretch 2 20 cos",
             "rate -v 8000", "rate -l 8k", "sinc -a 60 -b 5 1k-3k", "sinc -n 101 -3k", "sinc -M 3k -t 100",
             "hilbert -n 101", "loudness -10 65 4096", "GAIN 1e-3", "gain\t-3", "gain -3\ngain -n -3\nreverse",
             "nope", "", "gain 3 4", "equalizer 1k", "tempo 0"}) {
        c.add(s);
    }
}

void time_specs(Corpus& c) {
    // The first byte picks the initial operator: even '+', odd '-'.
    for (std::string_view s : {"+1.5", "-1.5", "+8000s", "+1:30", "+1:2:3.5t", "+1:2:3:4", "+0.5+100s-0.25",
                               "+1e3", "+.5e-2s", "+2t", "+1:", "+:5", "-1-2+3s", "+ 1 + 2", "+1e400", "+x"}) {
        c.add(s);
    }
}

Bytes wav(std::uint16_t tag, std::uint16_t channels, std::uint16_t bits, std::size_t frames, bool extensible,
          bool extra_chunks) {
    Bytes fmt;
    put_le(fmt, tag, 2);
    put_le(fmt, channels, 2);
    put_le(fmt, 16000, 4);
    put_le(fmt, 16000u * channels * bits / 8, 4);
    put_le(fmt, channels * bits / 8u, 2);
    put_le(fmt, bits, 2);
    if (extensible) {
        put_le(fmt, 22, 2);
        put_le(fmt, bits, 2);
        put_le(fmt, 4, 4);
        put_le(fmt, bits == 64 ? 3 : 1, 4);  // the sub-format GUID's first field, the rest fixed
        for (int b : {0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}) {
            fmt.push_back(static_cast<std::byte>(b));
        }
    }
    const std::size_t data_bytes = frames * channels * bits / 8;
    Bytes out;
    put(out, "RIFF");
    put_le(out, 0, 4);  // not read
    put(out, "WAVE");
    if (extra_chunks) {
        put(out, "JUNK");
        put_le(out, 3, 4);
        put_zeros(out, 4);  // with the pad byte
    }
    put(out, "fmt ");
    put_le(out, fmt.size(), 4);
    out.insert(out.end(), fmt.begin(), fmt.end());
    if (extra_chunks) {
        put(out, "LIST");
        put_le(out, 4, 4);
        put(out, "INFO");
    }
    put(out, "data");
    put_le(out, data_bytes, 4);
    put_pattern(out, data_bytes);
    if (data_bytes % 2 != 0) put_zeros(out, 1);
    return out;
}

void wavs(Corpus& c) {
    c.add(wav(1, 1, 16, 12, false, false));
    c.add(wav(1, 2, 16, 8, false, true));
    c.add(wav(1, 1, 8, 7, false, false));
    c.add(wav(1, 1, 24, 6, false, true));
    c.add(wav(1, 3, 32, 4, false, false));
    c.add(wav(3, 1, 32, 8, false, false));
    c.add(wav(3, 2, 64, 4, false, true));
    c.add(wav(0xFFFE, 2, 24, 5, true, false));
    c.add(wav(0xFFFE, 1, 64, 5, true, false));
    c.add(wav(1, 1, 12, 5, false, false));
    auto truncated = wav(1, 1, 16, 32, false, false);
    truncated.resize(truncated.size() - 9);
    c.add(truncated);
}

void put_extended_rate(Bytes& out, std::uint32_t rate) {
    // 80-bit extended: exponent 16383 + floor(log2 rate), mantissa with the explicit integer bit.
    int exponent = 31;
    while ((rate >> exponent) == 0) --exponent;
    put_be(out, static_cast<std::uint64_t>(16383 + exponent), 2);
    put_be(out, static_cast<std::uint64_t>(rate) << (63 - exponent), 8);
}

Bytes aiff(std::string_view form, std::uint16_t channels, std::uint16_t bits, std::uint32_t frames,
           std::uint32_t rate, bool extra_chunks, bool ssnd_first) {
    Bytes comm;
    put(comm, "COMM");
    put_be(comm, 18, 4);
    put_be(comm, channels, 2);
    put_be(comm, frames, 4);
    put_be(comm, bits, 2);
    put_extended_rate(comm, rate);
    Bytes ssnd;
    const std::size_t data_bytes = std::size_t{frames} * channels * ((bits + 7u) / 8u);
    put(ssnd, "SSND");
    put_be(ssnd, data_bytes + 8, 4);
    put_be(ssnd, 0, 4);
    put_be(ssnd, 0, 4);
    put_pattern(ssnd, data_bytes);
    if (data_bytes % 2 != 0) put_zeros(ssnd, 1);
    Bytes chunks;
    if (extra_chunks) {
        put(chunks, "NAME");
        put_be(chunks, 5, 4);
        put(chunks, "tone");
        put_zeros(chunks, 2);
    }
    const Bytes& a = ssnd_first ? ssnd : comm;
    const Bytes& b = ssnd_first ? comm : ssnd;
    chunks.insert(chunks.end(), a.begin(), a.end());
    chunks.insert(chunks.end(), b.begin(), b.end());
    Bytes out;
    put(out, "FORM");
    put_be(out, chunks.size() + 4, 4);
    put(out, form);
    out.insert(out.end(), chunks.begin(), chunks.end());
    return out;
}

void aiffs(Corpus& c) {
    c.add(aiff("AIFF", 1, 16, 10, 16000, false, false));
    c.add(aiff("AIFF", 2, 8, 7, 44100, true, false));
    c.add(aiff("AIFF", 1, 24, 5, 8000, false, false));
    c.add(aiff("AIFF", 2, 32, 4, 192000, true, false));
    c.add(aiff("AIFF", 1, 12, 5, 22050, false, false));
    c.add(aiff("AIFF", 1, 16, 4, 16000, false, true));
    c.add(aiff("AIFC", 1, 16, 4, 16000, false, false));
}

Bytes sphere(std::initializer_list<std::string_view> fields, std::size_t data_bytes) {
    std::string header = "NIST_1A\n   1024\n";
    for (std::string_view f : fields) {
        header += f;
        header += '\n';
    }
    header += "end_head\n";
    header.resize(1024, ' ');
    Bytes out;
    put(out, header);
    put_pattern(out, data_bytes);
    return out;
}

void spheres(Corpus& c) {
    c.add(sphere({"sample_rate -i 16000", "sample_count -i 10", "sample_n_bytes -i 2", "channel_count -i 1",
                  "sample_byte_format -s2 01", "sample_coding -s3 pcm"},
                 20));
    c.add(sphere({"database_id -s5 TIMIT", "sample_rate -i 8000", "sample_count -i 9", "sample_n_bytes -i 1",
                  "channel_count -i 1"},
                 9));
    c.add(sphere({"sample_rate -i 16000", "sample_count -i 6", "sample_n_bytes -i 2", "channel_count -i 1",
                  "sample_byte_format -s2 10"},
                 12));
    c.add(sphere({"sample_rate -i 16000", "sample_count -i 4", "sample_n_bytes -i 2", "channel_count -i 2"}, 16));
    c.add(sphere({"sample_rate -i +16000", "sample_count -i 99999999999999999999", "sample_n_bytes -i 2",
                  "channel_count -i 1"},
                 4));
}

// Tensors of a few dtypes and ranks, one of them empty, and a text tensor.
struct SampleTensors {
    std::vector<std::uint64_t> s1{3}, s2{2, 2}, s0{}, sz{0, 4}, st{5};
    std::vector<std::byte> d1 = bytes(12), d2 = bytes(8), d0 = bytes(8), dt = text("hello");
    std::vector<kernel::TensorData> all{
        {"a", kernel::Dtype::F32, s1, d1},
        {"speech/snr", kernel::Dtype::I16, s2, d2},
        {"__value_like", kernel::Dtype::F64, s0, d0},
        {"empty", kernel::Dtype::U8, sz, {}},
        {"speech/label", kernel::Dtype::U8, st, dt},
    };

    static std::vector<std::byte> bytes(std::size_t n) {
        Bytes out;
        put_pattern(out, n);
        return out;
    }
    static std::vector<std::byte> text(std::string_view s) {
        Bytes out;
        put(out, s);
        return out;
    }
};

Bytes safetensors_file(std::span<const kernel::TensorData> tensors,
                       std::span<const std::pair<std::string, std::string>> metadata) {
    const auto header = kernel::serialize_header(tensors, metadata);
    if (!header) {
        std::fprintf(stderr, "make_seeds: %s\n", header.error().c_str());
        std::exit(1);
    }
    Bytes out;
    const auto length = kernel::header_length_bytes(header->size());
    out.insert(out.end(), length.begin(), length.end());
    put(out, *header);
    for (const auto& t : tensors) out.insert(out.end(), t.data.begin(), t.data.end());
    return out;
}

void safetensors(Corpus& c) {
    const SampleTensors t;
    const std::pair<std::string, std::string> metadata[] = {{"key", "k"}, {"kernel_epoch", "2"}, {"str_keys", "[]"}};
    c.add(safetensors_file(t.all, metadata));
    c.add(safetensors_file(std::span(t.all).first(1), {}));
    c.add(safetensors_file({}, {}));
    Bytes bare;
    put_le(bare, 8, 8);
    put(bare, "{}      ");
    c.add(bare);
}

void artifacts(Corpus& c) {
    const SampleTensors t;
    const kernel::ArtifactContext context{fuzz::scratch_directory(), std::string(fuzz::ARTIFACT_DIGEST),
                                          fuzz::ARTIFACT_EPOCH};
    const auto add = [&](std::span<const kernel::TensorData> tensors, std::span<const std::string> str_keys) {
        const auto written = kernel::write_artifact(context, fuzz::ARTIFACT_NAME, fuzz::ARTIFACT_INDEX,
                                                    fuzz::ARTIFACT_ITEM, tensors, str_keys);
        if (!written) {
            std::fprintf(stderr, "make_seeds: %s\n", written.error().message.c_str());
            std::exit(1);
        }
        const std::string path = kernel::artifact_path(context, fuzz::ARTIFACT_NAME, fuzz::ARTIFACT_INDEX,
                                                       fuzz::ARTIFACT_ITEM);
        std::ifstream in(path, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        c.add(bytes);
    };
    const std::string label[] = {"speech/label"};
    add(t.all, label);
    add(std::span(t.all).first(1), {});
    const kernel::TensorData value[] = {{"__value__", kernel::Dtype::F64, t.s0, t.d0}};
    add(value, {});
}

void uris(Corpus& c) {
    for (std::string_view s : {"/data/set/mixdb.db", "relative/mixdb.db", "//server/share/mixdb.db",
                               "/a b/#1/100%/what?/mixdb.db", "/caf\xc3\xa9/\xe2\x9c\x93/mixdb.db",
                               "/bad\xff\xfe/\xe2\x82/\xed\xa0\x80/\xf4\x90\x80\x80/mixdb.db", "", "///"}) {
        c.add(s);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds DIR\n");
        return 2;
    }
    const fs::path root = argv[1];
    Corpus effect(root, "fuzz_effect");
    effects(effect);
    Corpus time(root, "fuzz_time_spec");
    time_specs(time);
    Corpus wav(root, "fuzz_wav");
    wavs(wav);
    Corpus aiff(root, "fuzz_aiff");
    aiffs(aiff);
    Corpus sphere(root, "fuzz_sphere");
    spheres(sphere);
    Corpus st(root, "fuzz_safetensors");
    safetensors(st);
    Corpus artifact(root, "fuzz_artifact");
    artifacts(artifact);
    Corpus uri(root, "fuzz_plan_digest_uri");
    uris(uri);
    return 0;
}
