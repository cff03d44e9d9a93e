// Files and devices: CreateFileA on device names, ReadFile, WriteFile,
// DeviceIoControl, CancelIo and overlapped results.
#include "User.h"

#include "../Machine.h"

#include <cstring>

namespace sim {

namespace {

struct RequestParams {
    UCHAR major;
    ULONG code;
    const void* input;
    ULONG inputLength;
    void* output;
    ULONG outputLength;
};

std::string NtNameOf(const std::string& path)
{
    if (path.rfind("\\\\.\\", 0) == 0 || path.rfind("\\\\?\\", 0) == 0)
        return "\\??\\" + path.substr(4);
    return "\\??\\" + path;  // a DOS device name such as COM1 or NUL
}

void UseSystemBuffer(PIRP irp, UserRequest& request, ULONG size, const void* input, ULONG inputLength)
{
    if (size == 0)
        return;
    request.systemBuffer.reset(new uint8_t[size]);
    FillUnwritten(request.systemBuffer.get(), size);
    if (inputLength != 0)
        memcpy(request.systemBuffer.get(), input, inputLength);
    irp->AssociatedIrp.SystemBuffer = request.systemBuffer.get();
}

// The caller's output as an MDL (direct I/O): the driver writes it through
// the MDL's system mapping, or reads it when `operation` is IoReadAccess.
// A transfer of no bytes gets no MDL.
void UseCallerPages(PIRP irp, void* buffer, ULONG length, LOCK_OPERATION operation)
{
    if (length != 0)
        irp->MdlAddress = DescribeCallerBuffer(buffer, length, operation);
}

void UseSharedSystemBuffer(PIRP irp, UserRequest& request, const RequestParams& params)
{
    // Input and output share one system buffer of the larger size.
    ULONG size = params.inputLength > params.outputLength ? params.inputLength : params.outputLength;
    UseSystemBuffer(irp, request, size, params.input, params.inputLength);
    request.copyBack = params.outputLength != 0;
    request.output = params.output;
    request.outputLength = params.outputLength;
}

// Reads and writes as the top device's I/O flags ask (buffered before
// direct, as Windows checks them); neither: the caller's own address.
void SetUpTransfer(PIRP irp, UserRequest& request, const RequestParams& params, ULONG deviceFlags)
{
    bool read = params.major == IRP_MJ_READ;
    void* buffer = read ? params.output : const_cast<void*>(params.input);
    ULONG length = read ? params.outputLength : params.inputLength;
    if (deviceFlags & DO_BUFFERED_IO)
        UseSharedSystemBuffer(irp, request, params);
    else if (deviceFlags & DO_DIRECT_IO)
        UseCallerPages(irp, buffer, length, read ? IoWriteAccess : IoReadAccess);
    else
        irp->UserBuffer = buffer;
}

// Control requests by the code's method: buffered shares one system buffer;
// in-direct and out-direct copy the input to a system buffer and hand the
// output buffer over as an MDL; neither passes both addresses.
void SetUpControl(PIRP irp, UserRequest& request, const RequestParams& params)
{
    PIO_STACK_LOCATION stack = FirstStackLocation(irp);
    stack->Parameters.DeviceIoControl.IoControlCode = params.code;
    stack->Parameters.DeviceIoControl.InputBufferLength = params.inputLength;
    stack->Parameters.DeviceIoControl.OutputBufferLength = params.outputLength;
    switch (METHOD_FROM_CTL_CODE(params.code)) {
    case METHOD_BUFFERED: UseSharedSystemBuffer(irp, request, params); break;
    case METHOD_IN_DIRECT:
    case METHOD_OUT_DIRECT:
        UseSystemBuffer(irp, request, params.inputLength, params.input, params.inputLength);
        UseCallerPages(irp, params.output, params.outputLength,
                       METHOD_FROM_CTL_CODE(params.code) == METHOD_IN_DIRECT ? IoReadAccess : IoWriteAccess);
        break;
    default:
        stack->Parameters.DeviceIoControl.Type3InputBuffer = const_cast<void*>(params.input);
        irp->UserBuffer = params.output;
        break;
    }
}

// Buffers as the I/O manager sets them up for the top device.
void SetUpParameters(PIRP irp, UserRequest& request, const RequestParams& params, ULONG deviceFlags)
{
    PIO_STACK_LOCATION stack = FirstStackLocation(irp);
    stack->MajorFunction = params.major;
    switch (params.major) {
    case IRP_MJ_READ:
        stack->Parameters.Read.Length = params.outputLength;
        SetUpTransfer(irp, request, params, deviceFlags);
        break;
    case IRP_MJ_WRITE:
        stack->Parameters.Write.Length = params.inputLength;
        SetUpTransfer(irp, request, params, deviceFlags);
        break;
    case IRP_MJ_QUERY_INFORMATION:
        stack->Parameters.QueryFile.Length = params.outputLength;
        stack->Parameters.QueryFile.FileInformationClass = static_cast<FILE_INFORMATION_CLASS>(params.code);
        UseSharedSystemBuffer(irp, request, params);
        break;
    default: SetUpControl(irp, request, params); break;
    }
}

bool PrepareOverlapped(UserRequest& request, LPOVERLAPPED overlapped)
{
    overlapped->Internal = STATUS_PENDING;
    overlapped->InternalHigh = 0;
    request.overlapped = overlapped;
    if (overlapped->hEvent == nullptr)
        return true;
    auto event = Machine::Current().handles().Find(overlapped->hEvent);
    if (!event || event->WaitHeader() == nullptr)
        return false;
    Machine::Current().dispatcher().SetSignal(event->WaitHeader(), 0);
    request.callerEvent = event->WaitHeader();
    request.callerEventOwner = event;
    return true;
}

BOOL Issue(HANDLE handle, const RequestParams& params, DWORD* transferred, LPOVERLAPPED overlapped, bool forceWait)
{
    Machine& machine = Machine::Current();
    auto fileHandle = machine.handles().FindAs<FileHandle>(handle);
    if (!fileHandle)
        return FailWithError(ERROR_INVALID_HANDLE);
    const std::shared_ptr<FileRecord>& file = fileHandle->file();
    bool asynchronous = file->overlapped && !forceWait;
    if (asynchronous && overlapped == nullptr)
        return FailWithError(ERROR_INVALID_PARAMETER);
    CCHAR stackSize;
    ULONG deviceFlags;
    {
        std::lock_guard<std::mutex> guard(machine.io().lock);
        PDEVICE_OBJECT top = machine.io().TopOfStack(file->device);
        stackSize = top->StackSize;
        deviceFlags = top->Flags;
    }
    auto request = std::make_shared<UserRequest>();
    KeInitializeEvent(&request->done, NotificationEvent, FALSE);
    request->file = file;
    if (asynchronous) {
        if (!PrepareOverlapped(*request, overlapped))
            return FailWithError(ERROR_INVALID_HANDLE);
        machine.dispatcher().SetSignal(&file->completed.Header, 0);
    }
    PIRP irp = AllocateRequest(stackSize, request);
    FirstStackLocation(irp)->FileObject = &file->object;
    SetUpParameters(irp, *request, params, deviceFlags);
    NTSTATUS status = SendFileRequest(file, irp, !asynchronous);
    if (status == STATUS_PENDING)
        return FailWithError(ERROR_IO_PENDING);
    if (transferred != nullptr)
        *transferred = static_cast<DWORD>(request->information);
    if (NT_ERROR(status) || NT_WARNING(status))
        return FailWith(status);
    return TRUE;
}

}  // namespace

void FileHandle::OnClose()
{
    Machine::Current().io().CloseFile(file_);
}

BOOL SendControl(HANDLE device, DWORD code, const void* input, DWORD inputSize, void* output, DWORD outputSize,
                 DWORD* returned)
{
    RequestParams params{IRP_MJ_DEVICE_CONTROL, code, input, inputSize, output, outputSize};
    return Issue(device, params, returned, nullptr, true);
}

}  // namespace sim

