#include "publisher/launcher_trust.h"

#include "core/read_file.h"
#include "publisher/host.h"
#include "publisher/release_build.h"

#include <algorithm>
#include <stdexcept>

namespace korvel {

namespace {

constexpr char unknown_keys_flag[] = "--allow-unknown-launcher-keys";
constexpr char unkeyed_flag[] = "--allow-unkeyed-launcher";
constexpr char keyed_flag[] = "--allow-keyed-launcher";
constexpr char key_change_flag[] = "--allow-launcher-key-change";
constexpr char test_key_flag[] = "--allow-test-key-launcher";

}  // namespace

OfferedLauncher read_offered_launcher(std::string_view image) {
    try {
        return {read_launcher_keys(image), {}};
    } catch (std::exception const& e) {
        return {std::nullopt, e.what()};
    }
}

SignsReleaseFn signed_with(std::string signing_key) {
    return [signing_key = std::move(signing_key)](std::string const& key) {
        return !signing_key.empty() && key == signing_key;
    };
}

std::vector<LauncherSlip> launcher_slips(OfferedLauncher const& launcher, bool release_signed,
                                         SignsReleaseFn const& signs) {
    if (!launcher.keys)
        return {{"which release keys it trusts cannot be read: " + launcher.unreadable,
                 std::string("Offer a davari.exe from this project's build, or give ") + unknown_keys_flag,
                 unknown_keys_flag}};
    std::vector<TrustedKey> const& keys = launcher.keys->keys;
    auto const any = [&keys](auto const& holds) { return std::any_of(keys.begin(), keys.end(), holds); };
    std::vector<LauncherSlip> slips;
    if (release_signed && keys.empty())
        slips.push_back({"it trusts no release key: players who take it check no release's signature from then on, "
                         "and whoever controls the server can run any program on their machines",
                         std::string("Offer the launcher built with -DKORVEL_RELEASE_PUBLIC_KEY, or give ") +
                             unkeyed_flag + " to stop checking signatures",
                         unkeyed_flag});
    if (!release_signed && !keys.empty())
        slips.push_back({"it trusts release keys and this release is unsigned: players who take it refuse the next "
                         "unsigned release",
                         std::string("Sign this release (--sign-key), or give ") + keyed_flag +
                             " if every release from now on is signed",
                         keyed_flag});
    if (release_signed && !keys.empty() && !any([&](TrustedKey const& k) { return signs(k.key); }))
        slips.push_back({"none of the keys it trusts signs this release: players who take it refuse the next "
                         "release signed with this key",
                         std::string("Offer a launcher that trusts this key too, or give ") + key_change_flag +
                             " if the next releases are signed with a key it trusts (as after a leaked key)",
                         key_change_flag});
    if (any([](TrustedKey const& k) { return k.throwaway; }) &&
        !(release_signed && any([&](TrustedKey const& k) { return k.throwaway && signs(k.key); })))
        slips.push_back({"it trusts a throwaway test key, whose private half lies in every build folder: anyone with a "
                         "copy can sign releases that players who take it follow",
                         std::string("Offer davari.exe from a build configured with your own key, or give ") +
                             test_key_flag,
                         test_key_flag});
    return slips;
}

std::vector<std::string> launcher_slip_flags() {
    return {unknown_keys_flag, unkeyed_flag, keyed_flag, key_change_flag, test_key_flag};
}

std::vector<std::string> launcher_trust_lines(std::string const& launcher_version, OfferedLauncher const& launcher,
                                              SignsReleaseFn const& signs) {
    std::string const name = "Offered launcher " + launcher_version;
    if (!launcher.keys) return {name + ": which release keys it trusts cannot be read (" + launcher.unreadable + ")."};
    std::vector<TrustedKey> const& keys = launcher.keys->keys;
    if (keys.empty()) return {name + " trusts no release key: it checks no signature."};
    std::vector<std::string> lines = {name + " trusts " + std::to_string(keys.size()) +
                                      (keys.size() == 1 ? " release key:" : " release keys:")};
    for (TrustedKey const& k : keys) {
        std::string marks = signs(k.key) ? "signs this release" : "";
        if (k.throwaway) marks += (marks.empty() ? "" : ", ") + std::string("throwaway test key");
        lines.push_back("  " + k.key + (marks.empty() ? "" : " (" + marks + ")"));
    }
    return lines;
}

OfferedLauncher check_offered_launcher(std::filesystem::path const& file, std::string const& signing_key,
                                       std::set<std::string> const& allowed) {
    std::optional<std::string> const bytes = read_whole_file(file);
    if (!bytes) throw std::runtime_error("Cannot open " + path_text(file));
    OfferedLauncher launcher = read_offered_launcher(*bytes);
    std::vector<std::string> refusals;
    for (LauncherSlip const& slip : launcher_slips(launcher, !signing_key.empty(), signed_with(signing_key)))
        if (!allowed.count(slip.flag))
            refusals.push_back("the offered launcher " + path_text(file) + ": " + slip.problem + ". " + slip.remedy);
    if (!refusals.empty()) throw PublishRefused(refusals);
    return launcher;
}

}  // namespace korvel
