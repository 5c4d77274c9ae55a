#include "ext/kernel/store.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <memory>

#include "ext/kernel/utf8.h"

namespace corvala::kernel {

namespace {

struct CloseDatabase {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct FinalizeStatement {
    void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};

constexpr int OPEN_FLAGS = SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_EXRESCODE;
constexpr int BUSY_TIMEOUT_MS = 5000;
constexpr const char* DIGEST_QUERY = "SELECT plan_digest FROM top WHERE id = 1";

}  // namespace

std::string join_path(std::string_view base, std::string_view part) {
    std::string out(base);
    if (!out.empty() && out.back() != '/') {
        out += '/';
    }
    out += part;
    return out;
}

std::string plan_digest_uri(std::string_view path) {
    const std::string text = to_utf8_lossy(path);
    std::string uri = "file:";
    // A path that starts with "//" would otherwise be read as an authority ("file://host/...")
    // and refused; an empty authority keeps the path whole.
    if (text.starts_with("//")) {
        uri += "//";
    }
    for (char c : text) {
        switch (c) {
            case ' ': uri += "%20"; break;
            case '#': uri += "%23"; break;
            case '%': uri += "%25"; break;
            case '?': uri += "%3f"; break;
            default: uri += c; break;
        }
    }
    uri += "?immutable=1";
    return uri;
}

std::string read_plan_digest(std::string_view location) {
    const std::string path = join_path(location, "mixdb.db");
    // The system calls would stop at a NUL and reach another file.
    if (path.find('\0') != std::string::npos) {
        return std::string(NO_PLAN_DIGEST);
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return std::string(NO_PLAN_DIGEST);
    }
    const std::string uri = plan_digest_uri(path);
    sqlite3* raw_db = nullptr;
    const int opened = sqlite3_open_v2(uri.c_str(), &raw_db, OPEN_FLAGS, nullptr);
    // A failed open may still hand back a handle that must be closed.
    std::unique_ptr<sqlite3, CloseDatabase> db(raw_db);
    if (opened != SQLITE_OK || !db || sqlite3_busy_timeout(db.get(), BUSY_TIMEOUT_MS) != SQLITE_OK) {
        return std::string(NO_PLAN_DIGEST);
    }
    sqlite3_stmt* raw_stmt = nullptr;
    const int prepared = sqlite3_prepare_v2(db.get(), DIGEST_QUERY, -1, &raw_stmt, nullptr);
    std::unique_ptr<sqlite3_stmt, FinalizeStatement> stmt(raw_stmt);
    if (prepared != SQLITE_OK || !stmt || sqlite3_step(stmt.get()) != SQLITE_ROW ||
        sqlite3_column_type(stmt.get(), 0) != SQLITE_TEXT) {
        return std::string(NO_PLAN_DIGEST);
    }
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0));
    const int bytes = sqlite3_column_bytes(stmt.get(), 0);
    if (text == nullptr || bytes < 0) {
        return std::string(NO_PLAN_DIGEST);
    }
    std::string digest(text, static_cast<std::size_t>(bytes));
    if (!is_valid_utf8(digest)) {
        return std::string(NO_PLAN_DIGEST);
    }
    return digest;
}

}  // namespace corvala::kernel
