#include "gui/Quorv.h"

#include <QCloseEvent>
#include <QFont>
#include <QGuiApplication>
#include <QScreen>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QTimer>

#include "platform/Application.h"
#include "engine/BackupNaming.h"
#include "platform/Clock.h"
#include "platform/DesktopNotifications.h"
#include "platform/Files.h"
#include "platform/NotificationArea.h"
#include "platform/Platform.h"
#include "engine/Schedule.h"
#include "platform/Strings.h"

namespace qv {

namespace {

constexpr const char* kMingFace = "細明體";
constexpr const char* kKaiFace = "標楷體";

QString Q(const char* utf8) {
    return QString::fromUtf8(utf8);
}

template <class W>
W* Place(W* w, int left, int top, int width, int height) {
    w->setGeometry(left, top, width, height);
    return w;
}

QLabel* MakeLabel(QWidget* parent, const char* caption, int l, int t, int w, int h) {
    auto* label = Place(new QLabel(Q(caption), parent), l, t, w, h);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

TSpeedButton* MakeSpeedButton(QWidget* parent, const char* caption, int l, int t, int w, int h) {
    auto* b = Place(new TSpeedButton(parent), l, t, w, h);
    b->setText(Q(caption));
    return b;
}

TSpeedButton* MakeFolderButton(QWidget* parent, int l, int t) {
    auto* b = MakeSpeedButton(parent, "", l, t, 23, 22);
    b->setIcon(parent->style()->standardIcon(QStyle::SP_DirOpenIcon));
    b->setIconSize(QSize(16, 16));
    return b;
}

QComboBox* MakeList(QWidget* parent, std::initializer_list<const char*> items, int l, int t, int w,
                    int h) {
    auto* c = Place(new QComboBox(parent), l, t, w, h);
    for (const char* item : items) c->addItem(Q(item));
    c->setEditable(false);  // a drop-down list accepts only its items
    return c;
}

// A colour of the layout, set in the control's palette (a style sheet would bring in the
// style-sheet machinery for three colours).
void SetColour(QWidget* w, QPalette::ColorRole role, QRgb rgb) {
    QPalette palette = w->palette();
    palette.setColor(role, QColor(rgb));
    w->setPalette(palette);
}

// A background colour with the shades of a sunken frame drawn on it, as a style sheet's
// background gives them.
void SetBackground(QWidget* w, QRgb rgb) {
    const QColor colour(rgb);
    QPalette palette = w->palette();
    palette.setColor(QPalette::Window, colour);
    palette.setColor(QPalette::Light, colour.lighter(115));
    palette.setColor(QPalette::Midlight, colour.lighter(107));
    palette.setColor(QPalette::Dark, colour.darker(150));
    palette.setColor(QPalette::Shadow, colour.darker(300));
    w->setPalette(palette);
    w->setAutoFillBackground(true);
}

// Sets a list's index from code: an index outside the list leaves no selection.
void SetIndex(QComboBox* list, int index) {
    list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}

}  // namespace

void InstallFontSubstitutes() {
    QFont::insertSubstitutions(Q(kMingFace), {Q("AR PL UMing TW"), Q("AR PL UMing CN"),
                                              Q("Noto Serif CJK TC"), Q("PMingLiU")});
    QFont::insertSubstitutions(
        Q(kKaiFace), {Q("AR PL UKai TW"), Q("AR PL UKai CN"), Q("DFKai-SB"), Q("AR PL UMing TW")});
}

TQuorvaneForm::TQuorvaneForm(QWidget* parent) : QWidget(parent) {
    SetName("QuorvaneForm");
    // Reading the layout: controls, then components in layout order, then the after-loading
    // step of every component.
    BeginLoading();
    CreateControls();
    CreateComponents();
    EndLoading();
    ConnectEvents();
}

TQuorvaneForm::~TQuorvaneForm() = default;

void TQuorvaneForm::CreateControls() {
    setWindowTitle(Q("Interbase 6 Quorvane V1.01"));
    setFixedSize(536, 361);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    // In the centre of the screen. The window manager may still place it (a native Wayland
    // client cannot place itself at all).
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    QFont font(Q(kMingFace));
    font.setPixelSize(16);
    setFont(font);

    Label1 = MakeLabel(this, "主機名稱 :", 32, 48, 80, 16);
    Label2 = MakeLabel(this, "資料庫名稱 :", 16, 74, 96, 16);
    Label3 = MakeLabel(this, "通訊協定 :", 32, 100, 80, 16);
    Label4 = MakeLabel(this, "記錄檔路徑 :", 16, 158, 96, 16);
    Label4->hide();
    SpeedButton1 = MakeSpeedButton(this, "登入設定", 30, 128, 83, 22);
    SpeedButton2 = MakeFolderButton(this, 438, 72);
    SpeedButton3 = MakeFolderButton(this, 438, 154);
    SpeedButton3->hide();
    Bevel1 = Place(new QFrame(this), 18, 168, 513, 165);
    Bevel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
    Label5 = MakeLabel(this, "備份方式", 28, 172, 64, 16);
    SetColour(Label5, QPalette::WindowText, 0x0000ff);
    Label6 = MakeLabel(this, "日期 :", 114, 192, 48, 16);
    Label7 = MakeLabel(this, "時間 :", 114, 218, 48, 16);
    StartButton = MakeSpeedButton(this, "啟動", 438, 174, 39, 22);
    StartButton->SetGroupIndex(1);
    StopButton = MakeSpeedButton(this, "停止", 480, 174, 39, 22);
    StopButton->SetGroupIndex(1);
    StopButton->SetDown(true);
    Label8 = MakeLabel(this, "路徑 :", 114, 244, 48, 16);
    SpeedButton4 = MakeFolderButton(this, 488, 240);
    Label10 = MakeLabel(this, "本機副本 :", 82, 270, 80, 16);
    SpeedButton6 = MakeFolderButton(this, 488, 266);
    Label9 = MakeLabel(this, "備份檔命名 :", 66, 296, 96, 16);
    SpeedButton5 = MakeSpeedButton(this, "備份記錄", 18, 336, 75, 24);

    Panel1 = Place(new QLabel(Q("Interbase 6 Quorvane"), this), 0, 0, 536, 39);
    Panel1->setAlignment(Qt::AlignCenter);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    SetBackground(Panel1, 0xff00ff);
    QFont banner(Q(kKaiFace));
    banner.setPixelSize(19);
    Panel1->setFont(banner);

    Edit1 = Place(new QLineEdit(this), 114, 44, 225, 24);
    Edit2 = Place(new QLineEdit(this), 114, 70, 321, 24);
    ComboBox1 = MakeList(this, {"Local", "NamedPipe", "SPX", "TCP"}, 114, 96, 119, 24);
    Edit3 = Place(new QLineEdit(this), 114, 154, 321, 24);
    Edit3->hide();
    ComboBox2 =
        MakeList(this, {"每天", "每周 1~5", "每周6", "每周日", "每周 6,日"}, 164, 188, 119, 24);
    MaskEdit1 = Place(new TMaskEdit(this), 284, 214, 53, 24);
    MaskEdit1->SetEditMask("!90:00;0;_");
    Edit4 = Place(new QLineEdit(this), 164, 240, 321, 24);
    // The copy on this machine: a directory here, not on the server.
    Edit6 = Place(new QLineEdit(this), 164, 266, 321, 24);
    ComboBox3 = MakeList(this, {"自動", "手動"}, 164, 292, 75, 24);
    Edit5 = Place(new QLineEdit(this), 242, 292, 244, 24);
    ComboBox4 = MakeList(this,
                         {"每 5  分", "每 10 分", "每 30 分", "每 1  小時", "每 3  小時",
                          "每 6  小時", "每 12 小時", "特定時間"},
                         164, 214, 119, 24);
    Button1 = Place(new QPushButton(Q("登入測試"), this), 140, 128, 83, 22);
    Button1->setFocusPolicy(Qt::ClickFocus);  // not a tab stop
    CheckBox1 = Place(new QCheckBox(Q("開機自動載入"), this), 114, 340, 123, 17);
    SetColour(CheckBox1, QPalette::WindowText, 0x800000);
    CheckBox2 = Place(new QCheckBox(Q("備份後驗證"), this), 250, 340, 110, 17);
    SetColour(CheckBox2, QPalette::WindowText, 0x800000);

    // Tab order as laid out (ComboBox4 before MaskEdit1).
    QWidget* order[] = {Edit1, Edit2, ComboBox1, Edit3, ComboBox2, ComboBox4, MaskEdit1,
                        Edit4, Edit6, ComboBox3, Edit5, CheckBox1, CheckBox2};
    for (size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);
}

void TQuorvaneForm::CreateComponents() {
    // Loads the client library; without it the window is not created.
    IBBackupService1 = new TIBBackupService(this);
    IBBackupService1->SetName("IBBackupService1");
    IBBackupService1->SetProtocol(TProtocol::TCP);
    TStringList params;
    params.Add("user_name=SYSDBA");
    params.Add("password=tidewater");
    IBBackupService1->SetParams(params);
    IBBackupService1->SetLoginPrompt(false);
    IBBackupService1->SetTraceFlags(0);
    IBBackupService1->OnAttach = [this](TIBCustomService*) { IBBackupService1Attach(); };
    IBBackupService1->SetBlockingFactor(0);
    IBBackupService1->SetDatabaseName("employee.fdb");
    IBBackupService1->SetOptions(0);
    keeper_ = std::make_unique<TScheduleKeeper>(*IBBackupService1);
    keeper_->Settings = [this] { return CurrentSettings(); };
    keeper_->Armed = [this] { return StartButton->Down(); };
    keeper_->OnDue = [this] { DataBackup(); };
    keeper_->OnLine = [this](const std::string& message, TLinePriority priority) {
        if (priority == TLinePriority::Failure) NotifyFailure(message);
    };
    keeper_->OnStateChanged = [this] { ShowState(); };

    Ini1 = new TIni(this);
    Ini1->SetName("Ini1");
    Ini1->SetDataType(TiniType::DsString);
    Ini1->SetSection("Para");

    LogRecorder1 = &keeper_->Recorder();  // the log PROC_LOG.TXT, written by the schedule
    LogRecorder1->SetName("LogRecorder1");

    InputBox1 = new TInputBox(this);
    InputBox1->SetName("InputBox1");
    InputBox1->SetLabel(1, "使用者名稱");
    InputBox1->SetLabel(2, "使用者密碼");
    InputBox1->Caption = "登入設定";
    InputBox1->OnShow = [this](TInputBox*) { Guarded([this] { InputBox1Show(); }); };

    OpenDialog1 = new TOpenDialog(this);
    OpenDialog1->SetName("OpenDialog1");

    Timer1 = &keeper_->Timer();  // the one-minute timer, on the clock's minutes
    Timer1->SetName("Timer1");
    Timer1->OnTimer = [this] { Guarded([this] { Timer1Timer(); }); };

    Shell1 = new TShell(this);
    Shell1->SetName("Shell1");
    Shell1->SetFileName("PROC_LOG.TXT");

    TrayIcon1 = new TTrayIcon(this);
    TrayIcon1->SetName("TrayIcon1");
    TrayIcon1->SetActive(true);
    TrayIcon1->SetHint("Interbase 6 Quorvane");
    TrayIcon1->SetSeparateIcon(false);
    TrayIcon1->OnDblClick = [this](TComponent*) { Guarded([this] { TrayIcon1DblClick(); }); };
    // Where the notification area reports single clicks only (a StatusNotifier host), a
    // click is all that arrives, so a click restores; elsewhere the double click does. Asked
    // at the click, when the icon is shown and the area known: asked here, the question to
    // the session bus would hold up the window.
    TrayIcon1->OnClick = [this](TComponent*) {
        Guarded([this] {
            if (NotificationArea().SingleClicksOnly()) TrayIcon1DblClick();
        });
    };

    rasOneInstComp1 = new TrasOneInstComp(this);
    rasOneInstComp1->SetName("rasOneInstComp1");
    rasOneInstComp1->SetMessage("Quorvane");
    rasOneInstComp1->SetMutex("Quorvane");
    rasOneInstComp1->SetText("不能重覆載入");
    rasOneInstComp1->SetTitle("Quorvane");

    Timer2 = new TTimer(this);
    Timer2->SetName("Timer2");
    Timer2->SetEnabled(false);
    Timer2->SetInterval(1000);
    Timer2->OnTimer = [this] { Guarded([this] { Timer2Timer(); }); };

    RegEdit1 = new TRegEdit(this);
    RegEdit1->SetName("RegEdit1");
    RegEdit1->SetSubKey("Software\\Microsoft\\Windows\\CurrentVersion\\Run");
    RegEdit1->SetRootKey(TRootKey::HKLM);
}

void TQuorvaneForm::ConnectEvents() {
    auto change = [this] { Guarded([this] { Edit1Change(); }); };
    for (QLineEdit* e : {Edit1, Edit2, Edit3, Edit4, Edit6})
        connect(e, &QLineEdit::textChanged, this, change);
    connect(MaskEdit1, &TMaskEdit::Changed, this, change);
    connect(ComboBox2, &QComboBox::activated, this, change);
    connect(ComboBox4, &QComboBox::activated, this,
            [this] { Guarded([this] { ComboBox4Change(); }); });
    connect(Button1, &QPushButton::clicked, this, [this] { Guarded([this] { Button1Click(); }); });
    SpeedButton1->OnClick = [this] { Guarded([this] { SpeedButton1Click(); }); };
    SpeedButton2->OnClick = [this] { Guarded([this] { SpeedButton2Click(); }); };
    SpeedButton3->OnClick = [this] { Guarded([this] { SpeedButton3Click(); }); };
    SpeedButton4->OnClick = [this] { Guarded([this] { SpeedButton4Click(); }); };
    SpeedButton5->OnClick = [this] { Guarded([this] { SpeedButton5Click(); }); };
    SpeedButton6->OnClick = [this] { Guarded([this] { SpeedButton6Click(); }); };
    connect(ComboBox1, &QComboBox::activated, this,
            [this] { Guarded([this] { ComboBox1Change(); }); });
    connect(ComboBox3, &QComboBox::activated, this,
            [this] { Guarded([this] { ComboBox3Change(); }); });
    connect(CheckBox1, &QCheckBox::toggled, this,
            [this] { Guarded([this] { CheckBox1Click(); }); });
    StartButton->OnClick = [this] { Guarded([this] { StartButtonClick(); }); };
    StopButton->OnClick = [this] { Guarded([this] { StopButtonClick(); }); };
}

void TQuorvaneForm::Guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        Application().ShowException(e.what());
    } catch (...) {
        Application().ShowException("Unknown error");
    }
}

void TQuorvaneForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (shown_once_) return;
    shown_once_ = true;
    // The start-up sequence runs once the window is on screen, from the message loop.
    QTimer::singleShot(0, this, [this] { Guarded([this] { FormShow(); }); });
}

void TQuorvaneForm::closeEvent(QCloseEvent* event) {
    if (!closed_) {
        closed_ = true;
        Guarded([this] { FormClose(); });
    }
    event->accept();
}

void TQuorvaneForm::FormShow() {
    std::string dir = DirectoryOfExe();
    app_dir_ = dir;
    if (app_dir_.empty() || app_dir_.back() != '/') app_dir_ += '/';
    // Beside the program, or, for the installed program and one in a directory this user
    // cannot write, in the user's own directories.
    places_ =
        FilePlaces::Decide(dir, FilePlaces::InstalledProgramDir(), XdgEnvironment::FromProcess());
    Shell1->SetDirectory(places_.LogDir());
    // One writer per settings file: a service or another user's copy keeping this one wins.
    std::string why;
    if (!settings_lock_.Acquire(places_.settings_file, &why)) {
        closed_ = true;  // nothing of this copy is saved or logged
        Application().MessageBox("設定檔 " + places_.settings_file +
                                 " 已由另一個程式使用中，本程式結束。");
        Application().PostQuit();
        return;
    }
    Ini1->SetFileName(places_.settings_source);
    CheckRunValue();
    GetPara();
    Ini1->SetFileName(places_.settings_file);  // an administrator's defaults are only read
    Edit1->setVisible(ComboBox1->currentIndex() != 0);
    keeper_->SetDirectory(places_.log_dir);
    SaveLog("程式執行");
    StartButton->SetDown(true);
    keeper_->Start();  // a gap since the program last ran is made up once
    ShowState();
    // Set up (a database and somewhere for its backup): out of the way a second later.
    if (!Trim(TextBytes(Edit2)).empty() &&
        (!Trim(TextBytes(Edit4)).empty() || !Trim(TextBytes(Edit6)).empty()))
        Timer2->SetEnabled(true);
    WarnIfAppDirNotWritable();
}

