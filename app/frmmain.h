#pragma once

#include <QMainWindow>
#include <functional>
#include <memory>
#include <string>

#include "reception/intake.h"
#include "snmp/ups_query.h"

class QAction;
class QLabel;
class QMenu;
class QMenuBar;
class QStatusBar;

namespace tarvane {

class HandOff;
class OuterPlacement;
class HandOffPump;
class PanelLayout;
class RollingView;
class UdpListener;
class UdpClient;
struct SocketBinding;

// The program's one window: the message view, the status bar, the menu, the UPS query's UDP
// client and the syslog listener, created in that order.
class TfrmMain : public QMainWindow, private IntakeView, private ReplyView {
    Q_OBJECT
public:
    // Creates the elements and opens the listener; raises when the listener cannot open.
    TfrmMain();
    ~TfrmMain() override;

    // Runs the window's creation handler; its own errors are shown in the handler box.
    void FormCreate();
    // Closes the listener, discarding a datagram whose hand-off is still pending.
    void CloseListener();

    // Makes the program's directory the working directory; a directory seam for tests.
    std::function<std::string()> ChangeDir;

    RollingView* RichEdit = nullptr;
    QStatusBar* StatusBar = nullptr;
    QLabel* Panels[3] = {};
    QMenuBar* MainMenu1 = nullptr;
    QMenu* File1 = nullptr;
    QMenu* Help1 = nullptr;
    QAction* mnuSetSEVERITYlevel = nullptr;
    QAction* SNMPGet1 = nullptr;
    QAction* N1 = nullptr;
    QAction* Exit1 = nullptr;
    QAction* About1 = nullptr;
    std::unique_ptr<UdpClient> IdUDPClient;
    std::unique_ptr<HandOff> handOff_;
    std::unique_ptr<UdpListener> IdSysLogServer;

    // Sizes the window by its outer (frame) size, as far as the platform reports a frame.
    void SetOuterSize(QSize outer);
    QSize OuterSize() const;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void FormResize();
    void Exit1Click();
    void mnuSetSEVERITYlevelClick();
    void SNMPGet1Click();
    void About1Click();
    void IdSysLogServerUDPRead(std::string_view data, SocketBinding& binding);
    // Runs a menu handler; an error that escapes it is shown in the handler error box.
    template <typename F>
    void Guarded(F&& handler);

    // IntakeView
    void FocusView() override;
    void ShowLine(const std::string& displayLine) override;
    // ReplyView
    void AddLine(const std::string& text) override;
    void TrimToFit() override;

    std::unique_ptr<HandOffPump> pump_;
    // Outer size and centring until the window manager has told the frame.
    OuterPlacement* placement_ = nullptr;
    PanelLayout* panelLayout_ = nullptr;
    bool shownOnce_ = false;
    std::unique_ptr<Intake> intake_;
};

// The program: builds the window, shows it and runs the loop; the process exit code.
int RunApplication();

// Shows the handler error box for a message, titled with the application title.
void ShowHandlerError(QWidget* parent, const std::string& message);

}  // namespace tarvane
