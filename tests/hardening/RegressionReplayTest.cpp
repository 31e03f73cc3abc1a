// Every input a fuzzer once crashed, hung or over-allocated on
// (tests/regressions/<target>/<name>) fed again to that target's entry point,
// each in a child with a time limit, so a fixed fault stays fixed.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "hardening/Replay.h"

namespace tarnwell::test {

std::map<std::string, FuzzEntry>& FuzzEntries() {
    static std::map<std::string, FuzzEntry> entries;
    return entries;
}

namespace {

namespace fs = std::filesystem;

constexpr int kSecondsPerInput = 60;  // the fuzzers' limit is 10 s; the sanitizer build is slower

struct Input {
    std::string target, path;
};

std::vector<Input> Inputs() {
    std::vector<Input> list;
    if (!fs::is_directory(TARNWELL_REGRESSIONS)) return list;
    for (const auto& dir : fs::directory_iterator(TARNWELL_REGRESSIONS)) {
        if (!dir.is_directory()) continue;
        for (const auto& f : fs::directory_iterator(dir.path()))
            if (f.is_regular_file() && f.path().filename().string()[0] != '.')
                list.push_back({dir.path().filename().string(), f.path().string()});
    }
    std::sort(list.begin(), list.end(), [](const Input& a, const Input& b) { return a.path < b.path; });
    return list;
}

TEST(RegressionReplay, EveryFolderNamesAFuzzTarget) {
    ASSERT_TRUE(fs::is_directory(TARNWELL_REGRESSIONS));
    for (const auto& dir : fs::directory_iterator(TARNWELL_REGRESSIONS)) {
        if (dir.is_directory()) {
            EXPECT_TRUE(FuzzEntries().count(dir.path().filename().string()))
                << dir.path().filename() << " is no fuzz target: its inputs would never be replayed";
        }
    }
}

class RegressionInputs : public ::testing::TestWithParam<Input> {};
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(RegressionInputs);

TEST_P(RegressionInputs, RunsToTheEndInTime) {
    const Input& in = GetParam();
    auto entry = FuzzEntries().find(in.target);
    ASSERT_NE(entry, FuzzEntries().end()) << in.target;
    std::ifstream file(in.path, std::ios::binary);
    std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(file), {}};
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(entry->second(bytes.data(), bytes.size()));
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kSecondsPerInput);
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            FAIL() << in.path << ": no answer within " << kSecondsPerInput << " s";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << in.path << (WIFSIGNALED(status) ? ": killed by signal " + std::to_string(WTERMSIG(status)) : ": failed");
}

INSTANTIATE_TEST_SUITE_P(Committed, RegressionInputs, ::testing::ValuesIn(Inputs()), [](const auto& info) {
    std::string n = info.param.target + "_" + fs::path(info.param.path).filename().string();
    for (char& c : n)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return n;
});

}  // namespace
}  // namespace tarnwell::test
