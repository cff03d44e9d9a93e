// Bytes per second that a reader of the virtual port receives while it keeps
// a read pending and a program writes 256-byte blocks on the captured COM11:
// form 1 (text) against form 2 (raw written data), in one run.
#include "FilterMachine.h"

#include <ntddser.h>

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

HANDLE Open(const char* path, DWORD flags)
{
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, flags, nullptr);
}

// COM21 as the output port of form `form`, capturing COM11.
struct OutputSetup {
    explicit OutputSetup(DWORD form) : filter("COM21", 100000000, form)
    {
        reader = Open("\\\\.\\COM21", FILE_FLAG_OVERLAPPED);
        writer = Open("\\\\.\\COM11", 0);
        // Reads wait for their whole length: the read stays pending between writes.
        SERIAL_TIMEOUTS t = {0, 0, 0, 0, 0};
        DWORD returned = 0;
        OVERLAPPED set{};
        DeviceIoControl(reader, IOCTL_SERIAL_SET_TIMEOUTS, &t, sizeof t, nullptr, 0, &returned, &set);
    }
    ~OutputSetup()
    {
        CloseHandle(writer);
        CloseHandle(reader);
    }

    FilterMachine filter;
    HANDLE reader = INVALID_HANDLE_VALUE;
    HANDLE writer = INVALID_HANDLE_VALUE;
};

void DeliveredBytes(benchmark::State& state, DWORD form)
{
    OutputSetup setup(form);
    std::vector<char> block(256, 'x');
    std::vector<char> buffer(64 * 1024);
    // Each block gives the reader at least its own bytes: a read still
    // pending after twice the blocks that fill it never ends.
    const size_t mostBlocks = 2 * buffer.size() / block.size();
    int64_t delivered = 0;
    for (auto _ : state) {
        OVERLAPPED read{};
        DWORD done = 0;
        if (!ReadFile(setup.reader, buffer.data(), static_cast<DWORD>(buffer.size()), &done, &read)) {
            for (size_t blocks = 0; !HasOverlappedIoCompleted(&read); ++blocks) {
                if (blocks == mostBlocks) {
                    CancelIo(setup.reader);
                    state.SkipWithError("the read never completes");
                    break;
                }
                WriteFile(setup.writer, block.data(), static_cast<DWORD>(block.size()), &done, nullptr);
            }
            GetOverlappedResult(setup.reader, &read, &done, TRUE);
        }
        delivered += done;
    }
    state.SetBytesProcessed(delivered);
}

void BM_FormOneText(benchmark::State& state)
{
    DeliveredBytes(state, CAPTURE_FORM_TEXT);
}
BENCHMARK(BM_FormOneText);

void BM_FormTwoRaw(benchmark::State& state)
{
    DeliveredBytes(state, CAPTURE_FORM_WRITTEN_DATA);
}
BENCHMARK(BM_FormTwoRaw);

}  // namespace

BENCHMARK_MAIN();
