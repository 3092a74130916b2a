// The Debian packages made from this build by scripts/package: lintian's verdict; the runtime
// unpacked into a bare folder (its libraries, serving with the token of its environment, its user
// service verified by systemd and started by hand the way systemd starts it); the companion's
// two programs and files, the libraries each loads, and its dependencies on the QML modules its
// window imports.

#include "platform/ProcessRunner.h"
#include "support/AgentProcess.h"
#include "support/LoopbackHTTP.h"
#include "support/TemporaryFolder.h"

#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace kestro;
using namespace kestro::testing;

namespace {

// The package of that name in the packages folder; empty when there is none.
std::string packageFile(const std::string& name) {
    for (const auto& entry : fs::directory_iterator(KESTRO_PACKAGES_DIR)) {
        const std::string file = entry.path().filename().string();
        if (file.starts_with(name + "_" KESTRO_VERSION "_") && file.ends_with(".deb"))
            return entry.path().string();
    }
    return "";
}

ProcessRunResult run(const std::string& executable, const std::vector<std::string>& arguments,
                     std::optional<std::vector<std::string>> environment = std::nullopt) {
    return runProcess(
        {.executable = executable, .arguments = arguments, .environment = std::move(environment)});
}

std::string controlField(const std::string& package, const std::string& field) {
    std::string value = run("/usr/bin/dpkg-deb", {"--field", package, field}).standardOutput;
    while (!value.empty() && value.back() == '\n')
        value.pop_back();
    return value;
}

// The package names in a relation field such as Depends, without versions or architectures.
std::set<std::string> packageNames(const std::string& relations) {
    static const std::regex kName(R"((?:^|[,|])\s*([a-z0-9][a-z0-9+.-]+))");
    std::set<std::string> names;
    for (std::sregex_iterator match(relations.begin(), relations.end(), kName), end; match != end; ++match)
        names.insert((*match)[1]);
    return names;
}

// The package that installed a file of this system, also when the file is named through the
// /lib link to /usr/lib.
std::string owningPackage(const std::string& path) {
    std::vector<std::string> names{path};
    if (path.starts_with("/lib")) names.push_back("/usr" + path);
    if (path.starts_with("/usr/lib")) names.push_back(path.substr(4));
    for (const auto& name : names) {
        const auto found = run("/usr/bin/dpkg-query", {"--search", name});
        if (found.status == 0) return found.standardOutput.substr(0, found.standardOutput.find(':'));
    }
    return "";
}

std::string fileText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The libraries a program names itself (not those of its libraries), each with where the dynamic
// linker finds it, or "not found".
std::map<std::string, std::string> directLibraries(const std::string& program) {
    std::map<std::string, std::string> libraries;
    static const std::regex kNeeded(R"(\(NEEDED\)\s+Shared library: \[([^\]]+)\])");
    const std::string dynamic = run("/usr/bin/readelf", {"--dynamic", program}).standardOutput;
    for (std::sregex_iterator match(dynamic.begin(), dynamic.end(), kNeeded), end; match != end; ++match)
        libraries[(*match)[1]] = "not found";
    static const std::regex kResolved(R"(^\s*(\S+) => (\S+))");
    std::istringstream lines(run("/usr/bin/ldd", {program}).standardOutput);
    for (std::string line; std::getline(lines, line);) {
        std::smatch match;
        if (std::regex_search(line, match, kResolved) && libraries.count(match[1]) && match[2] != "not")
            libraries[match[1]] = match[2];
    }
    return libraries;
}

// Every library the program names is found on this system and comes from a package it depends on.
void expectLibrariesFromDependencies(const std::string& program, const std::set<std::string>& depends) {
    const auto libraries = directLibraries(program);
    EXPECT_FALSE(libraries.empty()) << program;
    for (const auto& [library, path] : libraries) {
        EXPECT_NE(path, "not found") << library;
        const std::string owner = owningPackage(path);
        EXPECT_EQ(depends.count(owner), 1u) << library << " comes from " << owner << ", not a dependency";
    }
}

struct UnpackedPackage {
    explicit UnpackedPackage(const std::string& package)
        : unpacked(!package.empty() && run("/usr/bin/dpkg-deb", {"-x", package, root.path()}).status == 0) {}
    std::string path(const std::string& inside) const { return root.path() + inside; }

