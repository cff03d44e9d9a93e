// GetLastError/SetLastError (per thread), the status-to-error mapping and GetTickCount.
#include "User.h"

#include "../Machine.h"

namespace sim {

DWORD DosErrorOf(NTSTATUS status)
{
    switch (status) {
    case STATUS_SUCCESS: return ERROR_SUCCESS;
    case STATUS_PENDING: return ERROR_IO_PENDING;
    case STATUS_TIMEOUT: return ERROR_TIMEOUT;
    case STATUS_BUFFER_OVERFLOW: return ERROR_MORE_DATA;
    case STATUS_NO_MORE_ENTRIES: return ERROR_NO_MORE_ITEMS;
    case STATUS_UNSUCCESSFUL: return ERROR_GEN_FAILURE;
    case STATUS_NOT_IMPLEMENTED:
    case STATUS_INVALID_DEVICE_REQUEST: return ERROR_INVALID_FUNCTION;
    case STATUS_INVALID_HANDLE: return ERROR_INVALID_HANDLE;
    case STATUS_INVALID_PARAMETER: return ERROR_INVALID_PARAMETER;
    case STATUS_NO_SUCH_DEVICE:
    case STATUS_OBJECT_NAME_NOT_FOUND: return ERROR_FILE_NOT_FOUND;
    case STATUS_OBJECT_PATH_NOT_FOUND: return ERROR_PATH_NOT_FOUND;
    case STATUS_OBJECT_NAME_INVALID: return ERROR_INVALID_NAME;
    case STATUS_OBJECT_NAME_COLLISION: return ERROR_ALREADY_EXISTS;
    case STATUS_ACCESS_DENIED:
    case STATUS_DELETE_PENDING: return ERROR_ACCESS_DENIED;
    case STATUS_BUFFER_TOO_SMALL: return ERROR_INSUFFICIENT_BUFFER;
    case STATUS_SHARING_VIOLATION: return ERROR_SHARING_VIOLATION;
    case STATUS_NO_MEMORY: return ERROR_NOT_ENOUGH_MEMORY;
    case STATUS_INSUFFICIENT_RESOURCES: return ERROR_NO_SYSTEM_RESOURCES;
    case STATUS_NOT_SUPPORTED: return ERROR_NOT_SUPPORTED;
    case STATUS_CANCELLED: return ERROR_OPERATION_ABORTED;
    case STATUS_REQUEST_ABORTED: return ERROR_REQUEST_ABORTED;
    case STATUS_DEVICE_BUSY: return ERROR_BUSY;
    case STATUS_DEVICE_NOT_CONNECTED: return ERROR_DEVICE_NOT_CONNECTED;
    case STATUS_END_OF_FILE: return ERROR_HANDLE_EOF;
    case STATUS_NOT_FOUND: return ERROR_NOT_FOUND;
    default: return ERROR_MR_MID_NOT_FOUND;
    }
}

BOOL FailWithError(DWORD error)
{
    CurrentThread().lastError = error;
    return FALSE;
}

BOOL FailWith(NTSTATUS status)
{
    return FailWithError(DosErrorOf(status));
}

}  // namespace sim

DWORD WINAPI GetLastError(void)
{
    return sim::CurrentThread().lastError;
}

void WINAPI SetLastError(DWORD dwErrCode)
{
    sim::CurrentThread().lastError = dwErrCode;
}

DWORD WINAPI GetTickCount(void)
{
    return sim::Machine::Current().clock().TickCount();
}
