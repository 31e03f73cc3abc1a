#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "core/Prompter.h"
#include "device/FileReader.h"
#include "fs/fat/FatParser.h"
#include "fs/FileSystemRegistry.h"
#include "partition/FatBootSector.h"
#include "support/TempDir.h"

namespace tarnwell {
namespace {

struct Bpb {
    std::uint16_t bytesPerSector = 512;
    std::uint8_t sectorsPerCluster = 4;
    std::uint16_t reserved = 4;
    std::uint8_t fats = 2;
    std::uint16_t rootEntries = 512;
    std::uint16_t total16 = 0;
    std::uint8_t media = 0xF8;
    std::uint16_t fat16Size = 200;
    std::uint32_t total32 = 204800;
    std::uint32_t fat32Size = 0;
    std::uint32_t rootCluster = 0;
    const char* oem = "mkfs.fat";

    std::vector<std::uint8_t> Sector() const {
        std::vector<std::uint8_t> s(512, 0);
        s[0] = 0xEB; s[1] = 0x3C; s[2] = 0x90;
        std::memcpy(&s[3], oem, std::strlen(oem));
        auto put = [&](std::size_t at, std::uint64_t v, int n) {
            for (int i = 0; i < n; ++i) s[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
        };
        put(0x0B, bytesPerSector, 2); put(0x0D, sectorsPerCluster, 1); put(0x0E, reserved, 2);
        put(0x10, fats, 1); put(0x11, rootEntries, 2); put(0x13, total16, 2); put(0x15, media, 1);
        put(0x16, fat16Size, 2); put(0x20, total32, 4); put(0x24, fat32Size, 4); put(0x2C, rootCluster, 4);
        s[510] = 0x55; s[511] = 0xAA;
        return s;
    }
};

Bpb Fat32Bpb() {
    Bpb b;
    b.sectorsPerCluster = 8; b.reserved = 32; b.rootEntries = 0; b.fat16Size = 0;
    b.total32 = 4194304; b.fat32Size = 4088; b.rootCluster = 2; b.oem = "MSWIN4.1";
    return b;
}

TEST(FatBootSector, TellsTheKindByClusterCountWhateverTheOemName) {
    struct Case {
        const char* what;
        Bpb bpb;
        FatKind kind;
        std::uint64_t clusters;
    };
    Bpb fat12;
    fat12.sectorsPerCluster = 1; fat12.reserved = 1; fat12.rootEntries = 224; fat12.total16 = 2880;
    fat12.total32 = 0; fat12.fat16Size = 9; fat12.media = 0xF0; fat12.oem = "MSDOS5.0";
    Bpb fat16;  // 100 MiB card formatted on Linux
    Bpb smallFat32 = Fat32Bpb();  // mkfs.fat -F 32 on a small card
    smallFat32.total32 = 70000; smallFat32.sectorsPerCluster = 1; smallFat32.fat32Size = 540;
    const Case cases[] = {
        {"floppy", fat12, FatKind::Fat12, 2847},
        {"card", fat16, FatKind::Fat16, 51091},
        {"stick", Fat32Bpb(), FatKind::Fat32, 523262},
        {"small FAT32", smallFat32, FatKind::Fat32, 68888},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto p = ParseFatBootSector(c.bpb.Sector());
        ASSERT_TRUE(p.has_value());
        EXPECT_EQ(p->kind, c.kind);
        EXPECT_EQ(p->clusterCount, c.clusters);
    }
    auto p = ParseFatBootSector(Fat32Bpb().Sector());
    ASSERT_TRUE(p);
    EXPECT_EQ(p->rootCluster, 2u);
    EXPECT_EQ(p->ClusterSize(), 4096u);
    EXPECT_EQ(p->FatOffset(), 32u * 512);
    EXPECT_EQ(p->DataOffset(), (32u + 2 * 4088) * 512);
    EXPECT_STREQ(FatKindName(p->kind), "FAT32");
}

TEST(FatBootSector, RefusesImplausibleParameters) {
    struct Case {
        const char* what;
        std::function<void(Bpb&)> spoil;
    };
    const Case cases[] = {
        {"256-byte sectors", [](Bpb& b) { b.bytesPerSector = 256; }},
        {"8192-byte sectors", [](Bpb& b) { b.bytesPerSector = 8192; }},
        {"600-byte sectors", [](Bpb& b) { b.bytesPerSector = 600; }},
        {"3 sectors per cluster", [](Bpb& b) { b.sectorsPerCluster = 3; }},
        {"0 sectors per cluster", [](Bpb& b) { b.sectorsPerCluster = 0; }},
        {"no reserved sector", [](Bpb& b) { b.reserved = 0; }},
        {"three FATs", [](Bpb& b) { b.fats = 3; }},
        {"no FAT", [](Bpb& b) { b.fats = 0; }},
        {"no sectors", [](Bpb& b) { b.total32 = 0; }},
        {"no FAT size", [](Bpb& b) { b.fat16Size = 0; }},
        {"media byte", [](Bpb& b) { b.media = 0x12; }},
        {"FAT bigger than the volume", [](Bpb& b) { b.total32 = 300; }},
        {"FAT too small for its clusters", [](Bpb& b) { b.fat16Size = 20; }},
    };
    for (const auto& c : cases) {
        Bpb b;
        c.spoil(b);
        EXPECT_FALSE(ParseFatBootSector(b.Sector())) << c.what;
    }
    auto noSignature = Bpb().Sector();
    noSignature[511] = 0;
    EXPECT_FALSE(ParseFatBootSector(noSignature));
    auto shortSector = Bpb().Sector();
    shortSector.resize(511);
    EXPECT_FALSE(ParseFatBootSector(shortSector));
    Bpb fat32WithRoot = Fat32Bpb();
    fat32WithRoot.rootEntries = 512;
    fat32WithRoot.sectorsPerCluster = 64;
    EXPECT_FALSE(ParseFatBootSector(fat32WithRoot.Sector())) << "a fixed root region needs the 16-bit FAT size";
}

// A boot sector of a FAT32 whose total-sectors field claims 2 TiB and whose FAT
// claims 8 GiB: what a corrupt boot sector at the start of a large disk gives.
Bpb CorruptLargeFat32() {
    Bpb b = Fat32Bpb();
    b.total32 = 0xFFFFFFFF;
    b.fat32Size = 0x01000000;
    return b;
}

TEST(FatBootSector, ClusterCountStaysWithinTheFormatAndTheVolume) {
    struct Case {
        const char* what;
        Bpb bpb;
        std::uint64_t volumeBytes;  // 0: no volume bound
        std::uint64_t clusters;
    };
    Bpb oneSectorClusters = CorruptLargeFat32();
    oneSectorClusters.sectorsPerCluster = 1;
    const std::uint64_t stickData = 4194304 - (32 + 2 * 4088);
    const std::uint64_t largeData = (std::uint64_t{32} << 30) / 512 - (32 + 2 * 0x01000000);
    const Case cases[] = {
        {"more clusters than FAT32 numbers", oneSectorClusters, 0, kMaxFat32Clusters},
        {"a stick, volume as large", Fat32Bpb(), std::uint64_t{4194304} * 512, stickData / 8},
        {"a stick, its volume larger", Fat32Bpb(), std::uint64_t{1} << 40, stickData / 8},
        {"a stick cut short by half", Fat32Bpb(), std::uint64_t{2097152} * 512, (2097152 - (32 + 2 * 4088)) / 8},
        {"a source ending inside the FAT", Fat32Bpb(), 4096 * 512, 0},
        {"2 TiB claimed on 32 GiB", CorruptLargeFat32(), std::uint64_t{32} << 30, largeData / 8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto p = ParseFatBootSector(c.bpb.Sector());
        ASSERT_TRUE(p.has_value());
        BoundFatByVolume(*p, c.volumeBytes);
        EXPECT_EQ(p->clusterCount, c.clusters);
    }
}

// The corrupt boot sector on a 32 GiB sparse image (no real bytes): the scan
// reads a table sized by the image, not the 2 GiB of entries the boot sector
// asks for. Run in a child with little address space, so that asking for the
// boot sector's size ends the child rather than the machine's memory.
TEST(FatBootSector, ACorruptTableSizeOnALargeSparseImageAsksOnlyForWhatTheImageHolds) {
    test::TempDir dir;
    std::string image = (dir / "large.img").string();
    {
        int fd = ::open(image.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        auto sector = CorruptLargeFat32().Sector();
        ASSERT_EQ(::pwrite(fd, sector.data(), sector.size(), 0), 512);
        ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(std::uint64_t{32} << 30)), 0) << "no sparse files here";
        ::close(fd);
    }
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
#ifndef __SANITIZE_ADDRESS__
        // AddressSanitizer reserves terabytes of shadow address space up front,
        // so there the cluster count below is the whole check.
        rlimit as{std::uint64_t{1} << 30, std::uint64_t{1} << 30};
        ::setrlimit(RLIMIT_AS, &as);
#endif
        FileReader reader;
        if (!reader.Open(image)) _exit(3);
        SilentPrompter quiet;
        ParserLinks links;
        links.view = VolumeView(reader);
        links.prompter = &quiet;
        links.volume.fileSystem = "FAT32";
        links.volume.sectorCount = reader.deviceSectorCount();
        try {
            auto parser = MakeParser("FAT32", links);
            if (!parser) _exit(4);
            parser->Scan(RecoveryMode::Standard);
            auto* fat = dynamic_cast<FatParser*>(parser.get());
            const std::uint64_t fits = ((std::uint64_t{32} << 30) / 512 - (32 + 2 * 0x01000000)) / 8;
            _exit(fat != nullptr && fat->Table().ClusterCount() <= fits ? 0 : 5);
        } catch (...) {
            _exit(6);  // the table asked for more than the image holds
        }
    }
    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            FAIL() << "the scan did not end within 120 s";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_FALSE(WIFSIGNALED(status)) << "the scan was ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "6: the scan ran out of memory; 5: the table is larger than the image";
}

}  // namespace
}  // namespace tarnwell