std::string TQuorvaneForm::DirectoryOfExe() const {
    std::string exe = Application().ExeName();
    size_t slash = exe.rfind('/');
    if (slash == std::string::npos) return "";
    return slash == 0 ? "/" : exe.substr(0, slash);
}

void TQuorvaneForm::WarnIfAppDirNotWritable() {
    const bool settings = places_.SettingsWritable(), log = places_.LogWritable();
    if (settings && log) return;
    if (!places_.per_user) {
        std::string dir = app_dir_.size() > 1 ? app_dir_.substr(0, app_dir_.size() - 1) : app_dir_;
        Application().MessageBox("程式目錄 " + dir +
                                 " 無法寫入：設定檔 Quorvane.ini 與備份記錄 PROC_LOG.TXT "
                                 "將無法儲存。請將程式安裝在可寫入的目錄。");
        return;
    }
    // The user's own directories, named one by one: which of the two files is lost.
    std::string dirs, files;
    if (!settings) {
        dirs = places_.SettingsDir();
        files = "設定檔 Quorvane.ini";
    }
    if (!log) {
        dirs += (dirs.empty() ? "" : " 與 ") + places_.LogDir();
        files += (files.empty() ? "" : " 與") + std::string("備份記錄 PROC_LOG.TXT");
    }
    Application().MessageBox("使用者目錄 " + dirs + " 無法寫入：" + files +
                             " 將無法儲存。請檢查這些目錄的權限。");
}

