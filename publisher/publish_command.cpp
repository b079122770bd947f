#include "publisher/publish_command.h"

#include "core/format_bytes.h"
#include "core/parse_int.h"
#include "core/release_keys.h"
#include "publisher/launcher_trust.h"
#include "publisher/release_build.h"
#include "publisher/release_signing.h"
#include "publisher/release_verify.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace korvel {

namespace {

constexpr char usage[] =
    "usage:\n"
    "  korvel-publish build RELEASE_DIR OUT_DIR --client-version V --base-url URL\n"
    "                 [--previous OLD_MANIFEST] [--launcher FILE --launcher-version V [--launcher-url URL]]\n"
    "                 [--sign-key KEY_FILE [--sequence N]] [--no-delta]\n"
    "                 [--allow-unsigned] [--allow-new-key] [--first-signed-release] [--go-back]\n"
    "                 [--allow-unkeyed-launcher] [--allow-keyed-launcher] [--allow-launcher-key-change]\n"
    "                 [--allow-test-key-launcher] [--allow-unknown-launcher-keys]\n"
    "                 [--mend-base-url]\n"
    "  korvel-publish verify VERSION_URL|OUT_DIR|VERSION_FILE [--public-key B64[,B64...]] [--base-url URL]\n"
    "  korvel-publish keygen KEY_FILE\n"
    "  korvel-publish public-key KEY_FILE\n"
    "  korvel-publish --help\n";

// Options that take no value: --no-delta, and each flag that lets `build` through one guard
// of its release history (and those of an offered launcher, launcher_trust.h).
constexpr char const* flags[] = {"allow-unsigned", "allow-new-key", "first-signed-release", "go-back",
                                 "mend-base-url",  "no-delta"};

bool is_flag(std::string const& name) {
    std::vector<std::string> const launcher_flags = launcher_slip_flags();
    return std::find(std::begin(flags), std::end(flags), name) != std::end(flags) ||
           std::find(launcher_flags.begin(), launcher_flags.end(), "--" + name) != launcher_flags.end();
}

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Positional arguments and "--name value" options, each option at most once.
// Values stay as the system passed them: paths are used as they are, texts read as
// UTF-8 through text().
struct Arguments {
    std::vector<NativeString> positional;
    std::map<std::string, NativeString> options;
    std::set<std::string> flags;

    bool flag(std::string const& name) { return flags.erase(name) > 0; }

    std::optional<NativeString> take(std::string const& name) {
        auto const it = options.find(name);
        if (it == options.end()) return std::nullopt;
        NativeString value = it->second;
        options.erase(it);
        return value;
    }
    NativeString require(std::string const& name) {
        std::optional<NativeString> value = take(name);
        if (!value) throw UsageError("missing --" + name);
        return *value;
    }
    std::optional<std::string> take_text(std::string const& name) {
        std::optional<NativeString> value = take(name);
        return value ? std::optional(native_text(*value)) : std::nullopt;
    }
    std::string require_text(std::string const& name) { return native_text(require(name)); }
};

std::uint64_t parse_sequence(std::string const& text) {
    std::optional<std::uint64_t> const sequence = parse_u64(text);
    if (!sequence) throw UsageError("--sequence takes an unsigned integer");
    return *sequence;
}

bool is_option(NativeString const& arg) {
    return arg.size() >= 2 && arg[0] == '-' && arg[1] == '-';
}

Arguments parse(std::vector<NativeString> const& args) {
    Arguments parsed;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (!is_option(args[i])) {
            parsed.positional.push_back(args[i]);
            continue;
        }
        std::string const name = native_text(args[i].substr(2));
        if (is_flag(name)) {
            if (!parsed.flags.insert(name).second) throw UsageError("--" + name + " given twice");
            continue;
        }
        if (i + 1 >= args.size()) throw UsageError("--" + name + " needs a value");
        if (!parsed.options.emplace(name, args[++i]).second) throw UsageError("--" + name + " given twice");
    }
    return parsed;
}

