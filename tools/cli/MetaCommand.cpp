// meta: the storage's metadata through the plugin's metadata extension, and
// the part of info that shows it.
#include "Commands.h"

#include "Cli.h"
#include "Context.h"
#include "Json.h"

#include "base/Text.h"
#include "log/Errors.h"
#include "log/Log.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace cli {

namespace {

// A value on one line of text: control characters as C escapes.
std::string OnOneLine(const std::string& value)
{
    std::string out;
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\r')
            out += "\\r";
        else if (byte < 0x20 || byte == 0x7F)
            out += Format("\\x%02x", byte);
        else
            out += c;
    }
    return out;
}

std::string JsonObject(const StorageAction::MetadataEntries& entries)
{
    // Appended piece by piece: a temporary built with operator+ from a
    // literal draws a false -Wrestrict from GCC 12's optimiser.
    std::string out = "{";
    for (const auto& [key, value] : entries) {
        if (out.size() > 1)
            out += ',';
        out += JsonString(key);
        out += ':';
        out += JsonString(value);
    }
    return out + "}";
}

std::string NoExtensionText(const BasePlugin& plugin)
{
    return Format("the plugin %s has no metadata extension (%s): it cannot read a storage's metadata",
                  plugin.LibraryPath().c_str(), ULMORA_METADATA_EXTENSION);
}

int ReadAll(StorageAction& action, const std::string& storage, StorageAction::MetadataEntries* entries)
{
    if (!action.HasMetadata())
        return Fail(kExitNoStorage, NoExtensionText(*action.Plugin()));
    if (action.ReadMetadata(entries) == Failed)
        return Fail(kExitNoStorage, Format("Error reading the metadata of \"%s\": %s", storage.c_str(),
                                           ErrorText(kCurrentError).c_str()));
    return kExitDone;
}

// OpenChosen, but a plugin without the extension is named as such before
// any storage is opened through it.
int OpenForMetadata(Context& context, const std::string& storage, OpenStorage* open)
{
    const PluginEntry* entry = nullptr;
    if (int code = SourcePlugin(context, storage, &entry); code != kExitDone)
        return code;
    if (int code = LoadEntry(*entry, open); code != kExitDone)
        return code;
    if (open->plugin->Metadata() == nullptr)
        return Fail(kExitNoStorage, NoExtensionText(*open->plugin));
    return OpenAction(storage, open);
}

} // namespace

std::string MetadataReport(StorageAction& action, bool json)
{
    StorageAction::MetadataEntries entries;
    if (!action.HasMetadata())
        return json ? "null" : "metadata  none: " + NoExtensionText(*action.Plugin()) + "\n";
    if (action.ReadMetadata(&entries) == Failed) {
        const std::string why = ErrorText(kCurrentError);
        std::fprintf(stderr, "ulmora-cli: cannot read the metadata: %s\n", why.c_str());
        return json ? "null" : "metadata  unreadable: " + why + "\n";
    }
    if (json)
        return JsonObject(entries);
    if (entries.empty())
        return "metadata  none\n";
    std::size_t width = 0;
    for (const auto& entry : entries)
        width = std::max(width, std::min<std::size_t>(entry.first.size(), 24));
    std::string out = "metadata\n";
    for (const auto& [key, value] : entries)
        out += Format("  %-*s  ", static_cast<int>(width), OnOneLine(key).c_str()) + OnOneLine(value) + "\n";
    return out;
}

int Meta(Context& context)
{
    const Options& options = context.options;
    const std::string& storage = options.arguments[0];
    OpenStorage open;
    if (int code = OpenForMetadata(context, storage, &open); code != kExitDone)
        return code;
    StorageAction& action = *open.action;

    if (options.metadataChanges.empty()) {
        StorageAction::MetadataEntries entries;
        if (int code = ReadAll(action, storage, &entries); code != kExitDone)
            return code;
        if (options.json) {
            std::printf("{\"storage\":%s,\"plugin\":%s,\"metadata\":%s}\n", JsonString(storage).c_str(),
                        JsonString(open.entry->name).c_str(), JsonObject(entries).c_str());
        } else {
            for (const auto& [key, value] : entries)
                std::printf("%s\t%s\n", OnOneLine(key).c_str(), OnOneLine(value).c_str());
            if (entries.empty())
                Say(context, "%s has no metadata\n", storage.c_str());
        }
        return kExitDone;
    }

    if (!action.HasMetadata())
        return Fail(kExitNoStorage, NoExtensionText(*action.Plugin()));
    if (!action.CanWriteMetadata())
        return Fail(kExitNoStorage, Format("the metadata of \"%s\" cannot be changed: the format (plugin %s) keeps it fixed",
                                           storage.c_str(), open.entry->name.c_str()));
    for (const auto& [key, value] : options.metadataChanges) {
        const uint32_t result = action.WriteMetadata(key.c_str(), value ? value->c_str() : nullptr);
        if (result == Failed)
            return Fail(kExitNoStorage, Format("Error %s the metadata key \"%s\" of \"%s\": %s",
                                               value ? "setting" : "deleting", key.c_str(), storage.c_str(),
                                               ErrorText(kCurrentError).c_str()));
        if (!value)
            Say(context, result == Empty ? "no key %s to delete\n" : "deleted %s\n", key.c_str());
        else
            Say(context, "set %s\n", key.c_str());
    }
    if (options.json) {
        StorageAction::MetadataEntries entries;
        if (int code = ReadAll(action, storage, &entries); code != kExitDone)
            return code;
        std::printf("{\"storage\":%s,\"plugin\":%s,\"metadata\":%s}\n", JsonString(storage).c_str(),
                    JsonString(open.entry->name).c_str(), JsonObject(entries).c_str());
    }
    return kExitDone;
}

} // namespace cli
