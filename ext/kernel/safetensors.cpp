#include "ext/kernel/safetensors.h"

#include <algorithm>
#include <array>
#include <unordered_set>

#include <nlohmann/json.hpp>

namespace corvala::kernel {

namespace {

struct DtypeInfo {
    Dtype dtype;
    std::string_view name;
    unsigned bits;
};

constexpr std::array<DtypeInfo, 20> DTYPES{{
    {Dtype::BOOL, "BOOL", 8},       {Dtype::U8, "U8", 8},           {Dtype::I8, "I8", 8},
    {Dtype::I16, "I16", 16},        {Dtype::U16, "U16", 16},        {Dtype::F16, "F16", 16},
    {Dtype::I32, "I32", 32},        {Dtype::U32, "U32", 32},        {Dtype::F32, "F32", 32},
    {Dtype::C64, "C64", 64},        {Dtype::F64, "F64", 64},        {Dtype::I64, "I64", 64},
    {Dtype::U64, "U64", 64},        {Dtype::BF16, "BF16", 16},      {Dtype::F8_E5M2, "F8_E5M2", 8},
    {Dtype::F8_E4M3, "F8_E4M3", 8}, {Dtype::F8_E8M0, "F8_E8M0", 8}, {Dtype::F6_E2M3, "F6_E2M3", 6},
    {Dtype::F6_E3M2, "F6_E3M2", 6}, {Dtype::F4, "F4", 4},
}};

constexpr bool table_follows_enum() {
    for (std::size_t i = 0; i < DTYPES.size(); ++i) {
        if (static_cast<std::size_t>(DTYPES[i].dtype) != i) return false;
    }
    return true;
}
static_assert(table_follows_enum());

const DtypeInfo& info(Dtype dtype) { return DTYPES[static_cast<std::size_t>(dtype)]; }

using Json = nlohmann::json;

// A SAX reader that accepts exactly the header's shape and stops at the first deviation, so
// that nothing beyond the expected records is ever built.
class HeaderReader {
public:
    explicit HeaderReader(SafetensorsHeader& out) : out_(out) {}

    bool null() { return false; }
    bool boolean(bool) { return false; }
    bool number_integer(Json::number_integer_t) { return false; }  // only negatives come here
    bool number_float(Json::number_float_t, const Json::string_t&) { return false; }
    bool binary(Json::binary_t&) { return false; }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) { return false; }

    bool number_unsigned(Json::number_unsigned_t value) {
        if (state_ == State::shape) {
            if (current_.shape.size() >= MAX_RANK) return false;
            current_.shape.push_back(value);
            return true;
        }
        if (state_ == State::offsets) {
            if (offset_count_ >= 2) return false;
            (offset_count_ == 0 ? current_.begin : current_.end) = value;
            ++offset_count_;
            return true;
        }
        return false;
    }

    bool string(Json::string_t& value) {
        if (state_ == State::metadata_value) {
            out_.metadata.emplace_back(std::move(pending_key_), std::move(value));
            state_ = State::metadata;
            return true;
        }
        if (state_ == State::field && field_ == Field::dtype) {
            const auto dtype = dtype_from_name(value);
            if (!dtype) return false;
            current_.dtype = *dtype;
            state_ = State::tensor;
            return true;
        }
        return false;
    }

    bool start_object(std::size_t) {
        if (state_ == State::start) {
            state_ = State::top;
            return true;
        }
        if (state_ == State::top_value) {
            state_ = in_metadata_ ? State::metadata : State::tensor;
            return true;
        }
        return false;
    }

