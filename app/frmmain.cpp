#include "frmmain.h"

#include <dlfcn.h>
#include <systemd/sd-daemon.h>

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QEvent>
#include <QIcon>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QResizeEvent>
#include <QShowEvent>
#include <QSizeGrip>
#include <QStatusBar>
#include <QUrl>
#include <algorithm>

#include "app/app_title.h"
#include "app/outer_placement.h"
#include "app/severity_command.h"
#include "app/severity_dialog.h"
#include "app/window_receiver.h"
#include "base/clock.h"
#include "reception/hand_off.h"
#include "reception/receiver.h"
#include "settings/settings.h"
#include "snmp/ups_query.h"
#include "velmar/errors.h"
#include "velmar/exception_report.h"
#include "velmar/system.h"
#include "velmar/version.h"
#include "view/rolling_view.h"

namespace tarvane {

namespace {

QString ToQ(const std::string& s) { return QString::fromLocal8Bit(s.data(), qsizetype(s.size())); }

std::string ApplicationTitle() { return ApplicationTitleOf(velmar::ProgramFilePath()); }

const QSize kOuterSize(805, 499);

// The system's status-bar font, kept against the window's own font.
QFont StatusBarFont() {
    QFont font = QApplication::font("QStatusBar");
    font.setResolveMask(QFont::AllPropertiesResolved);
    return font;
}

}  // namespace

// The panels from the bar's left edge, 220 and 80 wide, the last one to the bar's right edge, with
// none of the toolkit's margins or spacing between them. A panel whose text is wider grows to it
// and moves the panels after it; the window keeps at least the room for the first two.
class PanelLayout : public QObject {
  public:
    PanelLayout(QStatusBar* bar, QLabel* const (&panels)[3]) : QObject(bar), bar_(bar) {
        for (int i = 0; i < 3; ++i) panels_[i] = panels[i];
        bar->installEventFilter(this);
        Place();
    }

    void SetText(int panel, const QString& text) {
        // Once the view is full the count text repeats with every line; a label that is set
        // anew relays out the status bar for nothing.
        if (panels_[panel]->text() == text) return;
        panels_[panel]->setText(text);
        panels_[panel]->setAccessibleDescription(text);
        Place();
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == bar_ &&
            (event->type() == QEvent::Resize || event->type() == QEvent::LayoutRequest))
            Place();
        return QObject::eventFilter(watched, event);
    }

  private:
    void Place() {
        const int h = bar_->height();
        const int w0 = std::max(220, panels_[0]->sizeHint().width());
        const int w1 = std::max(80, panels_[1]->sizeHint().width());
        panels_[0]->setGeometry(0, 0, w0, h);
        panels_[1]->setGeometry(w0, 0, w1, h);
        panels_[2]->setGeometry(w0 + w1, 0, std::max(0, bar_->width() - w0 - w1), h);
        if (bar_->minimumWidth() != w0 + w1) bar_->setMinimumWidth(w0 + w1);
    }
    QStatusBar* bar_;
    QLabel* panels_[3] = {};
};

namespace {

// A message box centred on the screen once its size is known.
using ScreenCentredBox = ScreenCentred<QMessageBox>;

}  // namespace

void ShowHandlerError(QWidget* parent, const std::string& message) {
    QMessageBox box(QMessageBox::Critical, ToQ(ApplicationTitle()), ToQ(HandlerErrorText(message)),
                    QMessageBox::Ok, parent);
    box.exec();
}

template <typename F>
void TfrmMain::Guarded(F&& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        ShowHandlerError(this, e.what());
    }
}

TfrmMain::TfrmMain(tSettings& settings)
    : ChangeDir(velmar::ChangeToProgramDir), settings_(settings) {
    setWindowTitle("Ombrel - Tarvane");
    setWindowIcon(QIcon(":/tarvane.svg"));
    setFont(QFont("MS Sans Serif", 8));

    auto* client = new QWidget(this);
    setCentralWidget(client);
    RichEdit = new RollingView(client);
    RichEdit->setAccessibleName("Messages");
    RichEdit->move(0, 0);
    CreateStatusBar();
    RichEdit->SetStatusSink([this](const QString& text) { panelLayout_->SetText(0, text); });
    CreateMenu();
    IdUDPClient = std::make_unique<UdpClient>();

    placement_ = new OuterPlacement(this, kOuterSize);
    resize(kOuterSize);
}

