// A plugin built from the contract header alone loads on this target.
#include "plugins/Plugin.h"

#include "base/BuildInfo.h"
#include "log/Errors.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string_view>

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
