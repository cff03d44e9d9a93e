// The capture start and stop steps that need no window, and the service
// steps of application start and session end. CaptureCommands shows the
// message boxes and the stop dialog; the main frame opens the monitor windows.
#pragma once

#include "CaptureItem.h"
#include "CaptureLog.h"
#include "DosDeviceTable.h"
#include "FilterService.h"

#include <stdint.h>

#include <string>
#include <vector>

constexpr const char* START_CHECK_CAPTION = "起動確認";
constexpr const char* NO_DEVICE_TEXT = "キャプチャするデバイスが設定されていません";
// The log pane shows the line break as a blank.
constexpr const char* PORT_ALREADY_OPEN_TEXT = "キャプチャ起動に失敗しました。\n既にポートが開かれています。";
constexpr const char* CAPTURE_STARTED_TEXT = "キャプチャを開始しました";
constexpr const char* STOP_CHECK_CAPTION = "停止確認";
constexpr const char* CLOSE_PORT_USERS_TEXT = "ポートを開いているアプリケーションは全て終了させてください";
constexpr const char* CAPTURE_STOPPED_TEXT = "キャプチャを停止しました";
constexpr const char* STOP_FAILED_TEXT = "キャプチャ停止に失敗しました";
constexpr int MONITOR_CASCADE_STEP = 20;

// Opens every active item's port exclusively and closes it at once (no
// program may hold it), then starts the service. True when all passed and
// the service started; a busy port stops before the service starts.
bool CheckTargetPortsAndStartService(const CaptureItemRows& items, FilterService& service);

// Registers the service when missing, writes DeviceType 0 when running on
// Windows NT 4.0, and stops a service left running, waiting up to 10 s.
// Results are ignored.
void PrepareServiceAtStartup(FilterService& service, bool windowsNT4);

// Starts "net stop <service>" without waiting for it or for its outcome.
void RunNetStop(const FilterService& service);

// A capture monitor window to open for one active monitor item; its title
// names the port.
struct MonitorToOpen {
    std::string devicePath;  // "\\.\ZrVlObj<n>"
    std::string port;
    uint32_t bufferSize;
    int left;  // 20 x item index, port and inactive items counted
    int top;
    int item;  // the item's number in the list, from 1
};

enum class CaptureStartResult { Started, NoDevice, PortBusy };

struct CaptureStart {
    CaptureStartResult result;
    std::vector<MonitorToOpen> monitors;  // empty unless started
};

// Capture start after the old monitor windows are closed: writes the driver
// parameters, checks the target ports and starts the service. A failure is
// logged with its message text (CaptureStartMessage) and leaves capture off.
// The caller opens the monitors, sets `capturing` and logs CAPTURE_STARTED_TEXT.
CaptureStart StartCapture(CaptureItemRows& items, FilterService& service, DosDeviceTable& devices, const LogLine& log);
// The message box text of a failed start (caption START_CHECK_CAPTION).
const char* CaptureStartMessage(CaptureStartResult result);
std::vector<MonitorToOpen> MonitorsToOpen(const CaptureItemRows& items);

// First step of capture stop: every active port item's output port must be
// free. Logs CLOSE_PORT_USERS_TEXT and returns false when one is held.
bool OutputPortsAreFree(const CaptureItemRows& items, const LogLine& log);

// Last step of capture stop: logs the outcome of the service stop; true
// when capture has ended.
bool FinishCaptureStop(bool serviceStopped, const LogLine& log);

// Runs StopAndWait (10000) on its own thread, one stop at a time. The stop
// dialog polls HasEnded; the result is read only after the thread ended.
class CaptureStopWorker {
public:
    explicit CaptureStopWorker(const char* serviceName = FILTER_SERVICE_NAME);
    ~CaptureStopWorker();  // waits for a running stop
    CaptureStopWorker(const CaptureStopWorker&) = delete;
    CaptureStopWorker& operator=(const CaptureStopWorker&) = delete;

    // False when a stop still runs or no thread could be made: the caller
    // then reports the stop as failed instead of waiting.
    bool Start();
    HANDLE Thread() const { return thread_; }
    bool HasEnded() const;
    // Whether the service stopped, once the thread has ended; false before.
    bool Result() const;

private:
    static DWORD WINAPI Run(LPVOID self);

    FilterService service_;
    HANDLE thread_ = nullptr;
    bool result_ = false;
};
