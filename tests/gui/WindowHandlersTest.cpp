// The main window's own handlers: login dialog, pickers, lists, tray icon, window look.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QScreen>
#include <QFileDialog>
#include <QLineEdit>
#include <QTimer>
#include <filesystem>

#include "controls/CBitBtn.h"
#include "FakeNotificationArea.h"
#include "FormFixture.h"

namespace qv::test {
namespace {

using Msgs = std::vector<std::string>;

class HandlersTest : public FormFixture {
protected:
    // Runs the login dialog: types user and password, then closes it as told.
    void Login(const std::string& user, const std::string& password, const char* how) {
        form->InputBox1->RunModal = [&, how](QDialog* dialog) {
            dialog->show();  // its show event runs the window's handler
            TMaskEdit* e2 = form->InputBox1->Edits(2);
            ASSERT_NE(e2, nullptr);
            password_shown = e2->echoMode() == QLineEdit::Password;
            form->InputBox1->Edits(1)->setText(QString::fromStdString(user));
            e2->setText(QString::fromStdString(password));
            std::string h = how;
            if (h == "ok") form->InputBox1->OkButton()->click();
            if (h == "cancel") form->InputBox1->CancelButton()->click();
            if (h == "close") dialog->close();
        };
        form->SpeedButton1->click();
    }
    bool password_shown = false;
};

TEST_F(HandlersTest, LoginOkWhileArmedStopsAndTakesTheNewLogin) {
    Start();
    Login("ADMIN", "s3cret", "ok");
    EXPECT_TRUE(password_shown);
    EXPECT_EQ(form->UserName(), "ADMIN");
    EXPECT_EQ(form->Password(), "s3cret");
    EXPECT_TRUE(form->StopButton->Down());
    EXPECT_EQ(LogMessages(), (Msgs{"程式執行", "系統停止"}));
    EXPECT_FALSE(std::filesystem::exists(dir / "Quorvane.ini"));  // saved at the next start
    form->StartButton->click();
    EXPECT_NE(Ini().find("USERNAME=ADMIN\r\nPASSWORD=s3cret\r\n"), std::string::npos);
}

TEST_F(HandlersTest, LoginCancelAndCloseBoxChangeNothing) {
    Start();
    Login("ADMIN", "x", "ok");  // an earlier OK must not make the close box count as OK
    form->StartButton->click();
    size_t lines = LogMessages().size();
    Login("OTHER", "y", "close");
    Login("OTHER", "y", "cancel");
    EXPECT_EQ(form->UserName(), "ADMIN");
    EXPECT_EQ(form->Password(), "x");
    EXPECT_EQ(LogMessages().size(), lines);
    EXPECT_TRUE(form->StartButton->Down());
}

TEST_F(HandlersTest, LoginOkWhileStoppedLogsNothing) {
    Start();
    form->StopButton->click();
    size_t lines = LogMessages().size();
    Login("U", "P", "ok");
    EXPECT_EQ(LogMessages().size(), lines);
    EXPECT_EQ(form->UserName(), "U");
}

TEST_F(HandlersTest, PickersFillTheirEditsAndCancelChangesNothing) {
    Start();
    std::vector<std::pair<std::string, std::string>> asked;
    std::string answer;
    form->OpenDialog1->Run = [&](const std::string& title, const std::string& filter,
                                 const std::string&) {
        asked.emplace_back(title, filter);
        return answer;
    };
    answer = "/data/db/main.gdb";
    form->SpeedButton2->click();
    EXPECT_EQ(form->Edit2->text(), "/data/db/main.gdb");
    answer = "/var/bak/any.txt";
    form->SpeedButton4->click();
    EXPECT_EQ(form->Edit4->text(), "/var/bak");
    answer = "/root.txt";
    form->SpeedButton4->click();
    EXPECT_EQ(form->Edit4->text(), "/");  // the root keeps its separator
    answer = "/logs/x.log";
    form->SpeedButton3Click();
    EXPECT_EQ(form->Edit3->text(), "/logs");
    answer = "";
    form->SpeedButton2->click();
    EXPECT_EQ(form->Edit2->text(), "/data/db/main.gdb");
    // A directory chosen as such is taken whole by the directory pickers; an empty one has no
    // file to choose. The database picker takes what it is given.
    TempDir empty;
    answer = empty.path();
    form->SpeedButton4->click();
    EXPECT_EQ(form->Edit4->text().toStdString(), empty.path());
    form->SpeedButton6->click();  // the copy on this machine
    EXPECT_EQ(form->Edit6->text().toStdString(), empty.path());
    form->SpeedButton3Click();
    EXPECT_EQ(form->Edit3->text().toStdString(), empty.path());
    form->SpeedButton2->click();
    EXPECT_EQ(form->Edit2->text().toStdString(), empty.path());
    const std::string db_filter = "資料庫(*.gdb) (*.gdb);;Firebird 資料庫(*.fdb) (*.fdb)";
    EXPECT_EQ(asked, (std::vector<std::pair<std::string, std::string>>{{"資料庫名稱", db_filter},
                                                                       {"備份檔路徑", ""},
                                                                       {"備份檔路徑", ""},
                                                                       {"記錄檔路徑", ""},
                                                                       {"資料庫名稱", db_filter},
                                                                       {"備份檔路徑", ""},
                                                                       {"本機副本", ""},
                                                                       {"記錄檔路徑", ""},
                                                                       {"資料庫名稱", db_filter}}));
    EXPECT_EQ(LogMessages(),
              (Msgs{"程式執行", "系統停止"}));  // the first pick stopped the schedule
}

// The toolkit's own dialog behind the backup directory picker: confirming an (empty)
// directory chooses it, and a typed name that does not exist is taken.
TEST_F(HandlersTest, TheRealDirectoryPickerTakesAnEmptyDirectoryAndATypedName) {
    Start();
    TempDir top;
    const std::string empty = top / "empty";
    std::filesystem::create_directory(empty);
    auto pick = [&](const std::function<void(QFileDialog*)>& act) {
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog) return;  // the picker then hangs and the test times out
            act(dialog);
            if (dialog->isVisible()) dialog->reject();  // not accepted: the edit keeps its text
        });
        form->SpeedButton4->click();
    };
    auto confirm = [](QFileDialog* dialog, const QString& name) {
        auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(edit, nullptr);
        edit->setText(name);
        auto* buttons = dialog->findChild<QDialogButtonBox*>("buttonBox");
        ASSERT_NE(buttons, nullptr);
        buttons->button(QDialogButtonBox::Open)->click();  // as the user does
    };
    form->OpenDialog1->FileName = top.path() + "/";
    pick([&](QFileDialog* d) { confirm(d, "empty"); });  // the directory, selected by name
    EXPECT_EQ(form->Edit4->text().toStdString(), empty);
    form->Edit4->clear();
    pick([&](QFileDialog* d) {  // the directory shown, by its own button
        auto* here = d->findChild<QPushButton*>("chooseDirectory");
        ASSERT_NE(here, nullptr);
        here->click();
    });
    EXPECT_EQ(form->Edit4->text().toStdString(), empty);
    form->Edit4->clear();
    pick([&](QFileDialog* d) { confirm(d, "new.gbk"); });  // a typed name that does not exist
    EXPECT_EQ(form->Edit4->text().toStdString(), empty);
    EXPECT_EQ(form->OpenDialog1->FileName, empty + "/new.gbk");
    // The database picker opens a directory instead of choosing it.
    form->OpenDialog1->FileName = top.path() + "/";
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        EXPECT_EQ(dialog->findChild<QPushButton*>("chooseDirectory"), nullptr);
        confirm(dialog, "empty");
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(dialog->directory().absolutePath().toStdString(), empty);
        dialog->reject();
    });
    form->Edit2->setText("kept");
    form->SpeedButton2->click();
    EXPECT_EQ(form->Edit2->text(), "kept");
}

