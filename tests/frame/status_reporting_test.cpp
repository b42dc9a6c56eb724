// The status dispatcher: who answers, what the host sees, and the default boxes.
#include "status_reporting.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "os.h"

namespace {

StatusBlock gSeen;
int gCalls = 0;
int16_t gAnswer = QV_ANSWER_OK;

int16_t QV_CALL Recorder(StatusBlock block) {
    gSeen = block;
    ++gCalls;
    return gAnswer;
}

StatusBlock Block(int16_t kind, int16_t code, const char* file = "dir/sub/file.txt") {
    StatusBlock b{};
    std::strcpy(b.archiveName, "c:/archives/a.zip");
    std::strcpy(b.fileName, file);
    b.kind = kind;
    b.code = code;
    b.operation = QV_OP_UNZIPPING;
    b.disk = 3;
    return b;
}

class Dispatcher : public ::testing::Test {
protected:
    std::vector<std::pair<std::string, std::string>> boxes;
    std::vector<uint32_t> types;
    void SetUp() override {
        gCalls = 0;
        gAnswer = QV_ANSWER_OK;
        qv::os::SetMessageBoxHandler([this](std::string_view text, std::string_view caption, uint32_t type) {
            boxes.emplace_back(std::string(text), std::string(caption));
            types.push_back(type);
            return 6;
        });
    }
    void TearDown() override {
        qv::os::SetMessageBoxHandler(nullptr);
        Qv4CPrintHook(nullptr);
        Qv4SetCPrint(0);
    }
};

TEST_F(Dispatcher, WithReportingOffNobodyIsAsked) {
    Qv4SetCPrint(0);
    Qv4CPrintHook(&Recorder);
    EXPECT_EQ(qv::ReportStatus(Block(QV_STATUS_QUESTION, QV_ASK_OVERWRITE)), QV_ANSWER_NO);
    EXPECT_EQ(qv::ReportStatus(Block(QV_STATUS_QUESTION, QV_ASK_INSERT_DISK)), QV_ANSWER_CANCEL);
    EXPECT_EQ(qv::ReportStatus(Block(QV_STATUS_QUESTION, QV_ASK_LAST_DISK)), QV_ANSWER_CANCEL);
    EXPECT_EQ(qv::ReportStatus(Block(QV_STATUS_NOTICE, QV_E_DATA)), QV_ANSWER_OK);
    EXPECT_EQ(qv::ReportStatus(Block(QV_STATUS_PROGRESS, 0)), QV_ANSWER_OK);
    EXPECT_EQ(gCalls, 0);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(Dispatcher, TheCallbackSeesBackslashesAndAnswers) {
    Qv4SetCPrint(1);
    Qv4CPrintHook(&Recorder);
    gAnswer = QV_ANSWER_YES;
    EXPECT_EQ(qv::ReportStatus(Block(QV_STATUS_QUESTION, QV_ASK_OVERWRITE)), QV_ANSWER_YES);
    EXPECT_EQ(gCalls, 1);
    EXPECT_STREQ(gSeen.fileName, "dir\\sub\\file.txt");
    EXPECT_STREQ(gSeen.archiveName, "c:\\archives\\a.zip");
    EXPECT_TRUE(boxes.empty());
}

TEST_F(Dispatcher, MinusTenThousandShowsTheLibrarysOwnBox) {
    Qv4SetCPrint(1);
    Qv4CPrintHook(&Recorder);
    gAnswer = QV_ANSWER_DEFAULT_BOX;
    EXPECT_EQ(qv::ReportStatus(Block(QV_STATUS_QUESTION, QV_ASK_OVERWRITE)), 6);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].first, "dir\\sub\\file.txt: file already exists. Overwrite it?");
    EXPECT_EQ(boxes[0].second, "UnZipping");
}

TEST_F(Dispatcher, DefaultBoxTexts) {
    Qv4SetCPrint(1);  // no callback installed
    struct {
        int16_t kind, code;
        const char* text;
    } cases[] = {
        {QV_STATUS_NOTICE, QV_E_DATA, "f: CRC mismatch. File may have error."},
        {QV_STATUS_NOTICE, QV_E_PASSWORD, "f: wrong password. Skipping file."},
        {QV_STATUS_NOTICE, QV_E_METHOD, "f: unknown compression method. Skipping file."},
        {QV_STATUS_NOTICE, QV_E_FILE, "f: access denied. Skipping file."},
        {QV_STATUS_NOTICE, QV_E_PATH, "f: unsafe path parts removed from the name."},
        {QV_STATUS_NOTICE, QV_E_TOO_LONG, "f: output path too long. Skipping file."},
        {QV_STATUS_NOTICE, QV_E_EOF, "f"},
        {QV_STATUS_QUESTION, QV_ASK_INSERT_DISK, "Insert disk # 3"},
        {QV_STATUS_QUESTION, QV_ASK_LAST_DISK, "Insert the last disk of the set."},
    };
    for (const auto& c : cases) {
        boxes.clear();
        qv::ReportStatus(Block(c.kind, c.code, "f"));
        ASSERT_EQ(boxes.size(), 1u) << c.text;
        EXPECT_EQ(boxes[0].first, c.text);
    }
    boxes.clear();
    EXPECT_EQ(qv::ReportStatus(Block(QV_STATUS_PROGRESS, 0)), QV_ANSWER_OK);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(Dispatcher, SetCPrintResetsTheBlockButKeepsKindCodeDisk) {
    auto& b = qv::Status().block;
    std::strcpy(b.fileName, "x");
    b.operation = 2;
    b.totalSize = 9;
    b.kind = 1;
    b.code = 2;
    b.disk = 7;
    Qv4SetCPrint(1);
    EXPECT_STREQ(b.fileName, "");
    EXPECT_EQ(int{b.operation}, -1);
    EXPECT_EQ(uint32_t{b.totalSize}, 0u);
    EXPECT_EQ(int{b.kind}, 1);
    EXPECT_EQ(int{b.code}, 2);
    EXPECT_EQ(int{b.disk}, 7);
}

TEST(DefaultMessageBox, AnswersAsNobodyCan) {
    qv::os::SetMessageBoxHandler(nullptr);
    EXPECT_EQ(qv::os::MessageBox("n", "c", qv::os::kMbOkCancel | qv::os::kMbIconExclamation), qv::os::kIdOk);
    EXPECT_EQ(qv::os::MessageBox("q", "c", qv::os::kMbYesNoCancel | qv::os::kMbIconQuestion), qv::os::kIdNo);
    EXPECT_EQ(qv::os::MessageBox("d", "c", qv::os::kMbOkCancel | qv::os::kMbIconQuestion), qv::os::kIdCancel);
}

}  // namespace
