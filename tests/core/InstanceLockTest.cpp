#include <gtest/gtest.h>

#include "core/InstanceLock.h"
#include "partition/ImageSource.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace tarnwell {
namespace {

TEST(InstanceLock, TheSecondHolderIsRefusedUntilTheFirstGoes) {
    test::TempDir dir;
    auto first = std::make_unique<InstanceLock>(dir.path().string());
    EXPECT_TRUE(first->Acquired());
    EXPECT_EQ(first->Path(), (dir / "Tarnwell292021.lock").string());
    {
        InstanceLock second(dir.path().string());
        EXPECT_FALSE(second.Acquired());
    }
    first.reset();
    InstanceLock third(dir.path().string());
    EXPECT_TRUE(third.Acquired());
}

TEST(InstanceLock, AFolderThatCannotHoldTheLockDoesNotStopTheProgram) {
    InstanceLock lock("/nonexistent/folder");
    EXPECT_TRUE(lock.Acquired());
}

TEST(ImageAsVolume, AVolumeImageIsOneVolumeAndADiskImageIsNot) {
    const std::string card = test::ImagePath("sample-card");
    const std::string disk = test::ImagePath("mbr-fat");
    if (card.empty() || disk.empty()) GTEST_SKIP() << "images not committed";
    auto volume = ImageAsVolume(card);
    ASSERT_TRUE(volume);
    EXPECT_EQ(volume->fileSystem, "FAT32");
    EXPECT_EQ(volume->location, card);
    EXPECT_EQ(volume->startSector, 0);
    EXPECT_GT(volume->sectorCount, 0u);
    EXPECT_FALSE(ImageAsVolume(disk)) << "an MBR is not a boot sector";
    EXPECT_FALSE(ImageAsVolume("/nonexistent.img"));
    test::TempDir dir;
    dir.Write("zeros.img", std::string(8192, '\0'));
    EXPECT_FALSE(ImageAsVolume((dir / "zeros.img").string()));
}

}  // namespace
}  // namespace tarnwell
