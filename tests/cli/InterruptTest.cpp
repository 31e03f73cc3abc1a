#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/TempDir.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

std::string Slurp(const std::string& path) {
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// Ctrl-C during the scan job of `list` stops it; what was found is still listed.
TEST(Interrupt, ListKeepsWhatTheScanFound) {
    if (std::system("command -v mkfs.fat >/dev/null && command -v mcopy >/dev/null") != 0)
        GTEST_SKIP() << "dosfstools or mtools missing";
    test::TempDir dir;
    std::string img = (dir / "big.img").string();
    // A large, sparse FAT32 volume: --formatted searches all its data area.
    std::string make = "mkfs.fat -F 32 -s 64 -C '" + img + "' 67108864 >/dev/null 2>&1 && echo hi > '" +
                       (dir / "a.txt").string() + "' && MTOOLS_SKIP_CHECK=1 mcopy -i '" + img + "' '" +
                       (dir / "a.txt").string() + "' ::";
    ASSERT_EQ(std::system(make.c_str()), 0);
    std::string out = (dir / "out").string(), err = (dir / "err").string();
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(o, 1);
        ::dup2(e, 2);
        std::string cli = test::CliPath();
        ::execl(cli.c_str(), cli.c_str(), "list", img.c_str(), "--formatted", (char*)nullptr);
        ::_exit(127);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    ::kill(pid, SIGINT);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by the signal, not by the job";
    EXPECT_EQ(WEXITSTATUS(status), 1) << Slurp(err);
    EXPECT_NE(Slurp(err).find("stopped: showing what was found so far"), std::string::npos) << Slurp(err);
    EXPECT_NE(Slurp(out).find("a.txt"), std::string::npos) << Slurp(out);
}

}  // namespace
}  // namespace tarnwell
