#include "PrintCommand.h"

#include "PrintDialog.h"
#include "PrintProgressDialog.h"

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
    run.Begin();
    HANDLE thread = CreateThread(nullptr, 0, PrintThread, &task, 0, nullptr);
    if (thread == nullptr) {
        run.End();
        return;
    }
    PrintProgressDialog progress(run);
    progress.RunModal(owner);
    // The box may not have been made; the job lives until the thread is gone.
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}