void TQuorvaneForm::CheckRunValue() {
    CheckBox1->setChecked(!RegEdit1->ReadValue("Quorv").empty());
}

void TQuorvaneForm::SpeedButton5Click() {
    Shell1->Execute();
}

void TQuorvaneForm::SpeedButton1Click() {
    InputBox1->SetText(1, user_name_);
    InputBox1->SetText(2, password_);
    InputBox1->Execute();
    if (!InputBox1->Accepted()) return;
    Edit1Change();
    user_name_ = InputBox1->Text(1);
    password_ = InputBox1->Text(2);
}

void TQuorvaneForm::InputBox1Show() {
    if (TMaskEdit* edit = InputBox1->Edits(2)) {
        edit->setEchoMode(QLineEdit::Password);
        edit->setStyleSheet("lineedit-password-character: 42;");  // one "*" per character
    }
}

namespace {
// The database filter, with a second entry for the name Firebird databases have on Linux.
constexpr const char* kDatabaseFilter = "資料庫(*.gdb)|*.gdb|Firebird 資料庫(*.fdb)|*.fdb";
}  // namespace

void TQuorvaneForm::SpeedButton2Click() {
    OpenDialog1->Title = "資料庫名稱";
    OpenDialog1->Filter = kDatabaseFilter;
    OpenDialog1->TakeDirectories = false;
    if (OpenDialog1->Execute()) Edit2->setText(QString::fromStdString(OpenDialog1->FileName));
}