    TemporaryFolder root;
    bool unpacked;
};

// The settings of a unit's section, by name (a later line wins; a line ending in a backslash goes
// on in the next).
std::map<std::string, std::string> unitSection(const std::string& unit, const std::string& section) {
    std::map<std::string, std::string> settings;
    std::istringstream lines(unit);
    bool inside = false;
    for (std::string line, next; std::getline(lines, line);) {
        while (line.ends_with("\\") && std::getline(lines, next))
            line.replace(line.size() - 1, 1, " " + next);
        if (line.starts_with("[")) inside = line == "[" + section + "]";
        const auto equals = line.find('=');
        if (inside && !line.starts_with("#") && equals != std::string::npos)
            settings[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return settings;
}

std::vector<std::string> words(const std::string& text) {
    std::istringstream stream(text);
    return {std::istream_iterator<std::string>(stream), std::istream_iterator<std::string>()};
}

// A command line of a unit as systemd hands it over: words, a double-quoted one whole, with "%h"
// as the home folder and "%%" as "%".
std::vector<std::string> commandWords(const std::string& line, const std::string& home) {
    static const std::regex kWord(R"re("([^"]*)"|(\S+))re");
    std::vector<std::string> out;
    for (std::sregex_iterator match(line.begin(), line.end(), kWord), end; match != end; ++match) {
        const std::string word = (*match)[1].matched ? (*match)[1].str() : (*match)[2].str();
        std::string expanded;
        for (size_t i = 0; i < word.size(); ++i) {
            if (word[i] == '%' && i + 1 < word.size() && (word[i + 1] == '%' || word[i + 1] == 'h'))
                expanded += word[++i] == 'h' ? home : "%";
            else
                expanded += word[i];
        }
        out.push_back(expanded);
    }
    return out;
}

} // namespace

TEST(PackagesTest, LintianFindsNoError) {
    std::vector<std::string> packages{packageFile("kestro-agent")};
#ifdef KESTRO_COMPANION_QML_DIR
    packages.push_back(packageFile("kestro-agent-companion"));
#endif
    for (const auto& package : packages)
        ASSERT_FALSE(package.empty()) << "missing in " KESTRO_PACKAGES_DIR;
    const auto lintian = run("/usr/bin/lintian", packages);
    EXPECT_EQ(lintian.status, 0) << lintian.standardOutput << lintian.standardError;
    EXPECT_EQ(lintian.standardOutput.find("E: "), std::string::npos) << lintian.standardOutput;
    std::cout << lintian.standardOutput; // the warnings left, for the record
}

TEST(RuntimePackageTest, UnpackedItFindsItsLibrariesAndServesWithATokenFromItsEnvironment) {
    const std::string package = packageFile("kestro-agent");
    const UnpackedPackage unpacked(package);
    ASSERT_TRUE(unpacked.unpacked) << package;
    const std::string program = unpacked.path("/usr/bin/kestro-agent");

    // The programs it runs and the libraries it links, as dpkg-shlibdeps found them.
    const auto depends = packageNames(controlField(package, "Depends"));
    EXPECT_EQ(depends.count("git"), 1u);
    EXPECT_EQ(depends.count("sqlite3"), 1u);
    expectLibrariesFromDependencies(program, depends);
    // grim, which it runs on wlroots desktops, where a person may want desktop previews.
    EXPECT_EQ(packageNames(controlField(package, "Suggests")).count("grim"), 1u);
    // Nothing in it points into the source tree, which an installed computer does not have.
    EXPECT_EQ(fileText(program).find(KESTRO_SOURCE_DIR), std::string::npos);
    // Its manual page names every option its help names.
    const std::string manual = std::regex_replace(
        run("/usr/bin/zcat", {unpacked.path("/usr/share/man/man1/kestro-agent.1.gz")}).standardOutput,
        std::regex(R"(\\-)"), "-");
    const std::string help = run(program, {"--help"}).standardOutput;
    static const std::regex kOption(R"(--[a-z][a-z-]*)");
    for (std::sregex_iterator option(help.begin(), help.end(), kOption), end; option != end; ++option)
        EXPECT_NE(manual.find(option->str()), std::string::npos) << option->str() << " is not in the manual";

    TemporaryFolder home;
    const uint16_t port = freePort();
    AgentProcess agent(OtherProgram{program}, {"--port", std::to_string(port), "--no-open-pair-page"},
                       {{"HOME", home.path()},
                        {"XDG_RUNTIME_DIR", home.path()},
                        {"PATH", "/usr/bin:/bin"},
                        {"KESTRO_AGENT_TOKEN", "package-token"}},
                       home.path());
    const auto banner = agent.waitForLines(9);
    ASSERT_EQ(banner.size(), 9u) << agent.standardError();
    EXPECT_EQ(banner[3], "Token: package-token");
    EXPECT_EQ(request(port, "GET", "/status", {{"X-Kestro-Token", "package-token"}}).status, 200);
    EXPECT_EQ(request(port, "GET", "/status").status, 401);
}

TEST(RuntimePackageTest, TheUserServiceVerifiesAndItsStartLineServes) {
    const UnpackedPackage unpacked(packageFile("kestro-agent"));
    ASSERT_TRUE(unpacked.unpacked);
    const std::string unit = fileText(unpacked.path("/usr/lib/systemd/user/kestro-agent.service"));
    auto service = unitSection(unit, "Service");
    // The banner carries the token: it must not reach the journal.
    EXPECT_EQ(service["StandardOutput"], "null");
    const auto start = words(service["ExecStart"]);
    ASSERT_FALSE(start.empty());
    ASSERT_EQ(start.front(), "/usr/bin/kestro-agent");
    const std::string program = unpacked.path(start.front());

    // systemd checks that the program it would start exists: the unit it verifies names the
    // unpacked one, and is otherwise the packaged unit.
    TemporaryFolder home;
    const std::string runtimeFolder = home.folder("run");
    ::chmod(runtimeFolder.c_str(), 0700);
    std::string verified = unit;
    verified.replace(verified.find("ExecStart=" + start.front()), 10 + start.front().size(),
                     "ExecStart=" + program);
    const auto verify = run(
        "/usr/bin/systemd-analyze", {"verify", "--user", home.write("units/kestro-agent.service", verified)},
        std::vector<std::string>{"HOME=" + home.path(), "XDG_RUNTIME_DIR=" + runtimeFolder,
                                 "PATH=/usr/bin:/bin"});
    EXPECT_EQ(verify.status, 0) << verify.standardOutput << verify.standardError;
    EXPECT_EQ(verify.standardError, "");

    // The settings file where the README tells the user to write it, read as systemd reads it.
    std::string settingsFile = service["EnvironmentFile"];
    ASSERT_TRUE(settingsFile.starts_with("%h/")) << settingsFile;
    settingsFile = home.path() + settingsFile.substr(2);
    EXPECT_EQ(settingsFile, home.path() + "/.config/kestro-agent/agent.env");
    const uint16_t port = freePort();
    const std::string projects = home.folder("projects");
    home.write(".config/kestro-agent/agent.env",
               "KESTRO_AGENT_TOKEN=service-token\nKESTRO_AGENT_NAME=build-box\n"
               "KESTRO_AGENT_PORT=" +
                   std::to_string(port) + "\nKESTRO_AGENT_WORKDIR=" + projects + "\n");
    // Before the start, a check of the settings file's mode: quiet when only its owner may use
    // it, else a warning that systemd-cat takes to the journal (which the tests run without, so
    // the command after it runs alone).
    const auto check = commandWords(service["ExecStartPre"], home.path());
    ASSERT_FALSE(check.empty());
    EXPECT_EQ(check.front(), "-/usr/bin/systemd-cat"); // "-": a failed check never stops the start
    const auto find = std::find(check.begin(), check.end(), "/usr/bin/find");
    ASSERT_NE(find, check.end());
    const auto modeWarning = [&](mode_t mode) {
        ::chmod(settingsFile.c_str(), mode);
        return run(*find, {find + 1, check.end()}).standardOutput;
    };
    EXPECT_EQ(modeWarning(0600), "");
    for (const auto& [exposed, octal] :
         std::map<mode_t, std::string>{{0640, "640"}, {0604, "604"}, {0620, "620"}})
        EXPECT_EQ(modeWarning(exposed), settingsFile + " can be read or changed by other users (mode " +
                                            octal + ") and holds the pairing token: run chmod 600 " +
                                            settingsFile);
    std::map<std::string, std::string> environment{
        {"HOME", home.path()}, {"XDG_RUNTIME_DIR", runtimeFolder}, {"PATH", "/usr/bin:/bin"}};
    std::istringstream settings(fileText(settingsFile));
    for (std::string line; std::getline(settings, line);)
        environment[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);

    AgentProcess agent(OtherProgram{program}, {start.begin() + 1, start.end()}, environment, home.path());
    const auto banner = agent.waitForLines(9);
    ASSERT_EQ(banner.size(), 9u) << agent.standardError();
    EXPECT_EQ(banner[0], "kestro Agent listening on http://0.0.0.0:" + std::to_string(port));
    EXPECT_EQ(banner[2], "Runner: Codex · Workdir: " + projects);
    EXPECT_NE(banner[6].find("?name=build-box&"), std::string::npos) << banner[6];
    EXPECT_EQ(request(port, "GET", "/status", {{"X-Kestro-Token", "service-token"}}).status, 200);
}

#ifdef KESTRO_COMPANION_QML_DIR

TEST(CompanionPackageTest, HoldsBothProgramsItsDesktopEntryAndIconsButNoRuntime) {
    const std::string package = packageFile("kestro-agent-companion");
    const UnpackedPackage unpacked(package);
    ASSERT_TRUE(unpacked.unpacked) << package;
    const std::string keeper = unpacked.path("/usr/bin/kestro-agent-companion");
    // The window is started by the keeper alone: out of the search path.
    const std::string window = unpacked.path("/usr/libexec/kestro-agent/kestro-agent-window");
    for (const std::string& program : {keeper, window}) {
        struct stat info {};
        ASSERT_EQ(::stat(program.c_str(), &info), 0) << program;
        EXPECT_EQ(info.st_mode & 0777, 0755u) << program;
    }
    EXPECT_TRUE(
        fs::is_regular_file(unpacked.path("/usr/share/applications/com.brantel.kestro.agent.desktop")));
    for (const std::string icon :
         {"scalable/apps/com.brantel.kestro.agent.svg", "256x256/apps/com.brantel.kestro.agent.png"})
        EXPECT_TRUE(fs::is_regular_file(unpacked.path("/usr/share/icons/hicolor/" + icon))) << icon;
    // The runtime comes from its own package, at the same version.
    EXPECT_FALSE(fs::exists(unpacked.path("/usr/bin/kestro-agent")));
    EXPECT_FALSE(fs::exists(unpacked.path("/usr/share/kestro-agent")));
    const std::string depends = controlField(package, "Depends");
    EXPECT_NE(depends.find("kestro-agent (= " KESTRO_VERSION ")"), std::string::npos) << depends;
    expectLibrariesFromDependencies(keeper, packageNames(depends));
    expectLibrariesFromDependencies(window, packageNames(depends));
    // The keeper, which lives for weeks, maps neither a QML engine nor a web engine.
    const std::string loaded = run("/usr/bin/ldd", {keeper}).standardOutput;
    for (const char* heavy : {"libQt6Qml", "libQt6Quick", "libQt6WebEngine"})
        EXPECT_EQ(loaded.find(heavy), std::string::npos) << heavy << " is loaded by the keeper";
}

TEST(CompanionPackageTest, DependsOnEveryQMLModuleItImports) {
    const std::string package = packageFile("kestro-agent-companion");
    ASSERT_FALSE(package.empty());
    const auto depends = packageNames(controlField(package, "Depends"));

    // The modules the companion defines itself are compiled into it.
    std::set<std::string> ownModules;
    static const std::regex kModuleLine(R"(^module\s+(\S+))");
    for (const auto& entry : fs::recursive_directory_iterator(KESTRO_COMPANION_BUILD_DIR)) {
        if (entry.path().filename() != "qmldir") continue;
        const std::string text = fileText(entry.path().string());
        std::smatch match;
        if (std::regex_search(text, match, kModuleLine)) ownModules.insert(match[1]);
    }

    static const std::regex kImport(R"(^\s*import\s+([A-Za-z_][A-Za-z0-9_.]*))");
    std::deque<std::string> pending;
    for (const auto& entry : fs::recursive_directory_iterator(KESTRO_COMPANION_QML_DIR)) {
        if (entry.path().extension() != ".qml") continue;
        std::istringstream lines(fileText(entry.path().string()));
        for (std::string line; std::getline(lines, line);) {
            std::smatch match;
            if (std::regex_search(line, match, kImport) && !ownModules.count(match[1]))
                pending.push_back(match[1]);
        }
    }
    ASSERT_FALSE(pending.empty()) << "no import in " KESTRO_COMPANION_QML_DIR;

    // Each imported module, and each module its qmldir imports in turn, comes from a package the
    // companion depends on. (Modules without a qmldir of their own, such as QtQml.Models, live in
    // Qt's libraries.)
    const size_t imported = pending.size();
    std::set<std::string> seen;
    static const std::regex kQmldirImport(R"(^import\s+(\S+))");
    for (size_t position = 0; !pending.empty(); ++position) {
        const std::string module = pending.front();
        pending.pop_front();
        if (!seen.insert(module).second) continue;
        const std::string qmldir =
            KESTRO_QT_QML_DIR "/" + std::regex_replace(module, std::regex("\\."), "/") + "/qmldir";
        if (!fs::exists(qmldir)) {
            EXPECT_GE(position, imported) << module << " is neither the companion's own module nor installed";
            continue;
        }
        const std::string owner = owningPackage(qmldir);
        EXPECT_EQ(depends.count(owner), 1u) << module << " comes from " << owner << ", not a dependency";
        std::istringstream lines(fileText(qmldir));
        for (std::string line; std::getline(lines, line);) {
            std::smatch match;
            if (std::regex_search(line, match, kQmldirImport)) pending.push_back(match[1]);
        }
        // Where the desktop offers no dialogs, QtQuick.Dialogs draws its own with the QML files of
        // QtQuick.Dialogs.quickimpl, which no qmldir names; what those files import counts too.
        if (module == "QtQuick.Dialogs") pending.push_back("QtQuick.Dialogs.quickimpl");
        const fs::path ownFiles = fs::path(qmldir).parent_path() / "qml";
        if (!fs::is_directory(ownFiles)) continue;
        for (const auto& file : fs::directory_iterator(ownFiles)) {
            if (file.path().extension() != ".qml") continue;
            std::istringstream fileLines(fileText(file.path().string()));
            for (std::string line; std::getline(fileLines, line);) {
                std::smatch match;
                if (std::regex_search(line, match, kImport)) pending.push_back(match[1]);
            }
        }
    }
}

#endif
