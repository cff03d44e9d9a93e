// Records the page calls this program makes to GDI (StartPage "S", EndPage
// "E", EndDoc "D") on their way to the real printer, by pointing its import
// slots for them at recording functions while a recorder lives. Wine's
// EndDoc ends a page left open, so the printed document alone cannot show a
// missing EndPage; the order of the calls does.
#pragma once

#include <windows.h>

#include <string.h>

#include <mutex>
#include <string>

class PageCallRecorder {
public:
    PageCallRecorder()
    {
        startPage_ = Redirect("StartPage", reinterpret_cast<void*>(RecordStartPage));
        endPage_ = Redirect("EndPage", reinterpret_cast<void*>(RecordEndPage));
        endDoc_ = Redirect("EndDoc", reinterpret_cast<void*>(RecordEndDoc));
    }
    ~PageCallRecorder()
    {
        Redirect("StartPage", startPage_);
        Redirect("EndPage", endPage_);
        Redirect("EndDoc", endDoc_);
    }
    PageCallRecorder(const PageCallRecorder&) = delete;
    PageCallRecorder& operator=(const PageCallRecorder&) = delete;

    bool Installed() const { return startPage_ != nullptr && endPage_ != nullptr && endDoc_ != nullptr; }
    // The calls since the last Take.
    std::string Take()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::string taken;
        taken.swap(calls_);
        return taken;
    }

private:
    using PageCall = int(WINAPI*)(HDC);

    static void Record(char call)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_ += call;
    }
    static int WINAPI RecordStartPage(HDC dc)
    {
        Record('S');
        return reinterpret_cast<PageCall>(startPage_)(dc);
    }
    static int WINAPI RecordEndPage(HDC dc)
    {
        Record('E');
        return reinterpret_cast<PageCall>(endPage_)(dc);
    }
    static int WINAPI RecordEndDoc(HDC dc)
    {
        Record('D');
        return reinterpret_cast<PageCall>(endDoc_)(dc);
    }

    // This program's import slot of a gdi32 function.
    static void** ImportSlot(const char* function)
    {
        auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
        const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
        const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        for (auto* dll = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); dll->Name;
             ++dll) {
            if (_stricmp(reinterpret_cast<const char*>(base + dll->Name), "gdi32.dll") != 0)
                continue;
            const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + dll->OriginalFirstThunk);
            auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->FirstThunk);
            for (; names->u1.AddressOfData != 0; ++names, ++slots) {
                if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                    continue;
                const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
                if (strcmp(reinterpret_cast<const char*>(byName->Name), function) == 0)
                    return reinterpret_cast<void**>(&slots->u1.Function);
            }
        }
        return nullptr;
    }

    // Returns what the slot held; null when there is no such slot.
    static void* Redirect(const char* function, void* target)
    {
        void** slot = ImportSlot(function);
        if (slot == nullptr || target == nullptr)
            return nullptr;
        DWORD protection = 0;
        VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection);
        void* previous = *slot;
        *slot = target;
        VirtualProtect(slot, sizeof *slot, protection, &protection);
        return previous;
    }

    static inline std::mutex mutex_;
    static inline std::string calls_;
    static inline void* startPage_ = nullptr;
    static inline void* endPage_ = nullptr;
    static inline void* endDoc_ = nullptr;
};
