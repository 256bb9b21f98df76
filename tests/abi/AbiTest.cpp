// A plugin built from the contract header alone loads on this target.
#include "plugins/Plugin.h"

#include "base/BuildInfo.h"
#include "log/Errors.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

static_assert(sizeof(PluginInfo) == (sizeof(void*) == 8 ? 56 : 36));
static_assert(sizeof(ActionInterface) == (sizeof(void*) == 8 ? 28 : 20));
static_assert(sizeof(PluginHostInfo) == 16);

// The program's version (the window, --version, the package) is the one the
// contract header declares: the build reads it from there.
#define ULMORA_TEXT(x) #x
#define ULMORA_VERSION_TEXT(a, b, c) ULMORA_TEXT(a) "." ULMORA_TEXT(b) "." ULMORA_TEXT(c)
static_assert(std::string_view(kProgramVersion) ==
              ULMORA_VERSION_TEXT(ULMORA_VERSION_MAJOR, ULMORA_VERSION_MINOR, ULMORA_VERSION_REVISION));

TEST(AbiTest, APluginBuiltFromTheHeaderAloneLoads)
{
    const PluginHostInfo host = {ULMORA_PLUGIN_MAGIC, sizeof(PluginHostInfo), ULMORA_PLUGIN_HOST_VALUE, 0};
    auto plugin = LoadPlugin(ABI_PLUGIN_PATH, &host, PluginTypeStorage);
    ASSERT_NE(plugin, nullptr) << ErrorText(kCurrentError);
    EXPECT_STREQ(plugin->Description(), "Layout check");
    EXPECT_EQ(plugin->CreateAction(), nullptr);
    EXPECT_EQ(ErrorText(kCurrentError), "Error requesting new action from plugin");
}

// A plugin built before extensions has no QueryPluginExtension: it loads as
// before and has no metadata, container or plate stream; one with the
// tables has them found at load time.
TEST(AbiTest, TheExtensionsAreFoundWhereAPluginHasThem)
{
    const PluginHostInfo host = {ULMORA_PLUGIN_MAGIC, sizeof(PluginHostInfo), ULMORA_PLUGIN_HOST_VALUE, 0};
    struct Case {
        const char* path;
        bool hasMetadata;
    };
    for (const Case& c : {Case{ABI_PLUGIN_PATH, false}, Case{ABI_EXT_PLUGIN_PATH, true}}) {
        SCOPED_TRACE(c.path);
        auto plugin = LoadPlugin(c.path, &host, PluginTypeStorage);
        ASSERT_NE(plugin, nullptr) << ErrorText(kCurrentError);
        ASSERT_EQ(plugin->Metadata() != nullptr, c.hasMetadata);
        ASSERT_EQ(plugin->Container() != nullptr, c.hasMetadata);
        ASSERT_EQ(plugin->PlateStream() != nullptr, c.hasMetadata);
        if (!c.hasMetadata)
            continue;
        // Sized as the first tables were, without flags: taken, and not whole.
        EXPECT_EQ(plugin->PlateStream()->size, offsetof(PlateStreamExtension, flags));
        struct Plates {
            std::vector<std::pair<std::string, std::string>> seen;
            static uint32_t ULMORA_CALL Add(void* cookie, int32_t number, const char* name, const void* data,
                                            uint32_t size)
            {
                static_cast<Plates*>(cookie)->seen.emplace_back(
                    std::to_string(number) + " " + name, data ? std::string(static_cast<const char*>(data), size) : "-");
                return 1;
            }
        } plates;
        EXPECT_EQ(plugin->PlateStream()->StreamPlates(nullptr, &Plates::Add, &plates), static_cast<uint32_t>(Done));
        const std::vector<std::pair<std::string, std::string>> streamed = {{"7 tq", "ab"}, {"3 t", "-"}};
        EXPECT_EQ(plates.seen, streamed);
        EXPECT_EQ(plugin->Container()->size, sizeof(ContainerExtension));
        EXPECT_EQ(plugin->Container()->ReclaimSpace, nullptr);
        uint64_t fileBytes = 0, freeBytes = 0;
        EXPECT_EQ(plugin->Container()->MeasureSpace(nullptr, &fileBytes, &freeBytes), static_cast<uint32_t>(Done));
        EXPECT_EQ(fileBytes, 8192u);
        EXPECT_EQ(freeBytes, 4096u);
        EXPECT_EQ(plugin->Metadata()->size, sizeof(MetadataExtension));
        EXPECT_EQ(plugin->Metadata()->WriteMetadata, nullptr);
        std::vector<std::pair<std::string, std::string>> entries;
        struct Collect {
            static uint32_t ULMORA_CALL Add(void* cookie, const char* key, const char* value)
            {
                static_cast<std::vector<std::pair<std::string, std::string>>*>(cookie)->emplace_back(key, value);
                return 1;
            }
        };
        EXPECT_EQ(plugin->Metadata()->ReadMetadata(nullptr, &Collect::Add, &entries), static_cast<uint32_t>(Done));
        const std::vector<std::pair<std::string, std::string>> expected = {{"name", "Layout check"},
                                                                           {"format", "png"}};
        EXPECT_EQ(entries, expected);
    }
}
