// Moving between volumes: numbered files on a fixed disk, labelled disks on a removable drive.
#include "volume_change.h"

#include <gtest/gtest.h>

#include <vector>

#include "os.h"
#include "simulated_drive.h"
#include "status_reporting.h"
#include "test_support.h"

namespace {

using qvtest::ScratchDir;
using qvtest::SimulatedDrive;

// The host: answers disk questions by inserting a disk chosen by the test.
SimulatedDrive* gDrive = nullptr;
std::vector<int> gAsked;       // the disk number of each question
std::vector<int> gInsertPlan;  // which disk to insert for each question; 0: answer Cancel

int16_t QV_CALL InsertingHost(StatusBlock block) {
    if (block.kind != QV_STATUS_QUESTION) return QV_ANSWER_OK;
    gAsked.push_back(block.code == QV_ASK_LAST_DISK ? -1 : block.disk);
    const size_t i = gAsked.size() - 1;
    const int disk = i < gInsertPlan.size() ? gInsertPlan[i] : 0;
    if (disk == 0) return QV_ANSWER_CANCEL;
    gDrive->Insert(disk);
    return QV_ANSWER_OK;
}

class Volumes : public ::testing::Test {
protected:
    ScratchDir dir;
    void SetUp() override {
        gAsked.clear();
        gInsertPlan.clear();
        Qv4CPrintHook(&InsertingHost);
        Qv4SetCPrint(1);
    }
    void TearDown() override {
        Qv4CPrintHook(nullptr);
        Qv4SetCPrint(0);
        gDrive = nullptr;
    }
};

TEST_F(Volumes, SplitFilesOnAFixedDiskChangeWithoutAPrompt) {
    qvtest::WriteFile(dir.file("set.001"), std::string("one"));
    qvtest::WriteFile(dir.file("set.002"), std::string("two"));
    qv::ArchiveRecord rec;
    rec.name = qv::os::AnsiToOem(dir.file("set.001"));
    rec.flags = qv::AR_SPLIT12;
    rec.access = qv::os::kGenericRead;
    rec.shareMode = qv::os::kShareRead;
    rec.diskNumber = 2;
    ASSERT_EQ(qv::ChangeVolume(rec, false), QV_OK);
    EXPECT_EQ(rec.name, qv::os::AnsiToOem(dir.file("set.002")));
    char buf[4] = {};
    EXPECT_EQ(qv::ReadBytes(rec.handle, buf, 3), 3u);
    EXPECT_STREQ(buf, "two");
    EXPECT_TRUE(gAsked.empty());
    qv::os::CloseHandle(rec.handle);
    rec.diskNumber = 7;  // no such file
    EXPECT_EQ(qv::ChangeVolume(rec, false), QV_E_FILE);
}

TEST_F(Volumes, ReadingASpannedSetChecksLabelsAndAsksAgain) {
    SimulatedDrive drive(dir.path(), 3);
    gDrive = &drive;
    for (int n = 1; n <= 3; ++n) {
        drive.SetDiskLabel(n, qv::SpannedVolumeLabel(n));
        qvtest::WriteFile((drive.DiskFolder(n) / "set.zip").string(), std::string("disk") + char('0' + n));
    }
    drive.SetDiskLabel(3, "pkback# 003");  // labels compare in upper case
    drive.Insert(1);
    qv::ArchiveRecord rec;
    rec.name = qv::os::AnsiToOem(drive.drive() + "/set.zip");
    rec.flags = qv::AR_SPANNED;
    rec.access = qv::os::kGenericRead;
    rec.diskNumber = 2;
    gInsertPlan = {3, 2};  // the wrong disk first
    ASSERT_EQ(qv::ChangeVolume(rec, false), QV_OK);
    EXPECT_EQ(gAsked, (std::vector<int>{2, 2}));
    char buf[6] = {};
    EXPECT_EQ(qv::ReadBytes(rec.handle, buf, 5), 5u);
    EXPECT_STREQ(buf, "disk2");
    qv::os::CloseHandle(rec.handle);
    rec.handle = qv::kInvalidHandle;

    // Giving up after a wrong disk reports what went wrong; refusing at once is a cancel.
    gAsked.clear();
    gInsertPlan = {1, 0};
    EXPECT_EQ(qv::ChangeVolume(rec, false), QV_E_FILE);
    gAsked.clear();
    gInsertPlan = {0};
    EXPECT_EQ(qv::ChangeVolume(rec, false), QV_E_CANCELLED);
    // With status reporting off the question is refused.
    Qv4SetCPrint(0);
    EXPECT_EQ(qv::ChangeVolume(rec, false), QV_E_CANCELLED);
}

TEST_F(Volumes, WritingLabelsTheNewDiskAndTakesItsFreeSpace) {
    SimulatedDrive drive(dir.path(), 2, 5000);
    gDrive = &drive;
    qv::ArchiveRecord rec;
    rec.name = qv::os::AnsiToOem(drive.drive() + "/out.zip");
    rec.flags = qv::AR_SPANNED;
    rec.access = qv::os::kGenericReadWrite;
    rec.diskNumber = 2;
    gInsertPlan = {2};
    ASSERT_EQ(qv::ChangeVolume(rec, true), QV_OK);
    EXPECT_EQ(drive.DiskLabel(2), "PKBACK# 002");
    EXPECT_EQ(rec.volumeCapacity, 5000u);
    qv::os::CloseHandle(rec.handle);
    EXPECT_TRUE(std::filesystem::exists(drive.DiskFolder(2) / "out.zip"));
}

TEST_F(Volumes, RequestVolumeForNumberedAndLastDisks) {
    SimulatedDrive drive(dir.path(), 3);
    gDrive = &drive;
    for (int n = 1; n <= 3; ++n) {
        drive.SetDiskLabel(n, qv::SpannedVolumeLabel(n));
        qvtest::WriteFile((drive.DiskFolder(n) / "set.zip").string(), std::string("x"));
    }
    const std::string name = qv::os::AnsiToOem(drive.drive() + "/set.zip");
    qv::FileHandle h = qv::kInvalidHandle;
    uint16_t volume = 10000;
    gInsertPlan = {3};
    ASSERT_EQ(qv::RequestVolume(&volume, name, &h), QV_OK);
    EXPECT_EQ(gAsked, (std::vector<int>{-1}));
    EXPECT_NE(h, qv::kInvalidHandle);
    gAsked.clear();
    volume = 1;
    gInsertPlan = {2, 1};
    ASSERT_EQ(qv::RequestVolume(&volume, name, &h), QV_OK);  // closes the old handle itself
    EXPECT_EQ(gAsked, (std::vector<int>{1, 1}));
    volume = 2;
    gInsertPlan = {0};
    gAsked.clear();
    EXPECT_EQ(qv::RequestVolume(&volume, name, &h), QV_E_CANCELLED);
    EXPECT_EQ(h, qv::kInvalidHandle);
}

TEST(FreeSpace, NetworkPathsAndLabels) {
    EXPECT_EQ(qv::FreeSpace("\\\\server\\share\\x.zip"), 524288000u);
    EXPECT_EQ(qv::FreeSpace("//server/share/x.zip"), 524288000u);
    EXPECT_GT(qv::FreeSpace("./x.zip"), 0u);
    EXPECT_EQ(qv::SpannedVolumeLabel(1), "PKBACK# 001");
    EXPECT_EQ(qv::SpannedVolumeLabel(42), "PKBACK# 042");
    EXPECT_EQ(qv::VolumeRootOf("C:\\dir\\a.zip"), "C:\\");
    EXPECT_EQ(qv::VolumeRootOf("/media/usb/a.zip"), "/media/usb/");
}

}  // namespace
