// `tarnwell recover` over every public damaged image of ../shared/fixtures, as
// a user would run it: each run in a child with a time limit and a cap on the
// size of any file it writes, and afterwards no output file may take more
// room than its whole source image, nor may empty "NAME (2)" folders be left.
// A corrupt size must cost nothing; a folder that cannot be made is one
// failure, not a row of numbered copies.

#include <gtest/gtest.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <thread>

#include "hardening/FixtureManifest.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kMaxRawBytes = 1ull << 30;  // the 2 TiB sparse image is left out
constexpr int kSecondsPerRun = 60;
constexpr int kParallelRuns = 2;
constexpr std::size_t kMaxVolumesPerImage = 8;
constexpr std::uint64_t kMaxLegitimateClash = 8;

using Fixture = test::PublicFixture;

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Unpacks the image into dir, keeping its runs of zeros as holes; its path, or empty.
std::string Unpack(const std::string& root, const Fixture& fx, const fs::path& dir) {
    std::string packed = Quote(root + "/" + fx.image);
    fs::path raw = dir / "image";
    std::string cmd;
    if (fx.packing == "tar.xz") {
        cmd = "tar -xJSf " + packed + " -C " + Quote(dir.string());
    } else {
        const char* tool = fx.packing == "gzip" ? "gzip" : fx.packing == "xz" ? "xz" : fx.packing == "bzip2" ? "bzip2" : nullptr;
        if (tool == nullptr) return "";
        cmd = std::string(tool) + " -dc " + packed + " | dd of=" + Quote(raw.string()) + " bs=64k conv=sparse status=none";
    }
    if (std::system((cmd + " 2>/dev/null").c_str()) != 0) return "";
    if (fx.packing == "tar.xz") {
        for (const auto& e : fs::recursive_directory_iterator(dir))
            if (e.is_regular_file() && e.path().extension() == ".img") return e.path().string();
        return "";
    }
    return raw.string();
}

struct Run {
    int exitCode = -1;
    std::string problem;  // "" when it ended in time with an exit code of the contract
    std::string out;
};

