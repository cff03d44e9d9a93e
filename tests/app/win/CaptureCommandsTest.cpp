// Capture start and stop as the main frame's commands, with the test port and
// the real filter as kernel services under Wine: monitor windows, message
// boxes, the stop's progress box and the activity-log lines.
#include "CaptureCommandsFixture.h"
#include "MessageBoxAnswerer.h"
#include "MessagePump.h"
#include "ServiceHandle.h"

#include "resource.h"

#include <commctrl.h>

#include <string>
#include <vector>

namespace {

std::wstring WindowText(HWND hwnd)
{
    wchar_t text[200] = {};
    GetWindowTextW(hwnd, text, 200);
    return text;
}

std::wstring PaneText(const MonitorFrame& monitor, int pane)
{
    HWND bar = GetDlgItem(monitor.Handle(), IDC_MONITOR_STATUS_BAR);
    wchar_t text[100] = {};
    SendMessageW(bar, SB_GETTEXTW, pane, reinterpret_cast<LPARAM>(text));
    return text;
}

POINT TopLeft(HWND hwnd)
{
    RECT rect = {};
    GetWindowRect(hwnd, &rect);
    return {rect.left, rect.top};
}

class CaptureCommandsTest : public CaptureCommandsFixture {
protected:
    void TearDown() override
    {
        for (HANDLE port : {terminal, peer}) {
            if (port != INVALID_HANDLE_VALUE)
                CloseHandle(port);
        }
        CaptureCommandsFixture::TearDown();
    }

    // COM11 monitored and handed out as text on COM21; COM12, its peer, monitored.
    void AddItems()
    {
        items.InsertOrUpdateRow(NewItem("COM11", StandardMonitor), -1);
        items.InsertOrUpdateRow(NewItem("COM11", PortFormat, "COM21"), -1);
        items.InsertOrUpdateRow(NewItem("COM12", StandardMonitor), -1);
    }

    HANDLE terminal = INVALID_HANDLE_VALUE;
    HANDLE peer = INVALID_HANDLE_VALUE;
};

TEST_F(CaptureCommandsTest, StartOpensAMonitorPerMonitorItemAndStopLeavesThemStopped)
{
    AddItems();
    capturing = commands.OnStartCapture(nullptr);
    ASSERT_TRUE(capturing);
    ASSERT_EQ(2u, monitors.Windows().size()) << "the port item gets no window";
    const MonitorFrame& com11 = *monitors.Windows()[0];
    const MonitorFrame& com12 = *monitors.Windows()[1];
    EXPECT_EQ(L"キャプチャモニタ - COM11", WindowText(com11.Handle()));
    EXPECT_EQ(L"キャプチャモニタ - COM12", WindowText(com12.Handle()));
    EXPECT_EQ(0, TopLeft(com11.Handle()).x);
    EXPECT_EQ(0, TopLeft(com11.Handle()).y);
    EXPECT_EQ(40, TopLeft(com12.Handle()).x) << "20 px per item, the port item counted";
    EXPECT_EQ(40, TopLeft(com12.Handle()).y);
    EXPECT_TRUE(IsWindowVisible(com11.Handle()));

    // A program's write on COM11 is read by its peer on COM12: sent on one
    // monitor, received on the other.
    peer = OpenPort("\\\\.\\COM12");
    terminal = OpenPort("\\\\.\\COM11");
    ASSERT_NE(INVALID_HANDLE_VALUE, terminal) << GetLastError();
    ASSERT_NE(INVALID_HANDLE_VALUE, peer) << GetLastError();
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(terminal, "abc", 3, &done, nullptr));
    char got[3];
    ASSERT_TRUE(ReadFile(peer, got, 3, &done, nullptr));
    EXPECT_TRUE(PumpMessagesUntil(
                    [&] { return PaneText(com11, 1) == L"送信:3(3)" && PaneText(com12, 2) == L"受信:3(3)"; }, 10000)
                    .conditionMet)
        << "COM11: " << PaneText(com11, 1).size() << " COM12: " << PaneText(com12, 2).size();
    CloseHandle(terminal);
    CloseHandle(peer);
    terminal = peer = INVALID_HANDLE_VALUE;

