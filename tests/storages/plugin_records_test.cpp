// What the program checks of every plugin before it uses it, for each
// shipped storage plugin.
#include "plugin_host.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace storage_test {
namespace {

struct ShippedPlugin {
    const char* path;
    uint32_t flags;
    const char* extension;
};

const ShippedPlugin kPlugins[] = {
    {MBTILES_PLUGIN, SupportsWrite | SupportsList, "mbtiles"},
    {FOLDER_PLUGIN, UsesDirectory | SupportsWrite | SupportsList, ""},
};

void PrintTo(const ShippedPlugin& plugin, std::ostream* out) { *out << plugin.path; }

class PluginRecords : public testing::TestWithParam<ShippedPlugin> {};

TEST_P(PluginRecords, FillsExactlyThePluginInfoBlock) {
    LoadedPlugin plugin(GetParam().path);
    ASSERT_EQ(plugin.LoadError(), "");

    // Bytes past the block must stay untouched.
    std::vector<unsigned char> block(sizeof(PluginInfo) + 32, 0xA5);
    ASSERT_EQ(plugin.Query()(HostInfo(), reinterpret_cast<PluginInfo*>(block.data())), nullptr);
    for (size_t i = sizeof(PluginInfo); i < block.size(); ++i)
        ASSERT_EQ(block[i], 0xA5) << "byte " << i << " written past the record";

    PluginInfo info;
    std::memcpy(&info, block.data(), sizeof info);
    EXPECT_EQ(info.magic, ULMORA_PLUGIN_MAGIC);
    EXPECT_GE(info.size, sizeof(PluginInfo));
    EXPECT_EQ(info.type, static_cast<uint32_t>(PluginTypeStorage));
    EXPECT_EQ(info.flags, GetParam().flags);
    ASSERT_NE(info.description, nullptr);
    EXPECT_GT(std::strlen(info.description), 10u);
    EXPECT_NE(info.CreateAction, nullptr);
    EXPECT_NE(info.FreeAction, nullptr);
}

TEST_P(PluginRecords, RefusesAHostOfAnotherMagic) {
    LoadedPlugin plugin(GetParam().path);
    ASSERT_EQ(plugin.LoadError(), "");
    const PluginHostInfo stranger{0x0251545A, sizeof(PluginHostInfo), ULMORA_PLUGIN_HOST_VALUE, 0};
    PluginInfo info{};
    const char* refusal = plugin.Query()(&stranger, &info);
    ASSERT_NE(refusal, nullptr);
    EXPECT_GT(std::strlen(refusal), 0u);
}

TEST_P(PluginRecords, MakesActionsThatCarryTheContractFields) {
    LoadedPlugin plugin(GetParam().path);
    ASSERT_EQ(plugin.LoadError(), "");
    Action first(plugin);
    Action second(plugin);
    for (ActionInterface* action : {first.Raw(), second.Raw()}) {
        EXPECT_EQ(action->magic, ULMORA_PLUGIN_MAGIC);
        EXPECT_GE(action->size, sizeof(ActionInterface));
        ASSERT_NE(action->extension, nullptr);
        EXPECT_STREQ(action->extension, GetParam().extension);
        const ActionFunctions* functions = action->functions;
        ASSERT_NE(functions, nullptr);
        EXPECT_NE(functions->Open, nullptr);
        EXPECT_NE(functions->GetErrorText, nullptr);
        EXPECT_NE(functions->GetPlateData, nullptr);
        EXPECT_NE(functions->Write, nullptr);
        EXPECT_NE(functions->Enumerate, nullptr);
    }
    EXPECT_NE(first.Raw(), second.Raw());
}

// The program never calls these on a closed action, but another host may.
TEST_P(PluginRecords, AClosedActionFailsWithAText) {
    LoadedPlugin plugin(GetParam().path);
    ASSERT_EQ(plugin.LoadError(), "");
    Action action(plugin);
    std::vector<Plate> plates;
    std::string bytes;
    EXPECT_EQ(action.Enumerate(&plates), static_cast<uint32_t>(Failed));
    EXPECT_NE(action.ErrorText(), "");
    EXPECT_EQ(action.GetPlateData("t", &bytes), static_cast<uint32_t>(Failed));
    EXPECT_NE(action.ErrorText(), "");
    EXPECT_EQ(action.Delete("t"), static_cast<uint32_t>(Failed));
    EXPECT_NE(action.ErrorText(), "");
    EXPECT_TRUE(plates.empty());
}

TEST_P(PluginRecords, CutsALongErrorTextToTheProgramsBuffer) {
    LoadedPlugin plugin(GetParam().path);
    ASSERT_EQ(plugin.LoadError(), "");
    Action action(plugin);
    EXPECT_FALSE(action.Open("/nonexistent/" + std::string(300, 'n')));
    const std::string text = action.ErrorText();
    EXPECT_NE(text, "<unterminated>");
    EXPECT_EQ(text.size(), 99u);
}

INSTANTIATE_TEST_SUITE_P(Shipped, PluginRecords, testing::ValuesIn(kPlugins),
                         [](const testing::TestParamInfo<ShippedPlugin>& param) {
                             return std::string(param.param.extension).empty() ? std::string("folder")
                                                                              : std::string("mbtiles");
                         });

} // namespace
} // namespace storage_test