// Runs the command line in a child: files it writes may not grow past maxFileBytes
// (SIGXFSZ ignored, so the write fails instead), and it is killed after the limit.
Run RunCapped(const std::vector<std::string>& args, std::uint64_t maxFileBytes, const fs::path& outputFile) {
    Run r;
    std::vector<std::string> argv{test::CliPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargs;
    for (auto& a : argv) cargs.push_back(a.data());
    cargs.push_back(nullptr);
    pid_t child = ::fork();
    if (child < 0) {
        r.problem = "fork failed";
        return r;
    }
    if (child == 0) {
        rlimit cap{maxFileBytes, maxFileBytes};
        ::setrlimit(RLIMIT_FSIZE, &cap);
        ::signal(SIGXFSZ, SIG_IGN);
        int out = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(out >= 0 ? out : null, 1);
        ::dup2(null, 2);
        ::execv(cargs[0], cargs.data());
        _exit(127);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kSecondsPerRun);
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            r.problem = "no end within " + std::to_string(kSecondsPerRun) + " s";
            return r;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::ifstream in(outputFile);
    r.out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (WIFSIGNALED(status)) {
        r.problem = "killed by signal " + std::to_string(WTERMSIG(status));
        return r;
    }
    r.exitCode = WEXITSTATUS(status);
    if (r.exitCode > 2) r.problem = "exit status " + std::to_string(r.exitCode);
    return r;
}

// What the output folder shows that it must not: a file taking more room than
// the source image, an empty numbered clash folder.
std::vector<std::string> OutputProblems(const fs::path& out, std::uint64_t imageBytes) {
    std::vector<std::string> problems;
    // Rows of one name in one folder are numbered, and a damaged volume may
    // hold a few (a live and a deleted folder of one name, the second empty);
    // numbers past kMaxLegitimateClash on empty folders are the writer
    // numbering a folder it could not make.
    static const std::regex clash(R"(.* \(([0-9]+)\)(\..*)?)");
    std::error_code ec;
    if (!fs::exists(out, ec)) return problems;
    for (auto it = fs::recursive_directory_iterator(out, fs::directory_options::skip_permission_denied, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (ec) break;
        struct stat st{};
        if (::lstat(it->path().c_str(), &st) != 0) continue;
        std::string rel = fs::relative(it->path(), out, ec).string();
        if (S_ISREG(st.st_mode) && std::uint64_t(st.st_blocks) * 512 > imageBytes + 4096) {
            problems.push_back(rel + " takes " + std::to_string(std::uint64_t(st.st_blocks) * 512) +
                               " bytes, more than the whole image");
        }
        std::smatch m;
        const std::string name = it->path().filename().string();
        if (S_ISDIR(st.st_mode) && std::regex_match(name, m, clash) &&
            (m[1].length() > 6 || std::stoull(m[1].str()) > kMaxLegitimateClash) &&
            fs::is_empty(it->path(), ec)) {
            problems.push_back(rel + " is an empty clash folder");
        }
    }
    return problems;
}

// Recovers every volume of one image; the problems found.
std::vector<std::string> RecoverImage(const std::string& root, const Fixture& fx) {
    std::vector<std::string> problems;
    test::TempDir dir;
    std::string image = Unpack(root, fx, dir.path());
    if (image.empty()) return {"cannot unpack it"};
    const std::uint64_t cap = fx.rawBytes + (1u << 20);
    auto recover = [&](const std::vector<std::string>& choice, const std::string& name) {
        fs::path out = dir / ("out-" + name);
        std::vector<std::string> args{"recover", image, "--out", out.string()};
        args.insert(args.end(), choice.begin(), choice.end());
        Run r = RunCapped(args, cap, dir / "stdout");
        if (!r.problem.empty()) problems.push_back("recover " + name + ": " + r.problem);
        for (const std::string& p : OutputProblems(out, fx.rawBytes)) problems.push_back("recover " + name + ": " + p);
        std::error_code ec;
        fs::remove_all(out, ec);  // keep the disk free for the next one
        return r.exitCode;
    };
    if (recover({}, "whole") != 2) return problems;
    // Not a volume from its first sector: each volume the tables list.
    Run listed = RunCapped({"volumes", image, "--json"}, cap, dir / "volumes");
    if (!listed.problem.empty()) problems.push_back("volumes: " + listed.problem);
    std::istringstream lines(listed.out);
    std::size_t n = 0;
    for (std::string line; std::getline(lines, line) && n < kMaxVolumesPerImage;) {
        auto row = nlohmann::json::parse(line, nullptr, false);
        if (row.is_discarded() || !row.contains("index") || row.value("fs", "unknown") == "unknown") continue;
        std::string index = std::to_string(row["index"].get<int>());
        recover({"--volume", index}, "volume-" + index);
        ++n;
    }
    return problems;
}

TEST(RecoverFixtures, EveryImageRecoversInTimeWithinItsOwnSize) {
    const std::string root = test::FixturesRoot();
    if (root.empty()) GTEST_SKIP() << "no ../shared/fixtures";
    std::vector<Fixture> list = test::PublicFixtures(root, kMaxRawBytes);
#ifdef __SANITIZE_ADDRESS__
    // The sanitizer build runs several times slower: there a fixed quarter of
    // the images, and always those whose sizes once ran away, keep the test
    // within its time while every image still runs in the normal build.
    const char* const kAlways[] = {"f_bad_inode_csum", "f_messy_inode", "f_badsymlinks", "f_many_subdirs", "f_dup_de"};
    std::vector<Fixture> sample;
    for (std::size_t i = 0; i < list.size(); ++i) {
        bool always = false;
        for (const char* name : kAlways) always = always || list[i].image.find(name) != std::string::npos;
        if (always || i % 4 == 0) sample.push_back(list[i]);
    }
    list = std::move(sample);
#endif
    if (list.empty()) GTEST_SKIP() << "no images listed in MANIFEST.tsv";

    std::mutex lock;
    std::vector<std::pair<std::string, std::vector<std::string>>> failures;
    std::atomic<std::size_t> next{0};
    auto worker = [&] {
        for (std::size_t i = next++; i < list.size(); i = next++) {
            std::vector<std::string> problems = RecoverImage(root, list[i]);
            if (problems.empty()) continue;
            std::lock_guard guard(lock);
            failures.emplace_back(list[i].image, std::move(problems));
        }
    };
    std::vector<std::thread> workers;
    for (int k = 0; k < kParallelRuns; ++k) workers.emplace_back(worker);
    for (auto& w : workers) w.join();

    constexpr std::size_t kShownPerImage = 10;
    for (const auto& [image, problems] : failures) {
        for (std::size_t k = 0; k < problems.size() && k < kShownPerImage; ++k)
            ADD_FAILURE() << image << ": " << problems[k];
        if (problems.size() > kShownPerImage)
            ADD_FAILURE() << image << ": and " << problems.size() - kShownPerImage << " more";
    }
    EXPECT_TRUE(failures.empty()) << failures.size() << " of " << list.size() << " images";
}

}  // namespace
}  // namespace tarnwell