    bool key(Json::string_t& name) {
        switch (state_) {
            case State::top:
                if (name == "__metadata__") {
                    if (out_.has_metadata) return false;
                    out_.has_metadata = true;
                    in_metadata_ = true;
                } else {
                    if (!names_.insert(name).second) return false;
                    in_metadata_ = false;
                    current_ = TensorEntry{};
                    current_.name = std::move(name);
                    seen_ = 0;
                }
                state_ = State::top_value;
                return true;
            case State::metadata:
                if (!metadata_keys_.insert(name).second) return false;
                pending_key_ = std::move(name);
                state_ = State::metadata_value;
                return true;
            case State::tensor: {
                if (name == "dtype") {
                    field_ = Field::dtype;
                } else if (name == "shape") {
                    field_ = Field::shape;
                } else if (name == "data_offsets") {
                    field_ = Field::offsets;
                } else {
                    return false;
                }
                const unsigned bit = 1u << static_cast<unsigned>(field_);
                if ((seen_ & bit) != 0) return false;
                seen_ |= bit;
                state_ = State::field;
                return true;
            }
            default: return false;
        }
    }

    bool end_object() {
        switch (state_) {
            case State::metadata: state_ = State::top; return true;
            case State::tensor:
                if (seen_ != 0b111) return false;
                out_.tensors.push_back(std::move(current_));
                state_ = State::top;
                return true;
            case State::top: state_ = State::done; return true;
            default: return false;
        }
    }

    bool start_array(std::size_t) {
        if (state_ != State::field) return false;
        if (field_ == Field::shape) {
            state_ = State::shape;
            return true;
        }
        if (field_ == Field::offsets) {
            offset_count_ = 0;
            state_ = State::offsets;
            return true;
        }
        return false;
    }

    bool end_array() {
        if (state_ == State::shape || (state_ == State::offsets && offset_count_ == 2)) {
            state_ = State::tensor;
            return true;
        }
        return false;
    }

    bool done() const { return state_ == State::done; }

private:
    enum class State { start, top, top_value, metadata, metadata_value, tensor, field, shape, offsets, done };
    enum class Field : unsigned { dtype, shape, offsets };

