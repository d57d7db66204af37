// The real program on a virtual display, seen and driven with xdotool as a person would:
// start-up, the start-up error box, File > Exit under traffic, the severity command, About.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "testsupport/display.h"
#include "testsupport/network.h"
#include "testsupport/program.h"

namespace tarvane::e2e {
namespace {

const char* const kMainWindow = "^Ombrel - Tarvane$";

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!InPrivateNetwork()) GTEST_SKIP() << "run through tests/netns-run.sh";
        display.emplace();
        if (!display->Ok()) GTEST_SKIP() << "no Xvfb or xdotool";
    }
    ProgramDir dir;
    std::optional<VirtualDisplay> display;
};

TEST_F(WindowTest, TakenPortShowsTheErrorBoxAndExitsWithOne) {
    std::optional<UdpPeer> blocker(std::in_place, "0.0.0.0", 514);

    Tarvane program(dir, DisplayEnvironment(dir, display->Name()));
    const auto box = display->WaitForWindow("^Application Error$");
    ASSERT_TRUE(box) << ReadFile(dir.OutputFile());
    EXPECT_TRUE(display->FindWindows(kMainWindow).empty());
    EXPECT_FALSE(program.Proc().WaitForExit(300ms)) << "ended before the box was closed";
    display->PressKeys(program.Proc().Pid(), *box, {"Return"});
    EXPECT_EQ(program.Proc().WaitForExit(5s), std::optional<int>(1));

    // Without a display (a headless collector) nobody could close the box: the text goes to
    // standard error and the program ends at once, for its service manager to restart it.
    Tarvane headless(dir, OffscreenEnvironment(dir));
    EXPECT_EQ(headless.Proc().WaitForExit(10s), std::optional<int>(1));
    EXPECT_NE(ReadFile(dir.OutputFile()).find("Application Error\n"), std::string::npos);
    EXPECT_NE(ReadFile(dir.OutputFile()).find("Address and port are already in use."),
              std::string::npos);
    blocker.reset();

    // Neither a display nor the offscreen platform: one line and exit code 1, not the toolkit's
    // abort with its advice to reinstall.
    std::vector<std::string> bare;
    for (const auto& variable : OffscreenEnvironment(dir))
        if (!variable.starts_with("QT_QPA_PLATFORM=")) bare.push_back(variable);
    const size_t before = ReadFile(dir.OutputFile()).size();
    Tarvane nowhere(dir, bare);
    EXPECT_EQ(nowhere.Proc().WaitForExit(10s), std::optional<int>(1));
    const std::string said = ReadFile(dir.OutputFile()).substr(before);
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_NE(said.find("no display"), std::string::npos) << said;
}

TEST_F(WindowTest, ShownAtItsSizeAndExitEndsItUnderTraffic) {
    Tarvane program(dir, DisplayEnvironment(dir, display->Name()));
    const auto window = display->WaitForWindow(kMainWindow);
    ASSERT_TRUE(window) << ReadFile(dir.OutputFile());
    ASSERT_TRUE(program.WaitUntilReady(dir));
    // No window manager: the window's own geometry is its outer size; centred on 1280 x 1024.
    EXPECT_EQ(display->Geometry(*window), "805x499");
    EXPECT_EQ(display->Position(*window), "237,262");

    for (const char* text : {"<134>Dec  9 12:00:00 host app: hello", "plain text", "<11>error"})
        SendDatagram("127.0.0.1", text);
    ASSERT_TRUE(dir.WaitForLastMessage("[3] 127.0.0.1 <11>error"));

    std::atomic<bool> stop{false};
    std::thread sender([&] {
        // At most ten seconds of traffic, whatever happens to the program.
        for (int i = 0; i < 20000 && !stop; ++i) {
            SendDatagram("127.0.0.1", "<13>traffic " + std::to_string(i));
            std::this_thread::sleep_for(500us);
        }
    });
    ASSERT_TRUE(WaitUntil([&] { return dir.Messages().size() > 10; }, 10s)) << "traffic is handled";
    const auto pressed = std::chrono::steady_clock::now();
    EXPECT_TRUE(display->PressKeys(program.Proc().Pid(), *window, {"alt+f", "x"}));
    const auto code = program.Proc().WaitForExit(5s);
    const auto took = std::chrono::steady_clock::now() - pressed;
    stop = true;
    sender.join();
    EXPECT_EQ(code, std::optional<int>(0));
    EXPECT_LT(took, 5s);
}

