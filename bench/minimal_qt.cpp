// The program Quorvane's start-up and memory are compared with: the smallest widget program
// that shows the same window, and no more. A fixed 536 x 361 window with the same kinds of
// controls (labels, flat tool buttons, folder buttons with the style's icon, a frame, line edits,
// a masked edit, drop-down lists, a push button, a check box, a coloured banner), the same
// Chinese texts in the same font families, minimised one second after it is shown. Nothing of
// Quorvane's own: no settings, no log, no client library, no single-instance guard, no tray.
//
//   minimal_qt [MARKER_FILE]
// On the first show event a line is appended to MARKER_FILE (opened, written and closed, as a
// log line is), so a benchmark can see the moment the window is up.
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QWidget>
#include <initializer_list>

namespace {

const char* g_marker = nullptr;

QString Q(const char* utf8) {
    return QString::fromUtf8(utf8);
}

template <class W>
W* Place(W* w, int left, int top, int width, int height) {
    w->setGeometry(left, top, width, height);
    return w;
}

void Colour(QWidget* w, QPalette::ColorRole role, QRgb rgb) {
    QPalette p = w->palette();
    p.setColor(role, QColor(rgb));
    w->setPalette(p);
}

class Window : public QWidget {
public:
    Window() {
        setWindowTitle(Q("Interbase 6 Quorvane V1.01"));
        setFixedSize(536, 361);
        if (QScreen* screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
        QFont font(Q("細明體"));
        font.setPixelSize(16);
        setFont(font);

        Label("主機名稱 :", 32, 48, 80);
        Label("資料庫名稱 :", 16, 74, 96);
        Label("通訊協定 :", 32, 100, 80);
        Label("記錄檔路徑 :", 16, 158, 96)->hide();
        Button("登入設定", 30, 128, 83, 22);
        Folder(438, 72);
        Folder(438, 154)->hide();
        Place(new QFrame(this), 18, 168, 513, 165)->setFrameStyle(QFrame::Box | QFrame::Sunken);
        Colour(Label("備份方式", 28, 172, 64), QPalette::WindowText, 0x0000ff);
        Label("日期 :", 114, 192, 48);
        Label("時間 :", 114, 218, 48);
        Button("啟動", 438, 174, 39, 22)->setCheckable(true);
        QToolButton* stop = Button("停止", 480, 174, 39, 22);
        stop->setCheckable(true);
        stop->setChecked(true);
        Label("路徑 :", 114, 244, 48);
        Folder(488, 240);
        Label("本機副本 :", 82, 270, 80);
        Folder(488, 266);
        Label("備份檔命名 :", 66, 296, 96);
        Button("備份記錄", 18, 336, 75, 24);

        QLabel* banner = Place(new QLabel(Q("Interbase 6 Quorvane"), this), 0, 0, 536, 39);
        banner->setAlignment(Qt::AlignCenter);
        banner->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        banner->setAutoFillBackground(true);
        QPalette shades = banner->palette();  // the background and its sunken frame's shades
        const QColor magenta(0xff00ff);
        shades.setColor(QPalette::Window, magenta);
        shades.setColor(QPalette::Light, magenta.lighter(115));
        shades.setColor(QPalette::Dark, magenta.darker(150));
        banner->setPalette(shades);
        QFont kai(Q("標楷體"));
        kai.setPixelSize(19);
        banner->setFont(kai);

        Place(new QLineEdit(this), 114, 44, 225, 24);
        Place(new QLineEdit(this), 114, 70, 321, 24);
        List({"Local", "NamedPipe", "SPX", "TCP"}, 114, 96, 119)->setCurrentIndex(3);
        Place(new QLineEdit(this), 114, 154, 321, 24)->hide();
        List({"每天", "每周 1~5", "每周6", "每周日", "每周 6,日"}, 164, 188, 119);
        QLineEdit* time = Place(new QLineEdit(this), 284, 214, 53, 24);
        time->setInputMask("90:00;_");
        time->hide();
        Place(new QLineEdit(this), 164, 240, 321, 24);
        Place(new QLineEdit(this), 164, 266, 321, 24);
        List({"自動", "手動"}, 164, 292, 75);
        Place(new QLineEdit(this), 242, 292, 244, 24)->hide();
        List({"每 5  分", "每 10 分", "每 30 分", "每 1  小時", "每 3  小時", "每 6  小時",
              "每 12 小時", "特定時間"},
             164, 214, 119);
        Place(new QPushButton(Q("登入測試"), this), 140, 128, 83, 22);
        Colour(Place(new QCheckBox(Q("開機自動載入"), this), 114, 340, 123, 17),
               QPalette::WindowText, 0x800000);
    }

protected:
    void showEvent(QShowEvent* event) override {
        QWidget::showEvent(event);
        if (shown_) return;
        shown_ = true;
        if (g_marker) {
            int fd = ::open(g_marker, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
            if (fd >= 0) {
                [[maybe_unused]] ssize_t n = ::write(fd, "shown\r\n", 7);
                ::close(fd);
            }
        }
        QTimer::singleShot(1000, this, &QWidget::showMinimized);
    }

private:
    QLabel* Label(const char* text, int l, int t, int w) {
        QLabel* label = Place(new QLabel(Q(text), this), l, t, w, 16);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return label;
    }
    QToolButton* Button(const char* text, int l, int t, int w, int h) {
        QToolButton* b = Place(new QToolButton(this), l, t, w, h);
        b->setText(Q(text));
        b->setFocusPolicy(Qt::NoFocus);
        return b;
    }
    QToolButton* Folder(int l, int t) {
        QToolButton* b = Button("", l, t, 23, 22);
        b->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
        b->setIconSize(QSize(16, 16));
        return b;
    }
    QComboBox* List(std::initializer_list<const char*> items, int l, int t, int w) {
        QComboBox* c = Place(new QComboBox(this), l, t, w, 24);
        for (const char* item : items) c->addItem(Q(item));
        return c;
    }
    bool shown_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc > 1) g_marker = argv[1];
    // The layout's Windows face names, mapped to the installed Ming and Kai faces.
    QFont::insertSubstitutions(Q("細明體"), {Q("AR PL UMing TW")});
    QFont::insertSubstitutions(Q("標楷體"), {Q("AR PL UKai TW")});
    Window window;
    window.show();
    return QApplication::exec();
}