// The directory pickers: a file chosen or typed in a directory, or the directory itself (an
// empty one has no file to choose).
void TQuorvaneForm::SpeedButton3Click() {
    PickDirectory("記錄檔路徑", Edit3);
}

void TQuorvaneForm::SpeedButton4Click() {
    PickDirectory("備份檔路徑", Edit4);
}

void TQuorvaneForm::PickDirectory(const char* title, QLineEdit* edit) {
    OpenDialog1->Title = title;
    OpenDialog1->Filter = "";
    OpenDialog1->TakeDirectories = true;
    if (OpenDialog1->Execute())
        edit->setText(QString::fromStdString(DirectoryOfFile(OpenDialog1->FileName)));
}

void TQuorvaneForm::SpeedButton6Click() {
    PickDirectory("本機副本", Edit6);
}

void TQuorvaneForm::ComboBox1Change() {
    if (ComboBox1->currentIndex() != 0) {
        Edit1->setVisible(true);
    } else {
        Edit1->setVisible(false);
        Edit1->setText("");
    }
    Edit1Change();
}

void TQuorvaneForm::ComboBox3Change() {
    Edit1Change();
    Edit5->setVisible(ComboBox3->currentIndex() == 1);
}

void TQuorvaneForm::TrayIcon1DblClick() {
    Application().Restore();
}

