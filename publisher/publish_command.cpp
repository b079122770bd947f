#include "publisher/publish_command.h"

#include "core/format_bytes.h"
#include "publisher/release_build.h"
#include "publisher/release_signing.h"
#include "publisher/release_verify.h"

#include <map>
#include <optional>
#include <set>
#include <stdexcept>

namespace korvel {

namespace {

constexpr char usage[] =
    "usage:\n"
    "  korvel-publish build RELEASE_DIR OUT_DIR --client-version V --base-url URL\n"
    "                 [--previous OLD_MANIFEST] [--launcher FILE --launcher-version V [--launcher-url URL]]\n"
    "                 [--sign-key KEY_FILE [--sequence N]] [--no-delta]\n"
    "  korvel-publish verify VERSION_URL [--public-key B64]\n"
    "  korvel-publish keygen KEY_FILE\n";

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Positional arguments and "--name value" options, each option at most once.
// Values stay as the system passed them: paths are used as they are, texts read as
// UTF-8 through text().
struct Arguments {
    std::vector<NativeString> positional;
    std::map<std::string, NativeString> options;

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
    if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string::npos)
        throw UsageError("--sequence takes an unsigned integer");
    return std::stoull(text);
}

// Options that take no value.
std::set<std::string> const flags = {"no-delta"};

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
        if (flags.contains(name)) {
            if (!parsed.options.emplace(name, NativeString()).second) throw UsageError("--" + name + " given twice");
            continue;
        }
        if (i + 1 >= args.size()) throw UsageError("--" + name + " needs a value");
        if (!parsed.options.emplace(name, args[++i]).second) throw UsageError("--" + name + " given twice");
    }
    return parsed;
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
    if (a.take("no-delta")) o.chunk_indexes = false;
    if (!a.options.empty()) throw UsageError("unknown or unused option --" + a.options.begin()->first);

    BuildSummary const s = build_release(o, err);
    std::string const out_dir = path_text(o.out_dir);
    if (s.already_published && s.restored.empty()) {
        out << "Release " << o.client_version << " was already published with the same files; left as it was.\n";
    } else if (s.already_published) {
        out << "Release " << o.client_version << " was already published with the same files; restored "
            << s.restored.size() << " damaged " << (s.restored.size() == 1 ? "file" : "files") << ":\n";
        for (std::string const& path : s.restored) out << "  " << path << "\n";
    } else {
        out << "Release " << o.client_version << ": " << s.files << " files, " << format_bytes(double(s.bytes)) << " ("
            << s.linked << " hard-linked from the previous release), " << s.deletes.size() << " to delete.\n";
    }
    out << "Manifest:         " << s.manifest_url << "\n"
        << "Version document: " << path_text(s.version_file)
        << (o.sign_key ? ", signed, sequence " + std::to_string(s.sequence) : std::string()) << "\n"
        << "Upload " << out_dir << " to the server with patch/version.json last, then run:\n"
        << "  korvel-publish verify <URL of patch/version.json>\n";
    return 0;
}

int verify(Arguments& a, std::ostream& out, std::ostream& err) {
    std::string const public_key = a.take_text("public-key").value_or("");
    if (a.positional.size() != 2 || !a.options.empty()) throw UsageError("verify takes one VERSION_URL");
    std::string const url = native_text(a.positional[1]);
    VerifyReport const report = verify_release(url, public_key, err);
    for (std::string const& problem : report.problems) out << "FAILED " << problem << "\n";
    out << (report.problems.empty() ? "OK: " : "NOT OK: ") << report.files_checked << " files checked, "
        << report.problems.size() << " problems.\n";
    return report.problems.empty() ? 0 : 1;
}

int keygen(Arguments& a, std::ostream& out) {
    if (a.positional.size() != 2 || !a.options.empty()) throw UsageError("keygen takes one KEY_FILE");
    std::filesystem::path const key_file = a.positional[1];
    std::string const public_key = generate_release_key(key_file);
    out << public_key << "\n";
    return 0;
}

}  // namespace

int run_publish_command(std::vector<NativeString> const& args, std::ostream& out, std::ostream& err) {
    try {
        Arguments a = parse(args);
        if (a.positional.empty()) throw UsageError("no command");
        std::string const command = native_text(a.positional[0]);
        if (command == "build") return build(a, out, err);
        if (command == "verify") return verify(a, out, err);
        if (command == "keygen") return keygen(a, out);
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
