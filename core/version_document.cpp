#include "core/version_document.h"

#include "core/ascii.h"
#include "core/json_document.h"
#include "core/json_number.h"

#include <nlohmann/json.hpp>

#include <stdexcept>

namespace korvel {

namespace {

using nlohmann::json;

// The key's string, or "" when absent; a present key of another type is the library's
// type error, so a malformed offer is reported rather than silently ignored.
std::string optional_string(json const& object, char const* key) {
    auto const it = object.find(key);
    return it == object.end() ? std::string() : it->get<std::string>();
}

}  // namespace

VersionDocument read_version_document(std::string_view body) {
    json const doc = parse_json_document(body);

    VersionDocument result;
    // contains() is false for every non-object, so at() below raises the type error
    // that names what the top level was.
    result.client_version = doc.contains("client_version") ? doc.at("client_version").get<std::string>()
                                                           : doc.at("version").get<std::string>();
    result.manifest_url = doc.at("manifest_url").get<std::string>();
    result.manifest_mirrors = url_list(doc, "manifest_mirrors");

    if (auto const it = doc.find("launcher"); it != doc.end() && it->is_object()) {
        LauncherUpdate& offer = result.launcher;
        offer.version = optional_string(*it, "version");
        offer.url = optional_string(*it, "url");
        offer.sha256 = ascii_lower(optional_string(*it, "sha256"));
        if (auto const size = it->find("size"); size != it->end()) offer.size = json_to_u64(*size);
        result.launcher_offered = !offer.version.empty() && !offer.url.empty() && !offer.sha256.empty();
    }

    if (result.client_version.empty() || result.manifest_url.empty())
        throw std::runtime_error("A version.json hiányos.");
    return result;
}

json version_document_json(VersionDocument const& document) {
    json result = {{"client_version", document.client_version}, {"manifest_url", document.manifest_url}};
    if (!document.manifest_mirrors.empty()) result["manifest_mirrors"] = document.manifest_mirrors;
    if (document.launcher_offered) {
        LauncherUpdate const& offer = document.launcher;
        result["launcher"] = {{"version", offer.version}, {"url", offer.url}, {"sha256", offer.sha256}, {"size", offer.size}};
    }
    return result;
}

std::string version_document_text(json const& document) {
    return document.dump(2) + "\n";
}

}  // namespace korvel
