// The settings store: its file name, its events and the links on it.
#include "base/Paths.h"
#include "config/StorageLink.h"
#include "log/Errors.h"
#include "platform/Files.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using Clients = std::vector<CfgStorage::Client*>;

// Records the order in which stores and links are told about loads and saves.
struct EventLog {
    std::vector<std::string> lines;
};

struct Listener {
    EventLog* log;
    std::string name;
    CfgStorage* seen = nullptr;
    void Loaded(CfgStorage* sender)
    {
        seen = sender;
        log->lines.push_back(name + " load");
    }
    void Saved(CfgStorage* sender)
    {
        seen = sender;
        log->lines.push_back(name + " save");
    }
    CfgStorage::Event OnLoad() { return CfgStorage::Event::Bind<&Listener::Loaded>(this); }
    CfgStorage::Event OnSave() { return CfgStorage::Event::Bind<&Listener::Saved>(this); }
};

class CfgStorageTest : public ::testing::Test {
protected:
    TempFolder folder;
    const std::string path = folder.File("Ulmora.hcfg");
    EventLog events;
};

TEST_F(CfgStorageTest, FileNamesAreResolvedAgainstTheProgramFolder)
{
    struct Case {
        std::string name;
        std::string path;
    };
    const Case cases[] = {
        {"Ulmora.hcfg", ProgramFolder() + "Ulmora.hcfg"},
        {"sub/x.hcfg", ProgramFolder() + "sub/x.hcfg"},
        {"/etc/x.hcfg", "/etc/x.hcfg"},
        {"/" + std::string(300, 'p'), "/" + std::string(300, 'p')},
        {"/" + std::string(4094, 'p'), "/" + std::string(4094, 'p')},
        {"/" + std::string(4095, 'p'), ""},
        {"", ""},
    };
    for (const Case& c : cases) {
        CfgStorage storage;
        storage.SetAutoLoad(false);
        storage.SetFileName(c.name);
        EXPECT_EQ(storage.FilePath(), c.path) << c.name;
    }
}

TEST_F(CfgStorageTest, AnOverlongPathIsRefusedInsteadOfCut)
{
    CfgStorage storage;
    storage.SetAutoLoad(false);
    storage.SetFileName(folder.File(std::string(300, 'x')));
    SetLastError(0);
    EXPECT_FALSE(storage.Save());
    EXPECT_EQ(CurrentError(), platform::kErrorPathTooLong);
    EXPECT_FALSE(storage.Load());
    EXPECT_TRUE(folder.Names().empty());
}

TEST_F(CfgStorageTest, WithoutAFileNameNothingHappens)
{
    CfgStorage storage;
    Listener own{&events, "storage"};
    storage.SetOnLoad(own.OnLoad());
    storage.SetOnSave(own.OnSave());
    EXPECT_FALSE(storage.Load());
    EXPECT_FALSE(storage.Save());
    EXPECT_TRUE(events.lines.empty());
}

TEST_F(CfgStorageTest, SettingTheNameLoadsOnlyWithAutoLoad)
{
    {
        CfgStorage writer;
        writer.SetAutoLoad(false);
        writer.SetFileName(path);
        writer.Root()->WriteInt("IDE/RightW", 321);
        ASSERT_TRUE(writer.Save());
    }
    CfgStorage automatic;
    automatic.SetFileName(path);
    EXPECT_EQ(automatic.Root()->ReadInt("IDE/RightW", 0), 321);

    CfgStorage manual;
    manual.SetAutoLoad(false);
    manual.SetFileName(path);
    EXPECT_EQ(manual.Root()->Count(), 0);
}