TEST_F(HandlersTest, ProtocolAndNamingListsShowAndHideTheirFields) {
    WriteIni("SERVERNAME=db1\r\n");
    Start();
    SelectUser(form->ComboBox1, 0);
    EXPECT_FALSE(form->Edit1->isVisibleTo(form.get()));
    EXPECT_EQ(form->Edit1->text(), "");
    SelectUser(form->ComboBox1, 3);
    EXPECT_TRUE(form->Edit1->isVisibleTo(form.get()));
    EXPECT_EQ(form->Edit1->text(), "");
    SelectUser(form->ComboBox3, 1);
    EXPECT_TRUE(form->Edit5->isVisibleTo(form.get()));
    SelectUser(form->ComboBox3, 0);
    EXPECT_FALSE(form->Edit5->isVisibleTo(form.get()));
    EXPECT_EQ(LogMessages(), (Msgs{"程式執行", "系統停止"}));
    EXPECT_FALSE(form->Label4->isVisibleTo(form.get()));
    EXPECT_FALSE(form->Edit3->isVisibleTo(form.get()));
    EXPECT_FALSE(form->SpeedButton3->isVisibleTo(form.get()));
}

TEST_F(HandlersTest, TheTrayIconStandsForTheMinimisedWindow) {
    auto& area = static_cast<FakeNotificationArea&>(NotificationArea());
    area.calls.clear();
    area.questions = 0;
    WriteIni("DATABASENAME=/x.fdb\r\nBACKUPDIR=/bak\r\n");
    Start();
    EXPECT_EQ(area.questions, 0);  // nothing asked of the desktop while the window comes up
    form->Timer2Timer();           // the start-up minimise
    EXPECT_EQ(area.questions, 1);
    ASSERT_FALSE(area.calls.empty());
    EXPECT_EQ(area.calls.back().op, "add");
    // The program's name, then the state: no run yet, the next due minute (every 5 minutes).
    EXPECT_EQ(area.calls.back().record.tip, "Interbase 6 Quorvane\n下次備份 2026/12/07 14:35");
    EXPECT_FALSE(FakeApp().taskbar_button);
    area.Mouse(WM_LBUTTONUP);  // an XEmbed tray: a click does not restore, a double click does
    EXPECT_TRUE(FakeApp().minimized);
    area.Mouse(WM_LBUTTONDBLCLK);
    area.Mouse(WM_LBUTTONUP);
    EXPECT_FALSE(FakeApp().minimized);
    EXPECT_TRUE(FakeApp().taskbar_button);
    EXPECT_EQ(area.calls.back().op, "delete");
    // A StatusNotifier host sends single clicks only: there a click restores.
    area.single_clicks_only = true;
    form->Timer2Timer();
    ASSERT_TRUE(FakeApp().minimized);
    area.Mouse(WM_LBUTTONUP);
    EXPECT_FALSE(FakeApp().minimized);
    EXPECT_TRUE(FakeApp().taskbar_button);
    area.single_clicks_only = false;
    FakeApp().taskbar_button = true;
}

