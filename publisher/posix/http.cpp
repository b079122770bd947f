// The publisher's HTTP on Linux: libcurl, asked for what WinHTTP gives the launcher
// (redirects followed, no-cache headers, the launcher's user agent, bodies as sent
// without content decoding). `verify` runs its file checks through one multi handle:
// up to 16 transfers at once, each easy handle reused for the next file so that its
// connection is too, every body hashed as it arrives and then dropped.
#include "publisher/host.h"

#include "core/ascii.h"
#include "publisher/file_digest.h"
#include "core/user_agent.h"

#include <curl/curl.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace korvel {

namespace {

// Transfers at once: enough to keep a server's disks and a long link busy, few enough
// not to look like an attack to the server.
constexpr std::size_t parallel_transfers = 16;

void global_init() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) throw std::runtime_error("curl_global_init failed");
    });
}

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct HeaderListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using Easy = std::unique_ptr<CURL, EasyDeleter>;
using Multi = std::unique_ptr<CURLM, MultiDeleter>;
using HeaderList = std::unique_ptr<curl_slist, HeaderListDeleter>;

// The documents and files must be what the server holds now, not a cache's older copy.
HeaderList no_cache_headers() {
    curl_slist* list = curl_slist_append(nullptr, "Cache-Control: no-cache");
    list = curl_slist_append(list, "Pragma: no-cache");
    if (!list) throw std::bad_alloc();
    return HeaderList(list);
}

long status_of(CURL* easy) {
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    return status;
}

bool success_status(long status) {
    return status >= 200 && status <= 299;
}

// One GET's receiving end. Bodies of non-2xx answers are read and dropped.
struct Transfer {
    Easy easy;
    std::size_t index = 0;
    std::string url;
    char error[CURL_ERROR_SIZE] = {};
    // Hashing a file
    std::unique_ptr<FileDigester> hash;
    std::uint64_t size = 0;
    std::uint64_t limit = 0;
    bool over_limit = false;
    BytesReadFn const* on_read = nullptr;
    // Collecting a document
    std::string* body = nullptr;

    static std::size_t receive(char* data, std::size_t, std::size_t n, void* self) {
        auto& t = *static_cast<Transfer*>(self);
        if (!success_status(status_of(t.easy.get()))) return n;
        if (t.size + n > t.limit) {
            t.over_limit = true;
            return 0;  // makes curl stop with CURLE_WRITE_ERROR
        }
        t.size += n;
        if (t.body) t.body->append(data, n);
        if (t.hash) t.hash->update(data, n);
        if (t.on_read && *t.on_read) (*t.on_read)(n);
        return n;
    }

    // A fresh receiving end for `target`, keeping the handle and with it its connection.
    void start(std::string target, std::uint64_t size_limit) {
        url = std::move(target);
        error[0] = '\0';
        size = 0;
        limit = size_limit;
        over_limit = false;
        curl_easy_setopt(easy.get(), CURLOPT_URL, url.c_str());
    }

    // What went wrong, or "" when the body arrived whole with a 2xx status.
    std::string failure(CURLcode result) const {
        if (result == CURLE_OK) {
            long const status = status_of(easy.get());
            return success_status(status) ? std::string() : "HTTP " + std::to_string(status) + ": " + url;
        }
        std::string const why = error[0] ? error : curl_easy_strerror(result);
        if (result == CURLE_PARTIAL_FILE) return "Incomplete HTTP response: " + url + " (" + why + ")";
        return why + ": " + url;
    }
};

std::unique_ptr<Transfer> make_transfer(curl_slist* headers) {
    global_init();
    auto t = std::make_unique<Transfer>();
    t->easy.reset(curl_easy_init());
    CURL* const e = t->easy.get();
    if (!e) throw std::runtime_error("curl_easy_init failed");
    curl_easy_setopt(e, CURLOPT_USERAGENT, launcher_user_agent_text);
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    // The launcher's limits: 15 s to connect, and a transfer that stalls for two
    // minutes has failed.
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, 15L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, 120L);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_BUFFERSIZE, 256L * 1024);
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, t->error);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Transfer::receive);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, t.get());
    curl_easy_setopt(e, CURLOPT_PRIVATE, t.get());
    return t;
}

}  // namespace

