#include "tests/support/test_server.h"

#include "tests/support/test_env.h"

#ifdef _WIN32
#include "core/sha256.h"
#include "platform/files.h"
#include "platform/http.h"
#include "platform/text.h"
#endif

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;
using nlohmann::json;

namespace korvel::test {

namespace {

struct ServerInfo {
    std::uint16_t http_port = 0;
    std::uint16_t https_port = 0;
    fs::path request_log;
};

ServerInfo const& server_info() {
    static ServerInfo const info = [] {
        fs::path const ready = test_env_dir() / "server.json";
        json const doc = json::parse(read_file(ready));
        ServerInfo i;
        i.http_port = doc.at("http_port").get<std::uint16_t>();
        i.https_port = doc.at("https_port").get<std::uint16_t>();
        i.request_log = from_unix_path(doc.at("request_log").get<std::string>());
        return i;
    }();
    return info;
}

fs::path server_root() {
    return test_env_dir() / "www";
}

fs::path local_path(std::string_view utf8_relative) {
#ifdef _WIN32
    return fs::path(utf8_to_wide(utf8_relative));
#else
    return fs::path(std::string(utf8_relative));
#endif
}

std::string base64(std::string_view bytes) {
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        auto const v = (std::uint32_t(std::uint8_t(bytes[i])) << 16) | (std::uint32_t(std::uint8_t(bytes[i + 1])) << 8) |
                       std::uint8_t(bytes[i + 2]);
        for (int shift : {18, 12, 6, 0}) out.push_back(alphabet[(v >> shift) & 63]);
    }
    if (std::size_t const rest = bytes.size() - i; rest > 0) {
        std::uint32_t v = std::uint32_t(std::uint8_t(bytes[i])) << 16;
        if (rest == 2) v |= std::uint32_t(std::uint8_t(bytes[i + 1])) << 8;
        out.push_back(alphabet[(v >> 18) & 63]);
        out.push_back(alphabet[(v >> 12) & 63]);
        out.push_back(rest == 2 ? alphabet[(v >> 6) & 63] : '=');
        out.push_back('=');
    }
    return out;
}

// The server matches files by the decoded path; so do the request filters.
std::string percent_decode(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(std::uint8_t(text[i + 1])) &&
            std::isxdigit(std::uint8_t(text[i + 2]))) {
            out.push_back(static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16)));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

std::string decoded_path_of(Request const& r) {
    return percent_decode(r.path.substr(0, r.path.find('?')));
}

json fault_json(Fault const& f) {
    json j = json::object();
    if (f.status != 200) j["status"] = f.status;
    if (f.body) j["body_base64"] = base64(*f.body);
    if (!f.headers.empty()) {
        json h = json::object();
        for (auto const& [name, value] : f.headers) h[name] = value;
        j["headers"] = h;
    }
    if (f.no_content_length) j["content_length"] = nullptr;
    if (f.content_length) j["content_length"] = *f.content_length;
    if (f.reset_after) j["reset_after"] = *f.reset_after;
    if (f.endless) {
        json limits = json::object();
        if (f.limit_bytes) limits["limit_bytes"] = f.limit_bytes;
        if (f.limit_ms) limits["limit_seconds"] = f.limit_ms / 1000.0;
        j["endless"] = limits;
    }
    if (f.delay_ms) j["delay_ms"] = f.delay_ms;
    if (f.stall_after) j["stall_after"] = *f.stall_after;
    if (f.stall_ms) j["stall_ms"] = f.stall_ms;
    if (f.pace_ms) j["pace_ms"] = f.pace_ms;
    if (f.bytes_per_second) j["bytes_per_second"] = f.bytes_per_second;
    if (f.ignore_range) j["ignore_range"] = true;
    if (f.no_etag) j["no_etag"] = true;
    if (f.ignore_if_range) j["ignore_if_range"] = true;
    if (f.range_total) j["range_total"] = *f.range_total;
    if (f.multi_range) j["multi_range"] = *f.multi_range;
    return j;
}

// Writes to a side name and moves it into place, so the server never reads half a file.
void write_atomically(fs::path const& target, std::string_view bytes) {
    fs::path tmp = target;
    tmp += ".writing";
    write_file(tmp, bytes);
#ifdef _WIN32
    replace_file(tmp, target);
#else
    fs::rename(tmp, target);
#endif
}

#ifdef _WIN32
// The server's signing answers (tests/support/patch_server.py).
std::string signing_request(std::string_view key, std::string_view what) {
    return http_get(L"KorvelTest", http_base() + "/_sign/" + std::string(key) + "/" + std::string(what));
}

std::string hex(std::string_view bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

#endif

}  // namespace

#ifdef _WIN32
std::string release_public_key(std::string_view key) {
    return signing_request(key, "public");
}
#endif

