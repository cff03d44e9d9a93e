// Kernel services for the driver image that a test program brings: under
// Wine the real .sys built beside the test runs inside winedevice.exe;
// natively the same driver source, linked into the test, runs on the
// simulation.
#pragma once

#include <windows.h>

#include "TestMachine.h"

#include <string>

// Under Wine copies the image built beside the test into the system's drivers
// folder; natively registers the DriverEntry linked into the test under its name.
void InstallDriverImage(TestMachine& machine, const char* imageName);

// Wine loads a kernel service only from an image path of this form.
std::string KernelImagePath(const char* imageName);

DWORD ServiceState(SC_HANDLE service);
// Wine's service manager reports a state change of winedevice.exe a little later.
DWORD WaitForServiceState(SC_HANDLE service, DWORD wanted);

// Stops and deletes a service left by an interrupted earlier run in the same Wine prefix.
void RemoveLeftoverService(SC_HANDLE manager, const char* serviceName);

// A demand-start kernel service of the installed image, started and running.
SC_HANDLE CreateAndStartKernelService(SC_HANDLE manager, const char* serviceName, const char* imageName);
// Stops the service (its driver's unload runs) and deletes it.
void StopAndDeleteService(SC_HANDLE service);

// For the few steps where Wine's kernel services differ from Windows.
bool RunningUnderWine();
