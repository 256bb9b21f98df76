#pragma once
// Binds a C++ storage class to the C records of the plugin contract, so each
// shipped plugin is just its storage class plus one QueryPluginInterface.
//
// A Storage derives from StorageBase and provides
//   bool Open(const char* path);  // path is never null; false leaves a text
//   void Close();                 // also called on a storage that is closed
//   uint32_t GetPlateData(const char* name, const void** data, uint32_t* size);
//   uint32_t Write(const char* name, const void* data, uint32_t size, uint32_t mode);
//   uint32_t Enumerate(PlateCallback callback, void* cookie);
// No exception may cross the C boundary: each entry catches them and turns
// them into a failure with a text.

#include <ulmora_plugin.h>

#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <type_traits>

namespace storage_glue {

class StorageBase {
public:
    // The text of the last failure, for GetErrorText.
    const std::string& ErrorText() const { return error_; }
    void SetErrorText(std::string text) { error_ = std::move(text); }

protected:
    uint32_t Fail(std::string text) {
        error_ = std::move(text);
        return Failed;
    }
    bool FailOpen(std::string text) {
        error_ = std::move(text);
        return false;
    }

private:
    std::string error_;
};

// The object the program sees: the contract's fields first, then ours.
// Packed like the record it extends, so a pointer to either is the same.
// Inside a catch block: the caught exception as the storage's error text,
// so that no exception crosses the C boundary unexplained.
template <class Storage>
void SetCaughtText(Storage* storage) {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        storage->SetErrorText("Out of memory");
    } catch (const std::exception& e) {
        storage->SetErrorText(std::string("Internal error: ") + e.what());
    } catch (...) {
        storage->SetErrorText("Internal error");
    }
}

template <class Storage>
struct ULMORA_PACKED ActionBox {
    ActionInterface iface;
    Storage* storage;
};

template <class Storage>
class Glue {
    static_assert(std::is_base_of_v<StorageBase, Storage>);
    static_assert(std::is_standard_layout_v<ActionBox<Storage>>,
                  "the contract's fields must be the first bytes of the action");

public:
    static ActionInterface* ULMORA_CALL CreateAction() {
        try {
            auto* box = new ActionBox<Storage>{};
            box->iface.functions = &kFunctions;
            box->iface.magic = ULMORA_PLUGIN_MAGIC;
            box->iface.size = sizeof(ActionBox<Storage>);
            box->iface.reserved = 0;
            box->iface.extension = Storage::kExtension;
            try {
                box->storage = new Storage();
            } catch (...) {
                delete box;
                return nullptr;
            }
            return &box->iface;
        } catch (...) {
            return nullptr;
        }
    }

    static void ULMORA_CALL FreeAction(ActionInterface* action) {
        if (!action)
            return;
        auto* box = Box(action);
        try {
            box->storage->Close();
        } catch (...) {
        }
        delete box->storage;
        delete box;
    }

private:
    static ActionBox<Storage>* Box(ActionInterface* self) {
        return reinterpret_cast<ActionBox<Storage>*>(self);
    }
    static Storage* Of(ActionInterface* self) { return Box(self)->storage; }

    static void Caught(Storage* storage) { SetCaughtText(storage); }

    static int32_t ULMORA_CALL Open(ActionInterface* self, const char* path) {
        Storage* storage = Of(self);
        try {
            storage->Close();
            if (!path)
                return 1;
            return storage->Open(path) ? 1 : 0;
        } catch (...) {
            Caught(storage);
            return 0;
        }
    }

    static void ULMORA_CALL GetErrorText(ActionInterface* self, char* buffer, uint32_t size) {
        if (!buffer || size == 0)
            return;
        const std::string& text = Of(self)->ErrorText();
        const size_t length = text.size() < size - 1 ? text.size() : size - 1;
        std::memcpy(buffer, text.data(), length);
        buffer[length] = '\0';
    }

    static uint32_t ULMORA_CALL GetPlateData(ActionInterface* self, const char* name,
                                             const void** data, uint32_t* size) {
        Storage* storage = Of(self);
        if (!name || !data || !size) {
            storage->SetErrorText("GetPlateData called without name or out-values");
            return Failed;
        }
        try {
            return storage->GetPlateData(name, data, size);
        } catch (...) {
            Caught(storage);
            return Failed;
        }
    }

    static uint32_t ULMORA_CALL Write(ActionInterface* self, const char* name, const void* data,
                                      uint32_t size, uint32_t mode) {
        Storage* storage = Of(self);
        if (!name) {
            storage->SetErrorText("Write called without a plate name");
            return Failed;
        }
        try {
            return storage->Write(name, data, size, mode);
        } catch (...) {
            Caught(storage);
            return Failed;
        }
    }

    static uint32_t ULMORA_CALL Enumerate(ActionInterface* self, uint32_t, PlateCallback callback,
                                          uint32_t, void* cookie) {
        Storage* storage = Of(self);
        if (!callback) {
            storage->SetErrorText("Enumerate called without a callback");
            return Failed;
        }
        try {
            return storage->Enumerate(callback, cookie);
        } catch (...) {
            Caught(storage);
            return Failed;
        }
    }

    static constexpr ActionFunctions kFunctions = {&Open, &GetErrorText, nullptr, &GetPlateData,
                                                   &Write, &Enumerate};
};

// Fills the program's block without writing past sizeof(PluginInfo).
// Returns null, or the text QueryPluginInterface hands back on refusal.
template <class Storage>
const char* FillPluginInfo(const PluginHostInfo* host, PluginInfo* info, const char* description,
                           uint32_t flags) {
    if (!info)
        return "No PluginInfo block to fill";
    if (host && host->magic != ULMORA_PLUGIN_MAGIC)
        return "The host record has an unknown magic";
    PluginInfo filled{};
    filled.magic = ULMORA_PLUGIN_MAGIC;
    filled.size = sizeof(PluginInfo);
    filled.type = PluginTypeStorage;
    filled.description = description;
    filled.flags = flags;
    filled.Init = nullptr;
    filled.Shutdown = nullptr;
    filled.CreateAction = &Glue<Storage>::CreateAction;
    filled.FreeAction = &Glue<Storage>::FreeAction;
    std::memcpy(info, &filled, sizeof filled);
    return nullptr;
}

} // namespace storage_glue