void TQuorvaneForm::CheckBox1Click() {
    const bool wanted = CheckBox1->isChecked();
    bool done = false;
    try {
        // The fixed program file name in the program's directory, whatever this file is called.
        // Cleared, the value must be gone: a user's delete leaves a machine-wide one in place.
        if (wanted) {
            done = RegEdit1->WriteValue("Quorv", app_dir_ + "Quorvane");
        } else {
            RegEdit1->DeleteValue("Quorv");
            done = RegEdit1->ReadValue("Quorv").empty();
        }
    } catch (const std::exception&) {
        done = false;
    }
    if (done) return;
    // The box must show what really holds: put it back and say why.
    const bool actual = !RegEdit1->ReadValue("Quorv").empty();
    {
        QSignalBlocker quiet(CheckBox1);
        CheckBox1->setChecked(actual);
    }
    Application().MessageBox(wanted ? "無法設定開機自動載入：沒有寫入權限。"
                                    : "無法取消開機自動載入：沒有寫入權限。");
}

void TQuorvaneForm::SetTextBytes(QLineEdit* edit, const std::string& bytes) {
    const QString text = QString::fromStdString(bytes);
    loaded_bytes_[edit] = {text, bytes};
    edit->setText(text);
}

std::string TQuorvaneForm::TextBytes(const QLineEdit* edit) const {
    // A text read from the settings that is not valid UTF-8 (a file from another code page)
    // shows with replacement characters; while it is not edited, its bytes go on unchanged.
    auto it = loaded_bytes_.find(edit);
    if (it != loaded_bytes_.end() && it->second.first == edit->text()) return it->second.second;
    return edit->text().toStdString();
}

void TQuorvaneForm::GetPara() {
    const TBackupSettings settings = ReadBackupSettings(*Ini1);
    SetTextBytes(Edit1, settings.server_name);
    SetTextBytes(Edit2, settings.database_name);
    user_name_ = settings.user_name;
    password_ = settings.password;
    SetTextBytes(Edit3, settings.log_name);
    MaskEdit1->SetText("0000");
    MaskEdit1->SetText(settings.backup_time);
    SetTextBytes(Edit4, settings.backup_dir);
    SetTextBytes(Edit6, settings.local_dir);
    SetTextBytes(Edit5, settings.backup_name);
    SetIndex(ComboBox1, settings.protocol);
    SetIndex(ComboBox2, settings.date_mode);
    SetIndex(ComboBox3, settings.naming_mode);
    SetIndex(ComboBox4, settings.time_mode);
    CheckBox2->setChecked(settings.verify);
    verify_dir_ = settings.verify_dir;
    alerts_ = settings;  // the alerts' keys, which have no controls

    MaskEdit1->setVisible(ComboBox4->currentIndex() == 7);
    Edit5->setVisible(ComboBox3->currentIndex() == 1);
}

TBackupSettings TQuorvaneForm::CurrentSettings() const {
    TBackupSettings s;
    s.server_name = TextBytes(Edit1);
    s.database_name = TextBytes(Edit2);
    s.user_name = user_name_;
    s.password = password_;
    s.log_name = TextBytes(Edit3);
    s.backup_time = MaskEdit1->Text();
    s.backup_dir = TextBytes(Edit4);
    s.backup_name = TextBytes(Edit5);
    s.protocol = ComboBox1->currentIndex();
    s.date_mode = ComboBox2->currentIndex();
    s.naming_mode = ComboBox3->currentIndex();
    s.time_mode = ComboBox4->currentIndex();
    s.verify = CheckBox2->isChecked();
    s.verify_dir = verify_dir_;
    s.local_dir = TextBytes(Edit6);
    s.ping_url = alerts_.ping_url;
    s.hook_cmd = alerts_.hook_cmd;
    s.metrics_file = alerts_.metrics_file;
    s.settings_file = places_.settings_file;
    s.settings_id = SettingsId(places_.settings_file);
    return s;
}