void TfrmMain::CreateStatusBar() {
    StatusBar = new QStatusBar(this);
    StatusBar->setFont(StatusBarFont());
    StatusBar->setFixedHeight(33);
    StatusBar->setSizeGripEnabled(true);
    // Named for assistive technology by what they tell; their texts are their descriptions.
    const char* const panelNames[3] = {"Line count", "Severity", "UDP port"};
    for (int i = 0; i < 3; ++i) {
        Panels[i] = new QLabel(StatusBar);
        Panels[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        Panels[i]->setAccessibleName(panelNames[i]);
    }
    panelLayout_ = new PanelLayout(StatusBar, Panels);
    // The grip stays in the corner above the last panel.
    if (auto* grip = StatusBar->findChild<QSizeGrip*>()) grip->raise();
    setStatusBar(StatusBar);
}

void TfrmMain::CreateMenu() {
    MainMenu1 = menuBar();
    File1 = MainMenu1->addMenu("&File");
    mnuSetSEVERITYlevel = File1->addAction("Set SEVERITY level");
    SNMPGet1 = File1->addAction("SNMP Get (UPS TEMP)");
    SNMPGet1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    N1 = File1->addSeparator();
    Exit1 = File1->addAction("E&xit");
    Help1 = MainMenu1->addMenu("Help");
    About1 = Help1->addAction("About");
    connect(mnuSetSEVERITYlevel, &QAction::triggered, this,
            [this] { Guarded([this] { mnuSetSEVERITYlevelClick(); }); });
    connect(SNMPGet1, &QAction::triggered, this, [this] { Guarded([this] { SNMPGet1Click(); }); });
    connect(Exit1, &QAction::triggered, this, [this] { Exit1Click(); });
    connect(About1, &QAction::triggered, this, [this] { Guarded([this] { About1Click(); }); });
}

TfrmMain::~TfrmMain() = default;

void TfrmMain::Receive(std::unique_ptr<WindowReceiver> receiver) {
    receiver_ = std::move(receiver);
    receiver_->Start();
}

void TfrmMain::FormCreate() {
    Guarded([this] {
        ChangeDir();
        GetSettings(settings_);
        panelLayout_->SetText(0, ToQ(velmar::GetFileVersionText("") + " started at " +
                                     velmar::LongTimeText(SystemClockInstance().Now())));
        panelLayout_->SetText(1, ToQ("Severity: " + std::to_string(settings_.Severity)));
        panelLayout_->SetText(2, ToQ("UDP Port: " + std::to_string(kSyslogPort)));
    });
}

void TfrmMain::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    FormResize();
}

// The outer size is the frame's where the window manager draws one, the window's otherwise. The
// frame is the one told before the window was mapped, never the one Qt learns later: the layout
// follows the window's own size alone.
QSize TfrmMain::OuterSize() const { return size() + placement_->FrameExtra(); }

void TfrmMain::SetOuterSize(QSize outer) { resize(outer - placement_->FrameExtra()); }

void TfrmMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!shownOnce_) {
        shownOnce_ = true;
        placement_->Apply();
    }
}

void TfrmMain::FormResize() {
    const QSize outer = OuterSize();
    RichEdit->setGeometry(0, 0, outer.width() - 20, outer.height() - 100);
    RichEdit->ShowResizeStatus();
}

void TfrmMain::Exit1Click() { QCoreApplication::quit(); }

void TfrmMain::mnuSetSEVERITYlevelClick() {
    const SeverityOutcome outcome = RunSeverityCommand(
        [this](std::string& entry) {
            QString value = ToQ(entry);
            InputQuery(this, "Severity", "Severity", value);
            entry = value.toLocal8Bit().toStdString();
        },
        settings_.Severity, [this] { SaveSettings(settings_); });
    panelLayout_->SetText(1, ToQ(outcome.panelText));
    mnuSetSEVERITYlevel->setText(ToQ(outcome.caption));
}

void TfrmMain::SNMPGet1Click() {
    RunUpsQuery(
        *IdUDPClient, static_cast<ReplyView&>(*this), kUpsAgentAddress,
        [](const std::string& path) { QDesktopServices::openUrl(QUrl::fromLocalFile(ToQ(path))); });
}

void TfrmMain::About1Click() {
    ScreenCentredBox box(QMessageBox::NoIcon, ToQ(ApplicationTitle()),
                         ToQ(velmar::GetFileVersionText("")), QMessageBox::Ok, this);
    box.exec();
}

void TfrmMain::AddLine(const std::string& text) { RichEdit->AddLine(ViewTextFromBytes(text)); }
void TfrmMain::TrimToFit() { RichEdit->TrimToFit(); }

namespace {

// The code address of the failure, as an offset into the program's module.
unsigned long ModuleOffset(const void* address) {
    Dl_info info{};
    if (dladdr(address, &info) && info.dli_fbase) {
        return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(address) -
                                          reinterpret_cast<uintptr_t>(info.dli_fbase));
    }
    return 0;
}

}  // namespace

int RunApplication() {
    // The exception report's one pass of message processing.
    velmar::ProcessMessagesHook = [] { QCoreApplication::processEvents(); };
    // Outlives the window and its receiver, which read it.
    tSettings settings;
    std::unique_ptr<TfrmMain> frmMain;
    try {
        frmMain = std::make_unique<TfrmMain>(settings);
        // The receive thread shares this thread's core: the two take turns for every datagram.
        KeepToCurrentCore();
        frmMain->Receive(std::make_unique<WindowReceiver>(*frmMain->RichEdit, settings));
    } catch (const std::exception& e) {
        const std::string path = velmar::ProgramFilePath();
        const std::string module = path.substr(path.find_last_of('/') + 1);
        const QString text = ToQ(ApplicationErrorText(
            velmar::ClassNameOf(e), module,
            ModuleOffset(reinterpret_cast<const void*>(&RunApplication)), e.what()));
        // Without a display nobody could close the box, and a headless collector would hang
        // instead of ending for its service manager to see: the text goes to standard error.
        const QString platform = QGuiApplication::platformName();
        if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) {
            velmar::TellError("Application Error\n" + text.toLocal8Bit().toStdString());
            return 1;
        }
        QMessageBox box(QMessageBox::Critical, "Application Error", text, QMessageBox::Ok);
        box.exec();
        return 1;
    }
    frmMain->FormCreate();
    frmMain->show();
    // Port 514 is bound and the settings are read: a service manager waiting for us may go on.
    // Without one (no NOTIFY_SOCKET) this does nothing.
    sd_notify(0, "READY=1");
    QApplication::exec();
    return 0;
}

}  // namespace tarvane