TEST_F(WindowTest, SeverityCommandAndAboutBox) {
    Tarvane program(dir, DisplayEnvironment(dir, display->Name()));
    const auto window = display->WaitForWindow(kMainWindow);
    ASSERT_TRUE(window) << ReadFile(dir.OutputFile());
    ASSERT_TRUE(program.WaitUntilReady(dir));
    SendDatagram("127.0.0.1", "<14>before");
    ASSERT_TRUE(dir.WaitForLastMessage("[6] 127.0.0.1 <14>before"));

    // File menu, its first item; the dialog proposes the current value all selected.
    ASSERT_TRUE(display->PressKeys(program.Proc().Pid(), *window, {"alt+f", "Return"}));
    const auto dialog = display->WaitForWindow("^Severity$");
    ASSERT_TRUE(dialog);
    display->PressKeys(program.Proc().Pid(), *dialog, {"ctrl+a"});
    display->TypeText(*dialog, "5");
    display->PressKeys(program.Proc().Pid(), *dialog, {"Return"});
    EXPECT_TRUE(display->WaitForNoWindow("^Severity$"));
    const auto settings = dir.Dir() / "Tarvane.xml";
    EXPECT_TRUE(WaitUntil(
        [&] { return ReadFile(settings).find("<Severity>5</Severity>") != std::string::npos; }, 5s))
        << ReadFile(settings);

    SendDatagram("127.0.0.1", "<14>x");
    SendDatagram("127.0.0.1", "<13>x");
    ASSERT_TRUE(dir.WaitForLastMessage("[5] 127.0.0.1 <13>x"));
    EXPECT_EQ(dir.Messages(),
              (std::vector<std::string>{"[6] 127.0.0.1 <14>before", "[5] 127.0.0.1 <13>x"}));

    // Help has no access letter: from the File menu one step right, then its first item.
    ASSERT_TRUE(display->PressKeys(program.Proc().Pid(), *window, {"alt+f", "Right", "Return"}));
    const auto about = display->WaitForWindow("^Tarvane$");
    ASSERT_TRUE(about);
    display->PressKeys(program.Proc().Pid(), *about, {"Return"});
    EXPECT_TRUE(display->WaitForNoWindow("^Tarvane$"));
    EXPECT_TRUE(program.Proc().Running());
}

// What assistive technology reads of the window over AT-SPI: the view and the status panels by
// name, and the severity dialog's field named and labelled by its prompt.
TEST_F(WindowTest, AccessibleNamesOfTheViewPanelsAndSeverityField) {
    AccessibilityBus bus(display->Name());
    if (!bus.Ok()) GTEST_SKIP() << "no D-Bus session bus, AT-SPI launcher or pyatspi";
    auto environment = DisplayEnvironment(dir, display->Name());
    for (const auto& variable : bus.Environment()) environment.push_back(variable);
    Tarvane program(dir, environment);
    const auto window = display->WaitForWindow(kMainWindow);
    ASSERT_TRUE(window) << ReadFile(dir.OutputFile());
    ASSERT_TRUE(program.WaitUntilReady(dir));
    std::string tree;
    const auto treeHolds = [&](const std::string& node) {
        return WaitUntil(
            [&] { return (tree = bus.Tree("Tarvane")).find(node) != std::string::npos; }, 20s);
    };
    ASSERT_TRUE(treeHolds("frame|Ombrel - Tarvane|")) << tree;
    EXPECT_NE(tree.find("text|Messages|"), std::string::npos) << tree;
    EXPECT_NE(tree.find("label|Line count|RichEdit.Lines.Count"), std::string::npos) << tree;
    EXPECT_NE(tree.find("label|Severity|Severity: 7|"), std::string::npos) << tree;
    EXPECT_NE(tree.find("label|UDP port|UDP Port: 514|"), std::string::npos) << tree;

    ASSERT_TRUE(display->PressKeys(program.Proc().Pid(), *window, {"alt+f", "Return"}));
    const auto dialog = display->WaitForWindow("^Severity$");
    ASSERT_TRUE(dialog);
    EXPECT_TRUE(treeHolds("dialog|Severity|")) << tree;
    EXPECT_NE(tree.find("text|Severity||labelled-by:Severity"), std::string::npos) << tree;
    display->PressKeys(program.Proc().Pid(), *dialog, {"Escape"});
    EXPECT_TRUE(display->WaitForNoWindow("^Severity$"));
}

}  // namespace
}  // namespace tarvane::e2e