void TQuorvaneForm::SavePara() {
    auto write = [this](const char* key, TVariant value) {
        Ini1->SetIdent(key);
        Ini1->SetValue(std::move(value));
        Ini1->Write();  // the result is ignored
    };
    Ini1->BeginUpdate();  // every key in one write of the file
    Ini1->SetDataType(TiniType::DsString);
    write("SERVERNAME", TextBytes(Edit1));
    write("DATABASENAME", TextBytes(Edit2));
    write("USERNAME", user_name_);
    write("PASSWORD", password_);
    write("LOGNAME", TextBytes(Edit3));
    write("BACKUPTIME", MaskEdit1->Text());
    write("BACKUPDIR", TextBytes(Edit4));
    write("LOCALDIR", TextBytes(Edit6));
    write("BACKUPNAME", TextBytes(Edit5));
    Ini1->SetDataType(TiniType::DsInteger);
    write("PROTOCAL", ComboBox1->currentIndex());
    write("BACKUPMODE", ComboBox2->currentIndex());
    write("NAMETYPE", ComboBox3->currentIndex());
    write("TIMEMODE", ComboBox4->currentIndex());
    write("VERIFY", CheckBox2->isChecked() ? 1 : 0);
    Ini1->EndUpdate();
}

void TQuorvaneForm::Edit1Change() {
    if (StopButton->Down()) return;
    StopButton->SetDown(true);
    keeper_->Disarm();
    SaveLog("系統停止");
    ShowState();
}

void TQuorvaneForm::FormClose() {
    SavePara();
    keeper_->Close();  // a run still going gets its line, then "系統結束"
}

void TQuorvaneForm::SaveLog(const std::string& message) {
    keeper_->Log(message);
}

void TQuorvaneForm::Timer2Timer() {
    Application().Minimize();
    Timer2->SetEnabled(false);
}

void TQuorvaneForm::Timer1Timer() {
    keeper_->Tick();  // the armed schedule's test of this minute
}

void TQuorvaneForm::ShowState() {
    std::string hint = "Interbase 6 Quorvane";
    for (const std::string& line : keeper_->StateLines()) hint += "\n" + line;
    TrayIcon1->SetHint(hint);
}

void TQuorvaneForm::StartButtonClick() {
    keeper_->Arm();
    SavePara();
    SaveLog("系統啟動");
    ShowState();
}

void TQuorvaneForm::StopButtonClick() {
    keeper_->Disarm();
    SaveLog("系統停止");
    ShowState();
}

void TQuorvaneForm::ComboBox4Change() {
    Edit1Change();
    MaskEdit1->setVisible(ComboBox4->currentIndex() == 7);
}

void TQuorvaneForm::NotifyFailure(const std::string& message) {
    // From the icon while it stands for the window, else straight to the desktop.
    if (!TrayIcon1->ShowMessage("Quorvane", message))
        DesktopNotifications().Notify("Quorvane", message);
}

void TQuorvaneForm::DataBackup() {
    keeper_->Runner().follow_poll_ms = follow_poll_ms;
    keeper_->RunBackup();
}

void TQuorvaneForm::IBBackupService1Attach() {
    if (testing_) return;
    keeper_->Runner().follow_poll_ms = follow_poll_ms;
    keeper_->Runner().StartAttached();
}

void TQuorvaneForm::Button1Click() {
    testing_ = true;
    try {
        // A connection left open whose close fails is a failed test like any other.
        if (IBBackupService1->Active()) IBBackupService1->SetActive(false);
        keeper_->Runner().Fill(CurrentSettings(), "TEST.gbk");
        IBBackupService1->SetActive(true);
        // Cleared before the box opens, so that a backup falling due meanwhile is made.
        testing_ = false;
        Application().MessageBox("服務連結成功 !!");
        IBBackupService1->SetActive(false);
    } catch (const std::exception&) {
        Application().MessageBox("服務連結失敗 !!");
    }
    testing_ = false;
}

}  // namespace qv