std::string http_base() {
    return "http://127.0.0.1:" + std::to_string(server_info().http_port);
}

std::string https_base() {
    return "https://localhost:" + std::to_string(server_info().https_port);
}

std::vector<Span> Request::spans() const {
    std::vector<Span> spans;
    std::optional<std::string> const h = header("Range");
    if (!h) return spans;
    for (std::size_t at = 6; at < h->size();) {
        std::size_t const dash = h->find('-', at), comma = std::min(h->find(',', at), h->size());
        spans.push_back({std::stoull(h->substr(at, dash - at)), std::stoull(h->substr(dash + 1, comma - dash - 1))});
        at = comma + 1;
    }
    return spans;
}

std::vector<Span> spans_of(std::vector<Request> const& requests) {
    std::vector<Span> spans;
    for (Request const& r : requests)
        for (Span const& s : r.spans()) spans.push_back(s);
    return spans;
}

std::optional<std::string> Request::header(std::string_view name) const {
    auto const same = [](std::string_view a, std::string_view b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                          [](char x, char y) { return std::tolower(std::uint8_t(x)) == std::tolower(std::uint8_t(y)); });
    };
    for (auto const& [n, v] : headers)
        if (same(n, name)) return v;
    return std::nullopt;
}

std::vector<Request> all_requests() {
    std::string const log = read_file(server_info().request_log);
    std::vector<Request> requests;
    std::size_t start = 0;
    // A line without its newline is still being written: it is not a request yet.
    for (std::size_t end; (end = log.find('\n', start)) != std::string::npos; start = end + 1) {
        json const entry = json::parse(log.substr(start, end - start));
        Request r;
        r.scheme = entry.at("scheme").get<std::string>();
        r.method = entry.at("method").get<std::string>();
        r.path = entry.at("path").get<std::string>();
        r.attempt = entry.at("attempt").get<int>();
        r.connection = entry.at("connection").get<int>();
        r.time = entry.at("time").get<double>();
        for (auto const& h : entry.at("headers")) r.headers.emplace_back(h.at(0).get<std::string>(), h.at(1).get<std::string>());
        requests.push_back(std::move(r));
    }
    return requests;
}

ServedFolder::ServedFolder(std::string_view name) {
    std::string const id = unique_name(name);
    prefix_ = "/t/" + id + "/";
    folder_ = server_root() / "t" / local_path(id);
    fs::remove_all(folder_);
    fs::create_directories(folder_);
}

ServedFolder::~ServedFolder() {
    std::error_code ec;
    fs::remove_all(folder_, ec);
}

fs::path ServedFolder::local(std::string_view relative) const {
    return folder_ / local_path(relative);
}

void ServedFolder::put(std::string_view relative, std::string_view bytes) const {
    write_atomically(local(relative), bytes);
}

// The server restarts a path's attempt count whenever its fault file changes; the
// serial makes every call a change, even when it sets the same fault again.
void ServedFolder::write_fault(std::string_view relative, json document) const {
    static std::atomic<unsigned> serial{0};
    document["serial"] = serial++;
    fs::path file = local(relative);
    file += ".fault.json";
    write_atomically(file, document.dump());
}

void ServedFolder::set_fault(std::string_view relative, Fault const& fault) const {
    write_fault(relative, fault_json(fault));
}

void ServedFolder::set_attempts(std::string_view relative, std::vector<Fault> const& attempts) const {
    json list = json::array();
    for (Fault const& f : attempts) list.push_back(fault_json(f));
    write_fault(relative, json{{"attempts", list}});
}

void ServedFolder::clear_fault(std::string_view relative) const {
    fs::path file = local(relative);
    file += ".fault.json";
    std::error_code ec;
    fs::remove(file, ec);
}

#ifdef _WIN32
void ServedFolder::sign_version(std::string_view relative, std::uint64_t sequence, std::string_view key) const {
    json document = json::parse(read_file(local(relative)));
    std::string const manifest = http_get(L"KorvelTest", document.at("manifest_url").get<std::string>());
    document["manifest_sha256"] = sha256_hex(manifest);
    document["sequence"] = sequence;
    document["signature"] = signing_request(key, hex(document.dump()));
    put(relative, document.dump());
}
#endif

std::vector<Request> ServedFolder::requests() const {
    std::vector<Request> mine;
    for (Request& r : all_requests())
        if (decoded_path_of(r).starts_with(prefix_)) mine.push_back(std::move(r));
    return mine;
}

std::vector<Request> ServedFolder::requests(std::string_view relative) const {
    std::string const wanted = path(relative);
    std::vector<Request> mine;
    for (Request& r : all_requests())
        if (decoded_path_of(r) == wanted) mine.push_back(std::move(r));
    return mine;
}

}  // namespace korvel::test
