#include "PrintCommand.h"

#include "PrintDialog.h"
#include "PrintProgressDialog.h"

namespace {

struct BackgroundWork {
    const std::function<void()>* work;
    PrintRun* run;
};

DWORD WINAPI RunBackgroundWork(void* parameter)
{
    const BackgroundWork& background = *static_cast<const BackgroundWork*>(parameter);
    (*background.work)();
    background.run->End();
    return 0;
}

}  // namespace

void RunWithProgress(HWND owner, PrintRun& run, UINT activity, const std::function<void()>& work)
{
    BackgroundWork background{&work, &run};
    run.Begin();
    HANDLE thread = CreateThread(nullptr, 0, RunBackgroundWork, &background, 0, nullptr);
    if (thread == nullptr) {
        run.End();
        return;
    }
    PrintProgressDialog progress(run, activity);
    progress.RunModal(owner);
    // The box may not have been made; the work's data live until the thread is gone.
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

void RunPrintCommand(HWND owner, const PrintSource& source, PrintRun& run)
{
    PrintJob job;
    job.range = source.selection ? PrintRange::All : PrintRange::AllWithoutSelection;
    job.margins = ReadMarginsForDialog();
    PrintDialog dialog(job);
    if (dialog.RunModal(owner) != IDOK)
        return;
    WriteMargins(job.margins);
    PrintTask task{&job, &source, &run};
    RunWithProgress(owner, run, 0, [&task] { PrintThread(&task); });
}
