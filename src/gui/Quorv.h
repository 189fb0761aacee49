#pragma once
// The main window: its controls, its components and its handlers.
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "engine/BackupSettings.h"
#include "engine/ScheduleKeeper.h"
#include "platform/FileLock.h"
#include "platform/Clock.h"
#include "platform/Component.h"
#include "platform/FilePlaces.h"
#include "firebird/IBServices.h"
#include "components/IniFil.h"
#include "controls/InputBox.h"
#include "controls/OpenDialog.h"
#include "controls/TrayIcon.h"
#include "components/LogRecorder.h"
#include "components/RasOneInstComp.h"
#include "components/RegEdit.h"
#include "components/Shell.h"
#include "controls/MaskEdit.h"
#include "controls/SpeedButton.h"
#include "platform/Timer.h"

namespace qv {

class TQuorvaneForm : public QWidget, public TComponent {
    Q_OBJECT
public:
    explicit TQuorvaneForm(QWidget* parent = nullptr);
    ~TQuorvaneForm() override;

    // Visual controls, in layout order.
    QLabel *Label1, *Label2, *Label3, *Label4;
    TSpeedButton *SpeedButton1, *SpeedButton2, *SpeedButton3;
    QFrame* Bevel1;
    QLabel *Label5, *Label6, *Label7;
    TSpeedButton *StartButton, *StopButton;
    QLabel* Label8;
    TSpeedButton* SpeedButton4;
    QLabel* Label9;
    QLabel* Label10;
    TSpeedButton* SpeedButton5;
    TSpeedButton* SpeedButton6;
    QLabel* Panel1;
    QLineEdit *Edit1, *Edit2;
    QComboBox* ComboBox1;
    QLineEdit* Edit3;
    QComboBox* ComboBox2;
    TMaskEdit* MaskEdit1;
    QLineEdit* Edit4;
    QLineEdit* Edit6;
    QComboBox* ComboBox3;
    QLineEdit* Edit5;
    QComboBox* ComboBox4;
    QPushButton* Button1;
    QCheckBox* CheckBox1;
    QCheckBox* CheckBox2;  // verify every completed backup by a test restore

    // Non-visual components, in layout order.
    TIBBackupService* IBBackupService1;
    TIni* Ini1;
    TLogRecorder* LogRecorder1;
    TInputBox* InputBox1;
    TOpenDialog* OpenDialog1;
    TTimer* Timer1;
    TShell* Shell1;
    TTrayIcon* TrayIcon1;
    TrasOneInstComp* rasOneInstComp1;
    TTimer* Timer2;
    TRegEdit* RegEdit1;

    // Handlers.
    void FormShow();
    void FormClose();
    void GetPara();
    void SavePara();
    void Edit1Change();
    void SaveLog(const std::string& message);
    void Timer1Timer();
    void Timer2Timer();
    void StartButtonClick();
    void StopButtonClick();
    void ComboBox4Change();
    // One backup run with the current settings; reports its own failures in the log.
    virtual void DataBackup();
    void IBBackupService1Attach();
    void Button1Click();
    void SpeedButton1Click();
    void InputBox1Show();
    void SpeedButton2Click();
    void SpeedButton3Click();
    void SpeedButton4Click();
    void SpeedButton5Click();
    void SpeedButton6Click();
    // A directory picker's choice into its field.
    void PickDirectory(const char* title, QLineEdit* edit);
    void ComboBox1Change();
    void ComboBox3Change();
    void TrayIcon1DblClick();
    void CheckBox1Click();

    const std::string& UserName() const { return user_name_; }
    const std::string& Password() const { return password_; }
    const std::string& AppDir() const { return app_dir_; }
    const std::string& TickTime() const { return keeper_->TickTime(); }
    bool Testing() const { return testing_; }
    void SetUserName(std::string v) { user_name_ = std::move(v); }
    void SetPassword(std::string v) { password_ = std::move(v); }

    // An edit's text as bytes: what the settings file held while the text is unchanged.
    std::string TextBytes(const QLineEdit* edit) const;
    void SetTextBytes(QLineEdit* edit, const std::string& bytes);

    // Whether a started backup is still being followed to its end.
    bool FollowingBackup() const { return keeper_->Busy(); }
    // How often a followed backup is asked about (tests make it short).
    int follow_poll_ms = 1000;
    // The armed schedule's record of the last minute it checked.
    TScheduleRecord& ScheduleRecord() { return keeper_->Record(); }
    // What a run reads: the settings as the controls hold them now.
    TBackupSettings CurrentSettings() const;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // Runs a handler so that no exception reaches the message loop: it goes to the
    // application's default error report instead.
    void Guarded(const std::function<void()>& handler);

private:
    void CreateControls();
    void CreateComponents();
    void ConnectEvents();
    void WarnIfAppDirNotWritable();
    // A failure the user should hear of without a dialog: shown by the desktop.
    void NotifyFailure(const std::string& message);
    // The icon's tool-tip: the program's name, the last run's outcome, the next due minute.
    void ShowState();
    // Sets the start-at-logon box from the Run value (its click handler runs when it ticks).
    void CheckRunValue();
    std::string DirectoryOfExe() const;

    std::string user_name_;
    std::string password_;
    std::string app_dir_;
    std::string verify_dir_;   // VERIFYDIR as read; the window shows no control for it
    TBackupSettings alerts_;   // PINGURL, HOOKCMD and METRICSFILE as read: no controls either
    FilePlaces places_;        // where the settings file and the log are kept
    TFileLock settings_lock_;  // one writer per settings file
    bool testing_ = false;
    bool shown_once_ = false;
    bool closed_ = false;
    std::map<const QLineEdit*, std::pair<QString, std::string>> loaded_bytes_;
    std::unique_ptr<TScheduleKeeper> keeper_;  // the schedule and its runs; the window shows them
};

// Maps the Windows face names of the layout to the installed Ming and Kai faces.
void InstallFontSubstitutes();

}  // namespace qv
