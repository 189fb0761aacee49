// Settings and inputs that are broken or extreme: nothing crashes and nothing is lost quietly.
#include <gtest/gtest.h>

#include <random>

#include "FbDouble.h"
#include "FormFixture.h"

namespace qv::test {
namespace {

using Msgs = std::vector<std::string>;

TEST_F(FormFixture, ABinarySettingsFileStartsWithDefaultsAndIsNotDestroyed) {
    std::mt19937 rng(7);
    std::string junk;
    for (int i = 0; i < 4096; ++i) junk += static_cast<char>(rng() & 0xFF);
    WriteFile(dir / "Quorvane.ini", junk);
    Start();
    EXPECT_EQ(form->UserName(), "SYSDBA");
    form->FormClose();
    const std::string after = Ini();
    EXPECT_EQ(after.substr(0, junk.size()), junk);  // every byte that was there is still there
    EXPECT_NE(after.find("[Para]\r\nSERVERNAME=\r\n"), std::string::npos);
}

TEST_F(FormFixture, AMegabyteLineIsCutOnReadingAndLeftAloneOtherwise) {
    const std::string huge(1 << 20, 'x');
    WriteIni("LOGNAME=" + huge + "\r\nOTHER=" + huge + "\r\n");
    Start();
    EXPECT_EQ(form->Edit3->text().size(), 2047);
    form->FormClose();
    EXPECT_NE(Ini().find("OTHER=" + huge + "\r\n"), std::string::npos);  // a key we do not own
}

TEST_F(FormFixture, TextsThatAreNotUtf8GoBackToTheFileUnchanged) {
    const std::string big5 = "D:\\\xb3\xc6\xa5\xf7";  // "D:\備份" in Big5: not UTF-8
    WriteIni("BACKUPDIR=" + big5 + "\r\nDATABASENAME=\xff\xfe.fdb\r\n");
    Start();
    EXPECT_EQ(form->TextBytes(form->Edit4), big5);
    form->FormClose();
    EXPECT_NE(Ini().find("BACKUPDIR=" + big5 + "\r\n"), std::string::npos);
    EXPECT_NE(Ini().find("DATABASENAME=\xff\xfe.fdb\r\n"), std::string::npos);
}

class BadRunTest : public FormFixture {
protected:
    void SetUp() override {
        FormFixture::SetUp();
        Start();
        dbl = std::make_unique<FbDouble>("libfbclient.so.2");
        ASSERT_TRUE(dbl->ok());
        dbl->Reset();
        form->Edit1->setText("dbhost");
        form->Edit2->setText("/x.fdb");
        form->Edit4->setText("/bak");
        form->StartButton->click();
    }
    Msgs Tick() {
        size_t mark = LogMessages().size();
        clock.Set(2026, 12, 7, 10, 0, 0, 500);
        form->Timer1Timer();
        Msgs all = LogMessages();
        return Msgs(all.begin() + static_cast<long>(mark), all.end());
    }
    std::unique_ptr<FbDouble> dbl;
};

TEST_F(BadRunTest, AUserNameOver255BytesFailsTheRunAndSendsNothing) {
    form->SetUserName(std::string(256, 'u'));
    const Msgs log = Tick();
    ASSERT_EQ(log.size(), 3u);  // the failure, then the component's reason
    EXPECT_EQ(log[1], "資料庫 /x.fdb 服務啟動失敗");
    EXPECT_TRUE(dbl->ServiceCalls().empty());
    form->SetUserName(std::string(255, 'u'));
    EXPECT_EQ(Tick().back(), "備份結束...");
}

TEST_F(BadRunTest, APathOver65535BytesFailsTheRunAndSendsNoRequest) {
    // 90 000 bytes; the edit holds 32 767 characters
    form->Edit4->setText("/" + QString(30000, QChar(0x5099)));
    form->StartButton->click();
    Msgs log = Tick();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[2], "資料庫 /x.fdb 服務啟動失敗");
    for (auto& c : dbl->ServiceCalls()) EXPECT_NE(c.name, "isc_service_start");
    EXPECT_TRUE(form->IBBackupService1->Active());  // refused before sending: still attached
    form->Edit4->setText("/bak");
    form->StartButton->click();
    EXPECT_EQ(Tick().back(), "備份結束...");  // the next run closes it first and goes on
    EXPECT_FALSE(form->IBBackupService1->Active());
}

TEST_F(BadRunTest, AServerNameOfTheWrongShapeIsTheServersMatter) {
    form->Edit1->setText("host\\with:odd@chars");
    form->StartButton->click();
    EXPECT_EQ(Tick().back(), "備份結束...");
    EXPECT_EQ(dbl->ServiceCalls().at(0).data, "host\\with:odd@chars:service_mgr");
}

}  // namespace
}  // namespace qv::test
