#include "publisher/publish_command.h"

#include "platform/files.h"
#include "platform/text.h"
#include "publisher/release_build.h"
#include "publisher/release_verify.h"

#include <map>
#include <optional>
#include <stdexcept>

namespace korvel {

namespace {

constexpr char usage[] =
    "usage:\n"
    "  korvel-publish build RELEASE_DIR OUT_DIR --client-version V --base-url URL\n"
    "                 [--previous OLD_MANIFEST] [--launcher FILE --launcher-version V [--launcher-url URL]]\n"
    "  korvel-publish verify VERSION_URL\n";

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Positional arguments and "--name value" options, each option at most once.
struct Arguments {
    std::vector<std::wstring> positional;
    std::map<std::string, std::wstring> options;

    std::optional<std::wstring> take(std::string const& name) {
        auto const it = options.find(name);
        if (it == options.end()) return std::nullopt;
        std::wstring value = it->second;
        options.erase(it);
        return value;
    }
    std::wstring require(std::string const& name) {
        std::optional<std::wstring> value = take(name);
        if (!value) throw UsageError("missing --" + name);
        return *value;
    }
};

Arguments parse(std::vector<std::wstring> const& args) {
    Arguments parsed;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i].rfind(L"--", 0) != 0) {
            parsed.positional.push_back(args[i]);
            continue;
        }
        std::string const name = wide_to_utf8(args[i].substr(2));
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
    o.client_version = wide_to_utf8(a.require("client-version"));
    o.base_url = wide_to_utf8(a.require("base-url"));
    if (auto p = a.take("previous")) o.previous_manifest = *p;
    if (auto p = a.take("launcher")) {
        o.launcher_file = *p;
        o.launcher_version = wide_to_utf8(a.require("launcher-version"));
        o.launcher_url = wide_to_utf8(a.take("launcher-url").value_or(L""));
    }
    if (!a.options.empty()) throw UsageError("unknown or unused option --" + a.options.begin()->first);

    BuildSummary const s = build_release(o, err);
    std::string const out_dir = wide_to_utf8(o.out_dir.native());
    if (s.already_published)
        out << "Release " << o.client_version << " was already published with the same files; left as it was.\n";
    else
        out << "Release " << o.client_version << ": " << s.files << " files, " << format_bytes(double(s.bytes)) << " ("
            << s.linked << " hard-linked from the previous release), " << s.deletes.size() << " to delete.\n";
    out << "Manifest:         " << s.manifest_url << "\n"
        << "Version document: " << wide_to_utf8(s.version_file.native()) << "\n"
        << "Upload " << out_dir << " to the server with patch/version.json last, then run:\n"
        << "  korvel-publish verify <URL of patch/version.json>\n";
    return 0;
}

int verify(Arguments& a, std::ostream& out, std::ostream& err) {
    if (a.positional.size() != 2 || !a.options.empty()) throw UsageError("verify takes one VERSION_URL");
    std::string const url = wide_to_utf8(a.positional[1]);
    VerifyReport const report = verify_release(url, err);
    for (std::string const& problem : report.problems) out << "FAILED " << problem << "\n";
    out << (report.problems.empty() ? "OK: " : "NOT OK: ") << report.files_checked << " files checked, "
        << report.problems.size() << " problems.\n";
    return report.problems.empty() ? 0 : 1;
}

}  // namespace

int run_publish_command(std::vector<std::wstring> const& args, std::ostream& out, std::ostream& err) {
    try {
        Arguments a = parse(args);
        if (a.positional.empty()) throw UsageError("no command");
        if (a.positional[0] == L"build") return build(a, out, err);
        if (a.positional[0] == L"verify") return verify(a, out, err);
        throw UsageError("unknown command " + wide_to_utf8(a.positional[0]));
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
