// The translation dictionary.
#include "base/Dictionary.h"

#include <gtest/gtest.h>

namespace {

struct Spy {
    std::vector<int> heard;
    void Changed(int language) { heard.push_back(language); }
};

TEST(DictionaryTest, TranslatesIntoTheChosenLanguage)
{
    Dictionary dictionary;
    ASSERT_TRUE(dictionary.LoadText("# comment\n"
                                    "languages\tEnglish\tРусский\tDeutsch\n"
                                    "\n"
                                    "&L Load storage\t&L Загрузить хранилище\t&L Speicher laden\n"
                                    "Two\\nlines\tДве\\nстроки\t\r\n"
                                    "broken line without translations\n"));
    EXPECT_EQ(dictionary.Languages(), (std::vector<std::string>{"English", "Русский", "Deutsch"}));
    EXPECT_STREQ(dictionary.Translate("&L Load storage"), "&L Load storage") << "language 0 is the source";

    Spy spy;
    dictionary.AddListener(Dictionary::Listener::Bind<&Spy::Changed>(&spy));
    dictionary.SetLanguage(1);
    EXPECT_STREQ(dictionary.Translate("&L Load storage"), "&L Загрузить хранилище");
    EXPECT_STREQ(dictionary.Translate("Two\nlines"), "Две\nстроки");
    EXPECT_STREQ(dictionary.Translate("unknown"), "unknown");
    dictionary.SetLanguage(2);
    EXPECT_STREQ(dictionary.Translate("Two\nlines"), "Two\nlines") << "an empty translation keeps the text";
    dictionary.SetLanguage(7);
    EXPECT_EQ(dictionary.Language(), 0);
    EXPECT_EQ(spy.heard, (std::vector<int>{1, 2, 0}));
    EXPECT_EQ(dictionary.Translate(nullptr), nullptr);
}

TEST(DictionaryTest, AMissingFileLeavesNoLanguages)
{
    Dictionary dictionary;
    EXPECT_FALSE(dictionary.Load("/nonexistent/Ulmora.mld"));
    EXPECT_TRUE(dictionary.Languages().empty());
}

} // namespace
