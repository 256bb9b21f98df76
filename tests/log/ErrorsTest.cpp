// Error codes, their texts and the custom error text.
#include "log/Errors.h"

#include "platform/LastError.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

TEST(ErrorsTest, ProgramCodesHaveTheirTexts)
{
    const std::pair<int, const char*> cases[] = {
        {20002, "The parameter is incorrect"},
        {20007, "Operation cancelled by use"},
        {20008, "Need more data to complete operatio"},
        {20016, "Bad ID magic value"},
        {20021, "Data block contains unexpected data"},
        {20022, "Specified buffer too small"},
        {20023, "Unknown error"},
        {30000, "Unknown error"},
        {-7, "Unknown error"},
    };
    for (const auto& [code, text] : cases)
        EXPECT_EQ(ErrorText(code), text) << code;
}

TEST(ErrorsTest, SystemCodesGiveTheFirstLineOfTheSystemText)
{
    EXPECT_EQ(ErrorText(ENOENT), "No such file or directory");
    EXPECT_EQ(ErrorText(EIO), "Input/output error");
    EXPECT_EQ(ErrorText(19999), "Unknown error") << "a code the system has no text for";
    for (int code = 1; code < 140; ++code) {
        std::string text = ErrorText(code);
        EXPECT_FALSE(text.empty());
        EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << code;
    }
}

TEST(ErrorsTest, CustomTextSetsCode20001)
{
    SetErrorText("Plugin %s failed", "x");
    EXPECT_EQ(CurrentError(), ErrCustomText);
    EXPECT_EQ(ErrorText(kCurrentError), "Plugin x failed");
    EXPECT_EQ(ErrorText(ErrCurrent), "Plugin x failed");
    EXPECT_EQ(ErrorText(ErrCustomText), "Plugin x failed");

    SetErrorText("%s", std::string(1500, 'e').c_str());
    EXPECT_EQ(ErrorText(kCurrentError).size(), kMaxErrorText);
    SetErrorText("%s€", std::string(997, 'e').c_str());
    EXPECT_EQ(ErrorText(kCurrentError), std::string(997, 'e')) << "no half character at the cut";
}

TEST(ErrorsTest, TheCodeIsPerThreadTheTextIsShared)
{
    SetLastError(0);
    std::thread([] { SetErrorText("from another thread"); }).join();
    EXPECT_EQ(CurrentError(), 0);
    EXPECT_EQ(ErrorText(ErrCustomText), "from another thread");
}

TEST(ErrorsTest, WithoutALastErrorTheRuntimeErrorNumberCounts)
{
    SetLastError(0);
    platform::SetErrno(ENOENT);
    EXPECT_EQ(CurrentError(), ENOENT);
    EXPECT_EQ(ErrorText(kCurrentError), "No such file or directory");
    SetLastError(EACCES);
    EXPECT_EQ(CurrentError(), EACCES);
    platform::SetErrno(0);
}

} // namespace
