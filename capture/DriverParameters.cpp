#include "DriverParameters.h"

#include "CaptureParameters.h"

#include <string.h>

#include <string>

namespace {

std::string ObjectKey(const char* parametersKey, int number)
{
    return std::string(parametersKey) + "\\" CAPTURE_OBJECT_KEY_PREFIX_A + std::to_string(number);
}

std::string PortNotFoundLine(const char* port)
{
    std::string line = PORT_NOT_FOUND_TEXT;
    line.replace(line.find("%s"), 2, port);
    return line;
}

// The objects written so far and where the next one goes.
class ObjectWriter {
public:
    ObjectWriter(FilterService& service, const char* parametersKey) : service_(service), key_(parametersKey) {}

    int Created() const { return created_; }

    void WriteMonitor(CaptureItem& item, const char* devicePath)
    {
        int number = created_ + 1;
        std::string deviceObject = CAPTURE_MONITOR_OBJECT_PREFIX_A + std::to_string(number);
        std::string key = ObjectKey(key_, number);
        service_.SetString(key.c_str(), CAPTURE_VALUE_BASE_NAME_A, deviceObject.c_str());
        CopyItemText(item.deviceObject, sizeof item.deviceObject, deviceObject.c_str());
        WritePort(key, item, devicePath);
        ++created_;
    }

    void WritePortItem(const CaptureItem& item, const char* devicePath)
    {
        int number = FindPortObject(item.outputPort);
        if (number == 0) {
            number = created_ + 1;
            std::string key = ObjectKey(key_, number);
            service_.SetString(key.c_str(), CAPTURE_VALUE_BASE_NAME_A, item.outputPort);
            // Any form number travels unchanged: the driver decides what it means.
            service_.SetDword(key.c_str(), CAPTURE_VALUE_FORM_A, static_cast<DWORD>(item.form));
            ++created_;
        }
        WritePort(ObjectKey(key_, number), item, devicePath);
    }

private:
    // The first object whose BaseName equals the output port exactly, or 0.
    int FindPortObject(const char* outputPort)
    {
        char baseName[CAPTURE_ITEM_TEXT_SIZE];
        for (int number = 1; number <= created_; ++number) {
            std::string key = ObjectKey(key_, number);
            if (service_.GetString(key.c_str(), CAPTURE_VALUE_BASE_NAME_A, baseName, sizeof baseName) &&
                strcmp(baseName, outputPort) == 0)
                return number;
        }
        return 0;
    }

    // After BaseName: the driver binds each port value to the last base name it met.
    void WritePort(const std::string& key, const CaptureItem& item, const char* devicePath)
    {
        service_.SetString(key.c_str(), item.port, devicePath);
        service_.SetDword(key.c_str(), CAPTURE_VALUE_MAX_BYTES_A, item.bufferSize);
    }

    FilterService& service_;
    const char* key_;
    int created_ = 0;
};

}  // namespace

bool BuildDriverParameters(CaptureItemRows& items, const char* parametersKey, FilterService& service,
                           DosDeviceTable& devices, const LogLine& log)
{
    if (items.ItemCount() == 0)
        return false;
    service.DeleteSubkeys(parametersKey);
    ObjectWriter writer(service, parametersKey);
    for (int index = 0; index < items.ItemCount(); ++index) {
        CaptureItem& item = *items.Item(index);
        // Only this start's monitor objects name a device.
        item.deviceObject[0] = '\0';
        char devicePath[DOS_DEVICE_LOOKUP_SIZE] = {};
        if (devices.Lookup(item.port, devicePath, sizeof devicePath) == 0) {
            item.active = 0;
            log(PortNotFoundLine(item.port));
            continue;
        }
        item.active = 1;
        if (item.form == StandardMonitor)
            writer.WriteMonitor(item, devicePath);
        else
            writer.WritePortItem(item, devicePath);
    }
    return writer.Created() > 0;
}