void check_url(std::string const& url) {
    auto const fail = [&] { throw std::runtime_error("Invalid URL: " + url); };
    std::size_t const colon = url.find("://");
    if (colon == std::string::npos) fail();
    std::string const scheme = ascii_lower(url.substr(0, colon));
    if (scheme != "http" && scheme != "https") fail();
    std::string_view authority(url);
    authority = authority.substr(colon + 3, authority.find_first_of("/?#", colon + 3) - colon - 3);
    if (std::size_t const at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
    std::string_view host = authority;
    if (std::size_t const port_colon = authority.rfind(':');
        port_colon != std::string_view::npos && authority.find(']', port_colon) == std::string_view::npos) {
        std::string_view const port = authority.substr(port_colon + 1);
        host = authority.substr(0, port_colon);
        if (port.empty() || port.size() > 5 ||
            !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
            std::stoul(std::string(port)) > 65535)
            fail();
    }
    if (host.empty()) fail();
}

std::string fetch_document(std::string const& url, std::uint64_t max_bytes) {
    check_url(url);
    HeaderList const headers = no_cache_headers();
    std::unique_ptr<Transfer> const t = make_transfer(headers.get());
    std::string body;
    t->body = &body;
    t->start(url, max_bytes);
    CURLcode const result = curl_easy_perform(t->easy.get());
    if (t->over_limit)
        throw std::runtime_error("HTTP response larger than " +
                                 (max_bytes % (1 << 20) == 0 ? std::to_string(max_bytes >> 20) + " MiB: "
                                                             : std::to_string(max_bytes) + " bytes: ") +
                                 url);
    if (std::string const why = t->failure(result); !why.empty()) throw std::runtime_error(why);
    return body;
}

namespace {

Multi open_multi() {
    Multi multi(curl_multi_init());
    if (!multi) throw std::runtime_error("curl_multi_init failed");
    curl_multi_setopt(multi.get(), CURLMOPT_MAX_TOTAL_CONNECTIONS, static_cast<long>(parallel_transfers));
    curl_multi_setopt(multi.get(), CURLMOPT_MAX_HOST_CONNECTIONS, static_cast<long>(parallel_transfers));
    return multi;
}

// Tells `done` how the transfer `t` ended with `result`.
void report_transfer(Transfer& t, CURLcode result, RemoteDoneFn const& done) {
    std::string const why = t.over_limit ? std::string() : t.failure(result);
    if (why.empty()) {
        FileDigest digest = t.hash->finish();
        // An oversized body stopped early; no listed size matches this one.
        digest.size = t.over_limit ? t.limit + 1 : t.size;
        done(t.index, &digest, {});
    } else {
        done(t.index, nullptr, why);
    }
}

// Takes every transfer that ended out of `multi`, reports it and hands its slot to
// `reuse`; returns how many ended.
std::size_t take_finished(CURLM* multi, RemoteDoneFn const& done, std::function<void(Transfer&)> const& reuse) {
    std::size_t finished = 0;
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
        if (message->msg != CURLMSG_DONE) continue;
        CURL* const easy = message->easy_handle;
        CURLcode const result = message->data.result;
        Transfer* t = nullptr;
        curl_easy_getinfo(easy, CURLINFO_PRIVATE, &t);
        curl_multi_remove_handle(multi, easy);
        report_transfer(*t, result, done);
        ++finished;
        reuse(*t);
    }
    return finished;
}

}  // namespace

void hash_remote_files(std::vector<RemoteFile> const& files, BytesReadFn const& on_read, RemoteDoneFn const& done) {
    if (files.empty()) return;
    global_init();
    HeaderList const headers = no_cache_headers();
    Multi const multi = open_multi();

    std::vector<std::unique_ptr<Transfer>> slots;
    std::size_t next = 0;
    // Handles still in the multi handle are taken out before any of them is cleaned up.
    struct Detach {
        CURLM* multi;
        std::vector<std::unique_ptr<Transfer>>& slots;
        ~Detach() {
            for (auto& t : slots) curl_multi_remove_handle(multi, t->easy.get());
        }
    } const detach{multi.get(), slots};

    auto begin = [&](Transfer& t) {
        t.index = next;
        t.hash = std::make_unique<FileDigester>(files[next].index_params);
        t.start(files[next].url, files[next].size_limit);
        ++next;
        if (curl_multi_add_handle(multi.get(), t.easy.get()) != CURLM_OK)
            throw std::runtime_error("curl_multi_add_handle failed");
    };
    for (std::size_t k = 0; k < std::min(parallel_transfers, files.size()); ++k) {
        slots.push_back(make_transfer(headers.get()));
        slots.back()->on_read = &on_read;
        begin(*slots.back());
    }

    std::size_t finished = 0;
    while (finished < files.size()) {
        int running = 0;
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK) throw std::runtime_error("curl_multi_perform failed");
        finished += take_finished(multi.get(), done, [&](Transfer& t) {
            if (next < files.size()) begin(t);
        });
        if (finished < files.size() && running > 0 &&
            curl_multi_poll(multi.get(), nullptr, 0, 1000, nullptr) != CURLM_OK)
            throw std::runtime_error("curl_multi_poll failed");
    }
}

}  // namespace korvel