using sim::Machine;

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD, LPSECURITY_ATTRIBUTES, DWORD,
                          DWORD dwFlagsAndAttributes, HANDLE)
{
    if (lpFileName == nullptr || *lpFileName == 0) {
        sim::FailWithError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    Machine& machine = Machine::Current();
    PDEVICE_OBJECT device = machine.names().ResolveDevice(sim::NtNameOf(lpFileName));
    if (device == nullptr) {
        sim::FailWithError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::shared_ptr<sim::FileRecord> file;
    NTSTATUS status = machine.io().OpenFile(device, (dwFlagsAndAttributes & FILE_FLAG_OVERLAPPED) != 0, false, &file,
                                            dwDesiredAccess);
    if (!NT_SUCCESS(status)) {
        sim::FailWith(status);
        return INVALID_HANDLE_VALUE;
    }
    return machine.handles().Insert(std::make_shared<sim::FileHandle>(file));
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                     LPOVERLAPPED lpOverlapped)
{
    if (lpNumberOfBytesRead != nullptr)
        *lpNumberOfBytesRead = 0;
    sim::RequestParams params{IRP_MJ_READ, 0, nullptr, 0, lpBuffer, nNumberOfBytesToRead};
    return sim::Issue(hFile, params, lpNumberOfBytesRead, lpOverlapped, false);
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
                      LPOVERLAPPED lpOverlapped)
{
    if (lpNumberOfBytesWritten != nullptr)
        *lpNumberOfBytesWritten = 0;
    sim::RequestParams params{IRP_MJ_WRITE, 0, lpBuffer, nNumberOfBytesToWrite, nullptr, 0};
    return sim::Issue(hFile, params, lpNumberOfBytesWritten, lpOverlapped, false);
}

BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                            LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                            LPOVERLAPPED lpOverlapped)
{
    if (lpBytesReturned != nullptr)
        *lpBytesReturned = 0;
    sim::RequestParams params{IRP_MJ_DEVICE_CONTROL, dwIoControlCode, lpInBuffer,
                              nInBufferSize,         lpOutBuffer,     nOutBufferSize};
    return sim::Issue(hDevice, params, lpBytesReturned, lpOverlapped, false);
}

BOOL WINAPI GetFileSizeEx(HANDLE hFile, PLARGE_INTEGER lpFileSize)
{
    struct {
        LARGE_INTEGER AllocationSize;
        LARGE_INTEGER EndOfFile;
        ULONG NumberOfLinks;
        BOOLEAN DeletePending;
        BOOLEAN Directory;
    } standard{};
    sim::RequestParams params{IRP_MJ_QUERY_INFORMATION, FileStandardInformation, nullptr, 0, &standard,
                              sizeof standard};
    if (!sim::Issue(hFile, params, nullptr, nullptr, true))
        return FALSE;
    *lpFileSize = standard.EndOfFile;
    return TRUE;
}

BOOL WINAPI CancelIo(HANDLE hFile)
{
    Machine& machine = Machine::Current();
    auto fileHandle = machine.handles().FindAs<sim::FileHandle>(hFile);
    if (!fileHandle)
        return sim::FailWithError(ERROR_INVALID_HANDLE);
    machine.io().CancelFileRequests(fileHandle->file());
    return TRUE;
}

BOOL WINAPI GetOverlappedResult(HANDLE hFile, LPOVERLAPPED lpOverlapped, LPDWORD lpNumberOfBytesTransferred, BOOL bWait)
{
    Machine& machine = Machine::Current();
    auto fileHandle = machine.handles().FindAs<sim::FileHandle>(hFile);
    if (!fileHandle)
        return sim::FailWithError(ERROR_INVALID_HANDLE);
    auto status = static_cast<NTSTATUS>(__atomic_load_n(&lpOverlapped->Internal, __ATOMIC_ACQUIRE));
    if (status == STATUS_PENDING && !bWait)
        return sim::FailWithError(ERROR_IO_INCOMPLETE);
    std::shared_ptr<sim::HandleObject> waitObject = fileHandle;
    if (lpOverlapped->hEvent != nullptr)
        waitObject = machine.handles().Find(lpOverlapped->hEvent);
    if (!waitObject || waitObject->WaitHeader() == nullptr)
        return sim::FailWithError(ERROR_INVALID_HANDLE);
    while (status == STATUS_PENDING) {
        DISPATCHER_HEADER* header = waitObject->WaitHeader();
        machine.dispatcher().Wait(&header, 1, false, std::nullopt);
        status = static_cast<NTSTATUS>(__atomic_load_n(&lpOverlapped->Internal, __ATOMIC_ACQUIRE));
    }
    *lpNumberOfBytesTransferred = static_cast<DWORD>(__atomic_load_n(&lpOverlapped->InternalHigh, __ATOMIC_RELAXED));
    if (NT_ERROR(status) || NT_WARNING(status))
        return sim::FailWith(status);
    return TRUE;
}
