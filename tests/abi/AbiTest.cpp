// A plugin built from the contract header alone loads on this target.
#include "plugins/Plugin.h"

#include "log/Errors.h"

#include <gtest/gtest.h>

#include <cstddef>

static_assert(sizeof(PluginInfo) == (sizeof(void*) == 8 ? 56 : 36));
static_assert(sizeof(ActionInterface) == (sizeof(void*) == 8 ? 28 : 20));
static_assert(sizeof(PluginHostInfo) == 16);

TEST(AbiTest, APluginBuiltFromTheHeaderAloneLoads)
{
    const PluginHostInfo host = {ULMORA_PLUGIN_MAGIC, sizeof(PluginHostInfo), ULMORA_PLUGIN_HOST_VALUE, 0};
    auto plugin = LoadPlugin(ABI_PLUGIN_PATH, &host, PluginTypeStorage);
    ASSERT_NE(plugin, nullptr) << ErrorText(kCurrentError);
    EXPECT_STREQ(plugin->Description(), "Layout check");
    EXPECT_EQ(plugin->CreateAction(), nullptr);
    EXPECT_EQ(ErrorText(kCurrentError), "Error requesting new action from plugin");
}