TEST_F(CfgStorageTest, LinksHearLoadsAndSavesInRegistrationOrderAfterTheStore)
{
    CfgStorage storage;
    storage.SetAutoLoad(false);
    storage.SetFileName(path);
    Listener own{&events, "storage"}, first{&events, "first"}, second{&events, "second"};
    storage.SetOnLoad(own.OnLoad());
    storage.SetOnSave(own.OnSave());
    StorageLink b, a;
    for (auto [link, listener] : {std::pair{&b, &first}, std::pair{&a, &second}}) {
        link->SetOnLoad(listener->OnLoad());
        link->SetOnSave(listener->OnSave());
        link->SetStorage(&storage);
    }
    ASSERT_TRUE(storage.Save());
    ASSERT_TRUE(storage.Load());
    EXPECT_EQ(events.lines, (std::vector<std::string>{"storage save", "first save", "second save",
                                                      "storage load", "first load", "second load"}));
    EXPECT_EQ(first.seen, &storage) << "the sender is the store";
}

TEST_F(CfgStorageTest, AFailedLoadTellsNoOne)
{
    CfgStorage storage;
    storage.SetAutoLoad(false);
    storage.SetFileName(folder.File("missing.hcfg"));
    Listener own{&events, "storage"};
    storage.SetOnLoad(own.OnLoad());
    StorageLink link;
    link.SetOnLoad(own.OnLoad());
    link.SetStorage(&storage);
    EXPECT_FALSE(storage.Load());
    EXPECT_TRUE(events.lines.empty());
}

TEST_F(CfgStorageTest, LinksComeAndGoWithTheirStores)
{
    auto storage = std::make_unique<CfgStorage>();
    CfgStorage other;
    StorageLink kept, moved;
    {
        StorageLink shortLived;
        shortLived.SetStorage(storage.get());
        kept.SetStorage(storage.get());
        moved.SetStorage(storage.get());
        moved.SetStorage(storage.get());
        EXPECT_EQ(storage->Links().size(), 3u);
    }
    EXPECT_EQ(storage->Links(), (Clients{&kept, &moved}));
    moved.SetStorage(&other);
    EXPECT_EQ(storage->Links(), Clients{&kept});
    EXPECT_EQ(other.Links(), Clients{&moved});

    StorageLink copy;
    copy.SetKeyPath("Old");
    copy.AssignFrom(kept);
    EXPECT_EQ(copy.KeyPath(), "");
    EXPECT_EQ(storage->Links(), (Clients{&kept, &copy}));

    storage.reset();
    EXPECT_EQ(kept.Storage(), nullptr);
    EXPECT_EQ(copy.Storage(), nullptr);
    EXPECT_EQ(kept.ReadInt("x", 4), 4) << "a link without a store still answers";
}

TEST_F(CfgStorageTest, LinksWorkBelowTheirKeyPath)
{
    CfgStorage storage;
    StorageLink link;
    link.SetKeyPath("IDE");
    EXPECT_EQ(link.ReadInt("Plugins/Count", 3), 3);
    EXPECT_EQ(link.WriteString("LastUsedData", "x"), "x");
    EXPECT_EQ(link.Item("Window"), nullptr);
    EXPECT_EQ(storage.Root()->Count(), 0) << "without a store nothing is written";

    link.SetStorage(&storage);
    EXPECT_EQ(link.ReadInt("Plugins/Count", 3), 3);
    EXPECT_EQ(link.WriteBool("Autosave", false), false);
    EXPECT_EQ(link.WriteString("LastUsedData", "/data/x"), "/data/x");
    EXPECT_EQ(link.WriteInt("RightW", -1), -1);
    ConfigItem& root = *storage.Root();
    EXPECT_EQ(root.ReadInt("IDE/Plugins/Count", 0), 3);
    EXPECT_EQ(root.FindItem("IDE/Autosave")->Type(), TypeInt);
    EXPECT_FALSE(link.ReadBool("Autosave", true));
    EXPECT_EQ(link.ReadString("LastUsedData", ""), "/data/x");
    ConfigItem* window = link.Item("Window");
    EXPECT_EQ(window, root.FindItem("IDE/Window"));
}

} // namespace
