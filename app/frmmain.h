#pragma once

#include <QMainWindow>
#include <functional>
#include <memory>
#include <string>

#include "snmp/ups_query.h"

class QAction;
class QLabel;
class QMenu;
class QMenuBar;
class QStatusBar;

namespace tarvane {

class OuterPlacement;
class PanelLayout;
class RollingView;
class UdpClient;
class WindowReceiver;
struct tSettings;

// The program's one window: the message view, the status bar, the menu and the UPS query's UDP
// client, created in that order. Its creation loads the settings into the value it is given, and
// the severity command changes and saves them there.
class TfrmMain : public QMainWindow, private ReplyView {
    Q_OBJECT
  public:
    explicit TfrmMain(tSettings& settings);
    ~TfrmMain() override;

    // Runs the window's creation handler; its own errors are shown in the handler box.
    void FormCreate();
    // Starts the receiver, whose datagrams the window shows from then on; raises when it cannot
    // open its port. The receiver stops before the window's elements go.
    void Receive(std::unique_ptr<WindowReceiver> receiver);

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

    // Sizes the window by its outer (frame) size, as far as the platform reports a frame.
    void SetOuterSize(QSize outer);
    QSize OuterSize() const;

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void CreateStatusBar();
    void CreateMenu();
    void FormResize();
    void Exit1Click();
    void mnuSetSEVERITYlevelClick();
    void SNMPGet1Click();
    void About1Click();
    // Runs a menu handler; an error that escapes it is shown in the handler error box.
    template <typename F>
    void Guarded(F&& handler);

    // ReplyView
    void AddLine(const std::string& text) override;
    void TrimToFit() override;

    // Outer size and centring until the window manager has told the frame.
    OuterPlacement* placement_ = nullptr;
    PanelLayout* panelLayout_ = nullptr;
    bool shownOnce_ = false;
    tSettings& settings_;
    std::unique_ptr<WindowReceiver> receiver_;
};

// The program: builds the window, shows it and runs the loop; the process exit code.
int RunApplication();

// Shows the handler error box for a message, titled with the application title.
void ShowHandlerError(QWidget* parent, const std::string& message);

}  // namespace tarvane