    SafetensorsHeader& out_;
    State state_ = State::start;
    Field field_ = Field::dtype;
    bool in_metadata_ = false;
    unsigned seen_ = 0;
    unsigned offset_count_ = 0;
    TensorEntry current_;
    std::string pending_key_;
    std::unordered_set<std::string> names_;
    std::unordered_set<std::string> metadata_keys_;
};

bool offsets_are_consistent(const std::vector<TensorEntry>& tensors, std::uint64_t data_size) {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> spans;
    spans.reserve(tensors.size());
    for (const TensorEntry& t : tensors) {
        const auto size = tensor_byte_size(t.dtype, t.shape);
        if (!size || t.end < t.begin || t.end > data_size || t.end - t.begin != *size) {
            return false;
        }
        if (*size != 0) {
            spans.emplace_back(t.begin, t.end);
        }
    }
    std::sort(spans.begin(), spans.end());
    for (std::size_t i = 1; i < spans.size(); ++i) {
        if (spans[i].first < spans[i - 1].second) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string_view dtype_name(Dtype dtype) { return info(dtype).name; }

unsigned dtype_bits(Dtype dtype) { return info(dtype).bits; }

std::optional<Dtype> dtype_from_name(std::string_view name) {
    for (const DtypeInfo& d : DTYPES) {
        if (d.name == name) return d.dtype;
    }
    return std::nullopt;
}

std::optional<std::uint64_t> tensor_byte_size(Dtype dtype, std::span<const std::uint64_t> shape) {
    // Any zero dimension makes the tensor empty, however large the others are.
    if (std::ranges::find(shape, 0u) != shape.end()) return 0;
    std::uint64_t count = 1;
    for (std::uint64_t dim : shape) {
        if (__builtin_mul_overflow(count, dim, &count)) return std::nullopt;
    }
    const unsigned bits = dtype_bits(dtype);
    if (bits % 8 == 0) {
        std::uint64_t bytes = 0;
        if (__builtin_mul_overflow(count, bits / 8, &bytes)) return std::nullopt;
        return bytes;
    }
    // Sub-byte dtypes: the elements must fill whole bytes; fewer bytes than elements, so no overflow.
    const unsigned __int128 total_bits = static_cast<unsigned __int128>(count) * bits;
    if (total_bits % 8 != 0) return std::nullopt;
    return static_cast<std::uint64_t>(total_bits / 8);
}

const std::string* SafetensorsHeader::find_metadata(std::string_view key) const {
    for (const auto& [k, v] : metadata) {
        if (k == key) return &v;
    }
    return nullptr;
}

std::optional<SafetensorsHeader> parse_safetensors(std::span<const std::byte> file) {
    if (file.size() < 8) {
        return std::nullopt;
    }
    std::uint64_t header_length = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        header_length |= static_cast<std::uint64_t>(file[i]) << (8 * i);
    }
    if (header_length > MAX_HEADER_BYTES || header_length > file.size() - 8) {
        return std::nullopt;
    }
    SafetensorsHeader header;
    header.data_start = 8 + static_cast<std::size_t>(header_length);
    const auto* first = reinterpret_cast<const char*>(file.data() + 8);
    try {
        HeaderReader reader(header);
        if (!Json::sax_parse(first, first + header_length, &reader, Json::input_format_t::json, true) ||
            !reader.done()) {
            return std::nullopt;
        }
    } catch (...) {
        // The reader throws nothing itself; anything from the parser is a bad header too.
        return std::nullopt;
    }
    if (!offsets_are_consistent(header.tensors, file.size() - header.data_start)) {
        return std::nullopt;
    }
    return header;
}

std::expected<std::string, std::string> serialize_header(
    std::span<const TensorData> tensors, std::span<const std::pair<std::string, std::string>> metadata) {
    // Built as text rather than through a JSON object, whose ordered form looks keys up linearly.
    try {
        std::string text;
        const auto quote = [&text](std::string_view s) { text += Json(std::string(s)).dump(); };
        text += "{\"__metadata__\":{";
        for (std::size_t i = 0; i < metadata.size(); ++i) {
            if (i != 0) text += ',';
            quote(metadata[i].first);
            text += ':';
            quote(metadata[i].second);
        }
        text += '}';
        std::unordered_set<std::string_view> names;
        std::uint64_t offset = 0;
        for (const TensorData& t : tensors) {
            const auto size = tensor_byte_size(t.dtype, t.shape);
            if (!size || *size != t.data.size()) {
                return std::unexpected("tensor '" + std::string(t.name) + "' data does not match its dtype and shape");
            }
            if (t.name == "__metadata__" || !names.insert(t.name).second) {
                return std::unexpected("duplicate tensor name '" + std::string(t.name) + "'");
            }
            text += ',';
            quote(t.name);
            text += ":{\"dtype\":\"";
            text += dtype_name(t.dtype);
            text += "\",\"shape\":[";
            for (std::size_t i = 0; i < t.shape.size(); ++i) {
                if (i != 0) text += ',';
                text += std::to_string(t.shape[i]);
            }
            text += "],\"data_offsets\":[";
            text += std::to_string(offset);
            text += ',';
            text += std::to_string(offset + *size);
            text += "]}";
            offset += *size;
        }
        text += "}";
        text.append((8 - text.size() % 8) % 8, ' ');
        if (text.size() > MAX_HEADER_BYTES) {
            std::string message = "header of " + std::to_string(text.size());
            message += " bytes exceeds the limit of " + std::to_string(MAX_HEADER_BYTES) + " bytes";
            return std::unexpected(std::move(message));
        }
        return text;
    } catch (const nlohmann::json::exception& e) {
        // A name that is not UTF-8 has no JSON form.
        return std::unexpected(std::string(e.what()));
    }
}

std::array<std::byte, 8> header_length_bytes(std::uint64_t length) {
    std::array<std::byte, 8> out{};
    for (std::size_t i = 0; i < 8; ++i) {
        out[i] = static_cast<std::byte>((length >> (8 * i)) & 0xFF);
    }
    return out;
}

}  // namespace corvala::kernel
