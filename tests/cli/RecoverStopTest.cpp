// Ctrl-C while `recover` writes a large file: the run stops there, the file
// cut short is not left under its name, the report says it stopped, and the
// exit status is 1.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "support/TempDir.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

namespace fs = std::filesystem;

using test::Slurp;

TEST(RecoverStop, CtrlCMidFileLeavesNoCutFile) {
    if (std::system("command -v mkfs.fat >/dev/null && command -v mcopy >/dev/null") != 0)
        GTEST_SKIP() << "dosfstools or mtools missing";
    constexpr std::size_t kBig = 96u << 20;
    test::TempDir dir;
    {
        std::string data(kBig, '\0');
        std::uint32_t x = 7;
        for (char& c : data) c = static_cast<char>((x = x * 1664525u + 1013904223u) >> 24);
        dir.Write("tree/big.bin", data);
        dir.Write("tree/a.txt", "first");
    }
    std::string image = (dir / "fat32.img").string();
    std::string make = "mkfs.fat -F 32 -C '" + image + "' 131072 >/dev/null 2>&1 && MTOOLS_SKIP_CHECK=1 mcopy -i '" +
                       image + "' '" + (dir / "tree/a.txt").string() + "' '" + (dir / "tree/big.bin").string() + "' ::";
    ASSERT_EQ(std::system(make.c_str()), 0);
    fs::remove_all(dir / "tree");

    fs::path out = dir / "out", report = dir / "report.json", err = dir / "err";
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int n = ::open("/dev/null", O_WRONLY);
        ::dup2(n, 1);
        ::dup2(e, 2);
        std::string cli = test::CliPath();
        ::execl(cli.c_str(), cli.c_str(), "recover", image.c_str(), "--out", out.c_str(), "--report", report.c_str(),
                (char*)nullptr);
        ::_exit(127);
    }
    // Catch it with the large file begun: hold the process, then Ctrl-C.
    fs::path big = out / "big.bin";
    struct stat st {};
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (::stat(big.c_str(), &st) != 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    ::kill(pid, SIGSTOP);
    bool begun = ::stat(big.c_str(), &st) == 0;
    std::uint64_t sizeWhenCaught = begun ? static_cast<std::uint64_t>(st.st_size) : 0;
    ::kill(pid, SIGINT);
    ::kill(pid, SIGCONT);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(begun) << "the large file was never begun\n" << Slurp(err);
    if (sizeWhenCaught == kBig) GTEST_SKIP() << "the file was whole before the interrupt; nothing to judge";

    ASSERT_TRUE(WIFEXITED(status)) << "ended by the signal, not by the run";
    EXPECT_EQ(WEXITSTATUS(status), 1) << Slurp(err);
    EXPECT_NE(Slurp(err).find("stopped"), std::string::npos) << Slurp(err);
    if (fs::exists(big)) EXPECT_EQ(fs::file_size(big), kBig) << "a cut file is left under its name";
    EXPECT_EQ(Slurp(out / "a.txt"), "first");
    auto json = nlohmann::json::parse(Slurp(report), nullptr, false);
    ASSERT_FALSE(json.is_discarded()) << "no report";
    EXPECT_EQ(json["summary"]["stopped"], true);
    EXPECT_EQ(json["summary"]["failed"], 0) << "a stopped file is not a failed one";
}

}  // namespace
}  // namespace tarnwell
