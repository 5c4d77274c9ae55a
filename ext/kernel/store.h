// The mixture store: the one value the core reads from a dataset's SQLite database.
#pragma once

#include <string>
#include <string_view>

namespace corvala::kernel {

// The digest every unreadable dataset shares.
inline constexpr std::string_view NO_PLAN_DIGEST = "no-plan-digest";

// `base` and `part` with a "/" between them unless `base` is empty or already ends with one.
// `part` is taken verbatim, so an absolute `part` does not replace `base`.
std::string join_path(std::string_view base, std::string_view part);

// The SQLite URI filename of a database path: "file:", the path as UTF-8 (invalid sequences
// replaced by U+FFFD) with space, '#', '%' and '?' percent-escaped, then "?immutable=1".
std::string plan_digest_uri(std::string_view path);

// The plan digest stored in `<location>/mixdb.db` (table top, column plan_digest, id 1), or
// NO_PLAN_DIGEST on any failure. Opens the database read-only and closes it before returning.
std::string read_plan_digest(std::string_view location);

}  // namespace corvala::kernel