std::string counted(std::uint64_t n, char const* one, char const* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// What a build did, and how to check it before and after the upload.
void print_build(BuildOptions const& o, BuildSummary const& s, std::ostream& out) {
    for (std::string const& note : s.notes) out << note << "\n";
    if (!s.mended_from.empty())
        out << "Release " << o.client_version << " was already published with the same files under the base URL "
            << s.mended_from << "; mended: " << s.manifest_url << " names "
            << s.manifest_url.substr(0, s.manifest_url.rfind('/')) << "/files, and the version document names it. "
            << "The old manifest is left as it was: upload the new one first, then version.json.\n";
    if (s.already_published && s.restored.empty() && s.mended_from.empty()) {
        out << "Release " << o.client_version << " was already published with the same files; left as it was.\n";
    } else if (s.already_published && !s.restored.empty()) {
        out << "Release " << o.client_version << " was already published with the same files; restored "
            << counted(s.restored.size(), "damaged file", "damaged files") << ":\n";
        for (std::string const& path : s.restored) out << "  " << path << "\n";
    } else if (!s.already_published) {
        out << "Release " << o.client_version << ": " << counted(s.files, "file", "files") << ", "
            << format_binary_bytes(double(s.bytes)) << " (" << s.linked << " hard-linked from the previous release), "
            << s.deletes.size() << " to delete.\n";
    }
    std::string state;
    if (o.sign_key) state = ", signed, sequence " + std::to_string(s.sequence);
    if (s.version_unchanged)
        state = ", unchanged" + state;
    else if (!s.version_changes.empty()) {
        state += " (changed:";
        for (std::size_t i = 0; i < s.version_changes.size(); ++i) state += (i ? ", " : " ") + s.version_changes[i];
        state += ")";
    }
    std::string const key = o.sign_key ? " --public-key " + s.public_key : std::string();
    out << "Manifest:         " << s.manifest_url << "\n"
        << "Version document: " << path_text(s.version_file) << state << "\n";
    if (s.launcher)
        for (std::string const& line : launcher_trust_lines(o.launcher_version, *s.launcher, signed_with(s.public_key)))
            out << line << "\n";
    out << "Check it now:\n  korvel-publish verify " << path_text(o.out_dir) << key << "\n"
        << "Upload " << path_text(o.out_dir) << " to the server with patch/version.json last, then run:\n"
        << "  korvel-publish verify <URL of patch/version.json>" << key << "\n";
}

int build(Arguments& a, std::ostream& out, std::ostream& err) {
    if (a.positional.size() != 3) throw UsageError("build takes RELEASE_DIR and OUT_DIR");
    BuildOptions o;
    o.release_dir = a.positional[1];
    o.out_dir = a.positional[2];
    o.client_version = a.require_text("client-version");
    o.base_url = a.require_text("base-url");
    if (auto p = a.take("previous")) o.previous_manifest = *p;
    if (auto p = a.take("launcher")) {
        o.launcher_file = *p;
        o.launcher_version = a.require_text("launcher-version");
        o.launcher_url = a.take_text("launcher-url").value_or("");
    }
    if (auto p = a.take("sign-key")) o.sign_key = *p;
    if (auto n = a.take_text("sequence")) o.sequence = parse_sequence(*n);
    o.allow_unsigned = a.flag("allow-unsigned");
    o.allow_new_key = a.flag("allow-new-key");
    o.first_signed_release = a.flag("first-signed-release");
    o.go_back = a.flag("go-back");
    o.mend_base_url = a.flag("mend-base-url");
    if (a.flag("no-delta")) o.chunk_indexes = false;
    for (std::string const& flag : launcher_slip_flags())
        if (a.flag(flag.substr(2))) o.launcher_allowed.insert(flag);
    if (!a.options.empty()) throw UsageError("unknown or unused option --" + a.options.begin()->first);

    print_build(o, build_release(o, err), out);
    return 0;
}

bool is_url(std::string const& text) {
    return text.starts_with("http://") || text.starts_with("https://");
}

// A malformed key is the operator's typing, not a bad release.
std::string public_keys_option(Arguments& a) {
    std::optional<std::string> const keys = a.take_text("public-key");
    if (!keys) return {};
    std::vector<std::string> const list = split_release_keys(*keys);
    if (list.empty()) throw UsageError("--public-key needs a key");
    for (std::string const& key : list)
        if (!looks_like_release_key(key))
            throw UsageError("--public-key takes the line that keygen or public-key prints (88 base64 characters), "
                             "several separated by commas; not " + key);
    return *keys;
}

int verify(Arguments& a, std::ostream& out, std::ostream& err) {
    VerifyOptions options;
    options.public_keys = public_keys_option(a);
    options.expected_base = a.take_text("base-url").value_or("");
    if (a.positional.size() != 2 || !a.options.empty() || !a.flags.empty())
        throw UsageError("verify takes one VERSION_URL, OUT_DIR or VERSION_FILE");
    std::string const target = native_text(a.positional[1]);
    bool const local = !is_url(target);
    VerifyReport const report = local ? verify_local_release(a.positional[1], options, err)
                                      : verify_release(target, options, err);
    if (local && !report.base.empty()) out << "Published under " << report.base << "\n";
    if (!report.signature.empty()) out << report.signature << "\n";
    for (std::string const& line : report.launcher_trust) out << line << "\n";
    for (std::string const& note : report.notes) out << "Not checked: " << note << "\n";
    for (std::string const& problem : report.problems) out << "FAILED " << problem << "\n";
    out << (report.problems.empty() ? "OK: " : "NOT OK: ")
        << counted(report.files_checked, "file", "files") << " checked, "
        << counted(report.problems.size(), "problem", "problems") << ".\n";
    return report.problems.empty() ? 0 : 1;
}

int keygen(Arguments& a, std::ostream& out) {
    if (a.positional.size() != 2 || !a.options.empty() || !a.flags.empty())
        throw UsageError("keygen takes one KEY_FILE");
    std::filesystem::path const key_file = a.positional[1];
    std::string const public_key = generate_release_key(key_file);
    out << public_key << "\n";
    return 0;
}

// The line the launcher's build takes (-DKORVEL_RELEASE_PUBLIC_KEY=...), read back from a
// key file.
int public_key(Arguments& a, std::ostream& out) {
    if (a.positional.size() != 2 || !a.options.empty() || !a.flags.empty())
        throw UsageError("public-key takes one KEY_FILE");
    out << ReleaseKey(a.positional[1]).public_key() << "\n";
    return 0;
}

bool asks_for_help(std::vector<NativeString> const& args) {
    for (NativeString const& arg : args) {
        std::string const text = native_text(arg);
        if (text == "--help" || text == "-h") return true;
    }
    return !args.empty() && native_text(args[0]) == "help";
}

}  // namespace

int run_publish_command(std::vector<NativeString> const& args, std::ostream& out, std::ostream& err) {
    try {
        if (asks_for_help(args)) {
            out << usage;
            return 0;
        }
        Arguments a = parse(args);
        if (a.positional.empty()) throw UsageError("no command");
        std::string const command = native_text(a.positional[0]);
        if (command == "build") return build(a, out, err);
        if (command == "verify") return verify(a, out, err);
        if (command == "keygen") return keygen(a, out);
        if (command == "public-key") return public_key(a, out);
        throw UsageError("unknown command " + command);
    } catch (UsageError const& e) {
        err << "korvel-publish: " << e.what() << "\n" << usage;
        return 2;
    } catch (std::invalid_argument const& e) {
        err << "korvel-publish: " << e.what() << "\n";
        return 2;
    } catch (std::exception const& e) {
        err << "\nkorvel-publish: " << e.what() << "\n";
        return 1;
    }
}

}  // namespace korvel
