#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "support/TempDir.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

using test::Slurp;

// Sources on which every command surely runs for seconds: a large, sparse
// FAT32 volume (--formatted searches all its data area, the advanced mode all
// its sectors) and a large sparse file of zeros.
class Interrupt : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (std::system("command -v mkfs.fat >/dev/null && command -v mcopy >/dev/null") != 0) return;
        dir_ = std::make_unique<test::TempDir>();
        fat_ = (*dir_ / "big.img").string();
        zeros_ = (*dir_ / "zeros.img").string();
        std::string make = "mkfs.fat -F 32 -s 64 -C '" + fat_ + "' 67108864 >/dev/null 2>&1 && echo hi > '" +
                           (*dir_ / "a.txt").string() + "' && MTOOLS_SKIP_CHECK=1 mcopy -i '" + fat_ + "' '" +
                           (*dir_ / "a.txt").string() + "' ::";
        if (std::system(make.c_str()) != 0) return;
        std::ofstream(zeros_).close();
        std::filesystem::resize_file(zeros_, std::uintmax_t(64) << 30);
        ready_ = true;
    }
    static void TearDownTestSuite() { dir_.reset(); }
    void SetUp() override {
        if (!ready_) GTEST_SKIP() << "dosfstools or mtools missing";
    }

    struct Run {
        int status = 0;
        std::string out, err;
    };
    // Starts the command line, waits until its stderr shows `ready` (the long
    // part has begun), sends the signals and waits for the end.
    static Run SignalWhenReady(const std::vector<std::string>& args, const std::string& ready,
                               const std::vector<int>& signals) {
        static int serial = 0;
        std::string out = (*dir_ / ("out" + std::to_string(serial))).string();
        std::string err = (*dir_ / ("err" + std::to_string(serial++))).string();
        pid_t pid = ::fork();
        if (pid == 0) {
            int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(o, 1);
            ::dup2(e, 2);
            std::string cli = test::CliPath();
            std::vector<char*> argv{cli.data()};
            for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(cli.c_str(), argv.data());
            ::_exit(127);
        }
        Run r;
        if (pid < 0) return r;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        bool exited = false;
        while (Slurp(err).find(ready) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
            if (::waitpid(pid, &r.status, WNOHANG) == pid) {
                exited = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!exited) {
            for (int s : signals) ::kill(pid, s);
            ::waitpid(pid, &r.status, 0);
        }
        r.out = Slurp(out);
        r.err = Slurp(err);
        if (exited) r.err = "ended before it was signalled\n" + r.err;
        return r;
    }

    static std::unique_ptr<test::TempDir> dir_;
    static std::string fat_, zeros_;
    static bool ready_;
};
std::unique_ptr<test::TempDir> Interrupt::dir_;
std::string Interrupt::fat_, Interrupt::zeros_;
bool Interrupt::ready_ = false;

// The first SIGINT or SIGTERM stops the job; the command keeps and prints what
// it found, says it stopped, and exits 1.
TEST_F(Interrupt, EachCommandStopsKeepsWhatItFoundAndExitsOne) {
    struct Case {
        std::vector<std::string> args;
        std::string ready;    // on stderr once the long part runs
        std::string stopped;  // on stderr after the stop
        std::string kept;     // on stdout: found before the stop
    };
    // -v names each phase as it begins: the long one is the ready sign.
    const std::string formatted = "tarnwell: searching";  // for the folders of the earlier file system
    const std::vector<Case> cases = {
        {{"list", fat_, "--formatted", "-v"}, formatted, "stopped: showing what was found so far", "a.txt"},
        {{"search", fat_, "A\\.TXT", "--formatted", "-v"}, formatted, "stopped: 1 found", "a.txt"},
        {{"carve", zeros_, "-v"}, "tarnwell: carving", "stopped: 0 files found", ""},
        {{"volumes", zeros_, "--advanced", "-v"}, "tarnwell: scanning for volumes",
         "stopped; the volumes found so far are listed", "VOLUME"},
        {{"candidates", fat_, "-v"}, "tarnwell: reading tables", "stopped; the candidates found so far are listed",
         "TABLE"},
    };
    for (int signal : {SIGINT, SIGTERM}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.args[0] + (signal == SIGINT ? " SIGINT" : " SIGTERM"));
            Run r = SignalWhenReady(c.args, c.ready, {signal});
            ASSERT_TRUE(WIFEXITED(r.status)) << "ended by the signal, not by the job\n" << r.err;
            EXPECT_EQ(WEXITSTATUS(r.status), 1) << r.err;
            EXPECT_NE(r.err.find(c.stopped), std::string::npos) << r.err;
            EXPECT_NE(r.out.find(c.kept), std::string::npos) << r.out;
        }
    }
}

// Two signals of one kind sent at once may merge into one; two kinds never do.
TEST_F(Interrupt, ASecondSignalEndsTheProcess) {
    Run r = SignalWhenReady({"list", fat_, "--formatted", "-v"}, "tarnwell: searching", {SIGINT, SIGTERM});
    ASSERT_TRUE(WIFSIGNALED(r.status)) << r.err;
    EXPECT_TRUE(WTERMSIG(r.status) == SIGINT || WTERMSIG(r.status) == SIGTERM) << WTERMSIG(r.status);
}

}  // namespace
}  // namespace tarnwell
