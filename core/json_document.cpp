#include "core/json_document.h"

#include <string>

namespace korvel {

using nlohmann::json;

json parse_json_document(std::string_view text, json::parser_callback_t callback) {
    // The depth the library passes with a start event is the number of containers
    // already open around the one that starts.
    auto const bounded = [&callback](int depth, json::parse_event_t event, json& parsed) {
        if ((event == json::parse_event_t::object_start || event == json::parse_event_t::array_start) &&
            depth >= json_depth_limit)
            throw json::parse_error::create(
                101, 0, "document nested deeper than " + std::to_string(json_depth_limit) + " levels", nullptr);
        return !callback || callback(depth, event, parsed);
    };
    return json::parse(text, bounded);
}

std::vector<std::string> url_list(nlohmann::json const& object, char const* key) {
    std::vector<std::string> urls;
    auto const it = object.find(key);
    if (it == object.end() || !it->is_array()) return urls;
    for (nlohmann::json const& element : *it)
        if (element.is_string()) {
            std::string const& url = element.get_ref<std::string const&>();
            if (url.starts_with("http://") || url.starts_with("https://")) urls.push_back(url);
        }
    return urls;
}

}  // namespace korvel