    // A terminal still holding the output port would refuse the stop, but
    // Wine 8 lets a second program open an exclusive device; the simulation's
    // tests of the stop steps show the refusal.
    // The stop's box runs its own loop on this thread: a timer firing in it
    // sees whether the stopped monitor would take a command (a print) there.
    static HWND stoppingMonitor;
    static int enabledDuringStop;
    stoppingMonitor = com11.Handle();
    enabledDuringStop = -1;
    UINT_PTR probe = SetTimer(nullptr, 0, 100, [](HWND, UINT, UINT_PTR id, DWORD) {
        KillTimer(nullptr, id);
        enabledDuringStop = IsWindowEnabled(stoppingMonitor) ? 1 : 0;
    });
    ASSERT_NE(0u, probe);
    {
        MessageBoxAnswerer answerer(GetCurrentThreadId());
        capturing = !commands.OnStopCapture(nullptr);
        EXPECT_TRUE(answerer.Seen().empty());
    }
    EXPECT_EQ(0, enabledDuringStop) << "-1: the probe never ran inside the stop";
    EXPECT_TRUE(IsWindowEnabled(com11.Handle()));
    EXPECT_FALSE(capturing);
    EXPECT_EQ(L"キャプチャモニタ - COM11(停止中)", WindowText(com11.Handle()));
    EXPECT_EQ(L"キャプチャモニタ - COM12(停止中)", WindowText(com12.Handle()));
    EXPECT_EQ(L"送信:3(3)", PaneText(com11, 1)) << "a stopped monitor keeps its data";
    std::vector<std::string> expected = {"キャプチャを開始しました", "キャプチャを停止しました"};
    EXPECT_EQ(expected, log);

    // The next start closes the old monitors before opening new ones; two
    // monitors of one port are told apart by their items' numbers.
    HWND oldMonitor = com11.Handle();
    items.InsertOrUpdateRow(NewItem("COM11", StandardMonitor), -1);
    capturing = commands.OnStartCapture(nullptr);
    EXPECT_TRUE(capturing);
    EXPECT_FALSE(IsWindow(oldMonitor));
    ASSERT_EQ(3u, monitors.Windows().size());
    EXPECT_EQ(L"キャプチャモニタ - COM11 (1)", WindowText(monitors.Windows()[0]->Handle()));
    EXPECT_EQ(L"キャプチャモニタ - COM12", WindowText(monitors.Windows()[1]->Handle()));
    EXPECT_EQ(L"キャプチャモニタ - COM11 (4)", WindowText(monitors.Windows()[2]->Handle()));
}

TEST_F(CaptureCommandsTest, AStartWithoutItemsSaysThereIsNoDevice)
{
    MessageBoxAnswerer answerer(GetCurrentThreadId());
    EXPECT_FALSE(commands.OnStartCapture(nullptr));
    ASSERT_EQ(1u, answerer.Seen().size());
    EXPECT_EQ(L"起動確認", answerer.Seen()[0].caption);
    EXPECT_EQ(L"キャプチャするデバイスが設定されていません", answerer.Seen()[0].text);
    EXPECT_EQ(std::vector<std::string>{"キャプチャするデバイスが設定されていません"}, log);
}

TEST_F(CaptureCommandsTest, ARefusedStartFailsAsTheServiceWouldAndLeavesItStopped)
{
    AddItems();
    commands.RefuseStart();
    MessageBoxAnswerer answerer(GetCurrentThreadId());
    EXPECT_FALSE(commands.OnStartCapture(nullptr));
    ASSERT_EQ(1u, answerer.Seen().size());
    EXPECT_EQ(L"キャプチャ起動に失敗しました。\n既にポートが開かれています。", answerer.Seen()[0].text);
    EXPECT_EQ(std::vector<std::string>{PORT_ALREADY_OPEN_TEXT}, log);
    EXPECT_TRUE(monitors.Windows().empty());
    SERVICE_STATUS status{};
    ServiceHandle filter = OpenNamedService(FILTER_SERVICE_NAME, SERVICE_QUERY_STATUS);
    ASSERT_TRUE(filter && QueryServiceStatus(filter.get(), &status));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), status.dwCurrentState);
}

}  // namespace
