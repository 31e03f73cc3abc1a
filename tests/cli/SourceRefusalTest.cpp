// `recover` into a folder on the source itself is refused before anything is
// made there: the source as a device, as another partition of its disk, and
// as an image attached to a loop device. Proved on real loop mounts by the
// image's checksum.

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "core/Sha256.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

namespace fs = std::filesystem;

std::string Output(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, p)) out += buffer;
        ::pclose(p);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

// A loop device over an image, with what the test mounts from it; unmounted
// and detached when it goes, whatever the test's outcome.
class Loop {
public:
    static std::unique_ptr<Loop> Attach(const fs::path& image, bool partitions) {
        std::string device = Output(std::string("losetup -f --show ") + (partitions ? "-P " : "") + "'" +
                                    image.string() + "' 2>/dev/null");
        if (device.rfind("/dev/loop", 0) != 0) return nullptr;
        auto loop = std::unique_ptr<Loop>(new Loop(device));
        if (partitions) {
            // Some kernels leave the scan to user space.
            for (int i = 0; i < 20 && !fs::exists(loop->Partition(1)); ++i) {
                if (i == 5) std::system(("partx -a " + device + " >/dev/null 2>&1").c_str());
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            if (!fs::exists(loop->Partition(2))) return nullptr;
        }
        return loop;
    }
    ~Loop() { Release(); }

    const std::string& Device() const { return device_; }
    std::string Partition(int n) const { return device_ + "p" + std::to_string(n); }

    bool Mount(const std::string& device, const fs::path& at) {
        fs::create_directories(at);
        if (::mount(device.c_str(), at.c_str(), "ext2", 0, nullptr) != 0) return false;
        mounts_.push_back(at);
        return true;
    }

    // Unmounts (flushing everything to the image) and detaches.
    void Release() {
        for (const auto& at : mounts_)
            if (::umount(at.c_str()) != 0) ::umount2(at.c_str(), MNT_DETACH);
        mounts_.clear();
        if (!device_.empty()) std::system(("losetup -d " + device_ + " 2>/dev/null").c_str());
        device_.clear();
    }

private:
    explicit Loop(std::string device) : device_(std::move(device)) {}
    std::string device_;
    std::vector<fs::path> mounts_;
};

// The image less each ext2 volume's primary superblock and group descriptors
// (volume + 1024 to + 4096 with 1 KiB blocks): the kernel stamps mount times
// there on every mount and unmount, and under load it was seen to write the
// descriptors' flag words at its own pace. A folder made on the volume still
// shows in its bitmaps, inode table and directory blocks (the unrelated-source
// case below proves it).
std::string OutsideSuperblocks(const fs::path& image, const std::vector<std::uint64_t>& volumeStarts) {
    std::ifstream in(image, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    for (std::uint64_t start : volumeStarts)
        if (start + 4096 <= bytes.size()) std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(start + 1024), 3072, '\0');
    return bytes;
}

std::string Digest(const std::string& bytes) {
    Sha256 sha;
    sha.Update(bytes.data(), bytes.size());
    return sha.HexDigest();
}

// Where two images differ, as "offset+length" ranges, for a failure message.
std::string Differences(const std::string& a, const std::string& b) {
    std::string out;
    for (std::size_t i = 0, n = std::min(a.size(), b.size()), shown = 0; i < n && shown < 8;) {
        if (a[i] == b[i]) {
            ++i;
            continue;
        }
        std::size_t j = i;
        while (j < n && a[j] != b[j]) ++j;
        out += " " + std::to_string(i) + "+" + std::to_string(j - i);
        i = j, ++shown;
    }
    return out;
}

bool Shell(const std::string& command) { return std::system(("(" + command + ") >/dev/null 2>&1").c_str()) == 0; }

TEST(SourceRefusal, NothingIsMadeOnTheSource) {
    if (::geteuid() != 0) GTEST_SKIP() << "loop devices and mounts need root";
    if (!Shell("command -v losetup && command -v mke2fs && command -v sfdisk")) GTEST_SKIP() << "util-linux or e2fsprogs missing";
    std::string other = test::ImagePath("fat16-stick");
    enum class Source { Device, Image, OtherPartition, Unrelated };
    struct Case {
        const char* what;
        bool partitioned;
        Source source;
    };
    const std::vector<Case> cases = {
        {"the mounted device", false, Source::Device},
        {"the image behind the loop device", false, Source::Image},
        {"the whole disk of the mounted partition", true, Source::Device},
        {"the image behind the partitioned loop device", true, Source::Image},
        {"another partition of the same disk", true, Source::OtherPartition},
        {"a source elsewhere, which may write there", false, Source::Unrelated},
    };
    constexpr std::uint64_t kPartitionStart = 1 << 20;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.source == Source::Unrelated && other.empty()) continue;
        test::TempDir dir;
        fs::path image = dir / "disk.img", mnt = dir / "mnt";
        std::string q = "'" + image.string() + "'";
        ASSERT_TRUE(Shell("truncate -s 40M " + q));
        std::vector<std::uint64_t> volumes{0};
        std::unique_ptr<Loop> loop;
        std::string mounted;
        if (c.partitioned) {
            ASSERT_TRUE(Shell("printf 'label: dos\\nstart=2048, size=16MiB\\nsize=16MiB\\n' | sfdisk -q " + q));
            loop = Loop::Attach(image, true);
            if (!loop) GTEST_SKIP() << "no partitions on a loop device here";
            ASSERT_TRUE(Shell("mke2fs -q -F -t ext2 -b 1024 " + loop->Partition(1)));
            mounted = loop->Partition(1);
            volumes = {kPartitionStart};
        } else {
            ASSERT_TRUE(Shell("mke2fs -q -F -t ext2 -b 1024 " + q));
            loop = Loop::Attach(image, false);
            if (!loop) GTEST_SKIP() << "no free loop device";
            mounted = loop->Device();
        }
        // One mount and unmount first: what the kernel writes of its own on a
        // first mount (and writes back whenever it likes) is then on disk before
        // the image is read, so the comparison sees only what the run did.
        if (!loop->Mount(mounted, mnt)) GTEST_SKIP() << "cannot mount ext2 here";
        ASSERT_TRUE(Shell("umount '" + mnt.string() + "'"));
        ::sync();
        std::string before = OutsideSuperblocks(image, volumes);
        ASSERT_TRUE(loop->Mount(mounted, mnt));

        std::string source = c.source == Source::Device           ? loop->Device()
                             : c.source == Source::Image          ? image.string()
                             : c.source == Source::OtherPartition ? loop->Partition(2)
                                                                  : other;
        auto r = test::RunCli({"recover", source, "--out", (mnt / "rec/deeper").string()});
        bool created = fs::exists(mnt / "rec");
        loop->Release();
        std::string after = OutsideSuperblocks(image, volumes);

        if (c.source == Source::Unrelated) {
            EXPECT_NE(r.exitCode, 2) << r.out << r.err;
            EXPECT_TRUE(created);
            EXPECT_NE(Digest(before), Digest(after)) << "the check would not see a folder made on the volume";
            continue;
        }
        EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
        EXPECT_NE(r.err.find("refusing to write into"), std::string::npos) << r.err;
        EXPECT_FALSE(created);
        EXPECT_EQ(Digest(before), Digest(after)) << "the source changed at" << Differences(before, after);
    }
}

}  // namespace
}  // namespace tarnwell