TEST_F(FormFixture, WindowLook) {
    TQuorvaneForm& f = Start(false);
    EXPECT_EQ(f.windowTitle(), "Interbase 6 Quorvane V1.01");
    EXPECT_EQ(f.minimumSize(), QSize(536, 361));
    EXPECT_EQ(f.maximumSize(), QSize(536, 361));
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(f.pos(), screen.center() - QPoint(268, 180));  // in the centre of the screen
    EXPECT_FALSE(f.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(f.ComboBox4->itemText(0), "每 5  分");
    EXPECT_EQ(f.ComboBox2->itemText(4), "每周 6,日");
    EXPECT_EQ(f.InputBox1->Caption, "登入設定");
    EXPECT_EQ(f.TrayIcon1->Hint(), "Interbase 6 Quorvane");
    EXPECT_TRUE(f.TrayIcon1->Active());
    EXPECT_EQ(f.Button1->geometry(), QRect(140, 128, 83, 22));
    EXPECT_EQ(f.Panel1->height(), 39);
    // The layout's colours as drawn: the banner with its sunken frame's shade, the caption of
    // the backup box, the start-at-logon box.
    const QImage banner = f.Panel1->grab().toImage();
    EXPECT_EQ(banner.pixelColor(5, 20), QColor(0xff, 0x00, 0xff));
    EXPECT_EQ(banner.pixelColor(0, 0), QColor(0xaa, 0x00, 0xaa));
    EXPECT_EQ(banner.pixelColor(5, 38), QColor(0xff, 0x26, 0xff));
    EXPECT_EQ(f.Label5->palette().color(QPalette::WindowText), QColor(0x00, 0x00, 0xff));
    EXPECT_EQ(f.CheckBox1->palette().color(QPalette::WindowText), QColor(0x80, 0x00, 0x00));
}

}  // namespace
}  // namespace qv::test
