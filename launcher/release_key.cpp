#include "launcher/release_key.h"

namespace korvel {

namespace {

std::string& key_storage() {
    static std::string key;
    return key;
}

}  // namespace

void set_release_public_key(std::string_view base64_key) {
    key_storage() = base64_key;
}

std::string const& release_public_key() {
    return key_storage();
}

}  // namespace korvel
