// Error boxes and questions, answered from a script.
#include "log/Boxes.h"

#include "log/Errors.h"
#include "log/Log.h"
#include "platform/LastError.h"
#include "ScriptedBoxes.h"

#include <gtest/gtest.h>

namespace {

TEST(BoxesTest, ErrorBoxLogsAndShowsTheText)
{
    ScriptedBoxes boxes;
    std::vector<std::string> logged;
    const int subscription = SubscribeLog([&logged](const std::string& line) { logged.push_back(line); });
    ErrorBox(nullptr, "Error loading storage plugin: %s", "gone");
    UnsubscribeLog(subscription);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].kind, "error");
    EXPECT_EQ(boxes.shown[0].caption, "Error...");
    EXPECT_EQ(boxes.shown[0].text, "Error loading storage plugin: gone");
    EXPECT_EQ(logged, std::vector<std::string>{"Error loading storage plugin: gone"});
}

TEST(BoxesTest, AskYesNoAnswerSticksOnlyAfterTickedYes)
{
    ScriptedBoxes boxes;
    int sticks = 1;
    boxes.Reply(BoxNo, true);
    EXPECT_FALSE(AskYesNo(nullptr, &sticks, "Delete %s?", "t"));
    EXPECT_EQ(sticks, 1) << "a ticked No is ignored";
    boxes.Reply(BoxYes, true);
    EXPECT_TRUE(AskYesNo(nullptr, &sticks, "Delete %s?", "t"));
    EXPECT_EQ(sticks, 0);
    EXPECT_TRUE(AskYesNo(nullptr, &sticks, "Delete %s?", "t"));
    EXPECT_EQ(boxes.shown.size(), 2u) << "a stuck answer shows no box";
    EXPECT_EQ(boxes.shown[0].text, "Delete t?");
    EXPECT_TRUE(boxes.shown[0].withCheckBox);
    EXPECT_EQ(boxes.unanswered, 0);

    boxes.Reply(BoxYes, true);
    EXPECT_TRUE(AskYesNo(nullptr, nullptr, "No flag"));
    EXPECT_FALSE(boxes.shown.back().withCheckBox);
    EXPECT_EQ(boxes.shown.back().buttons, BoxPresenter::Buttons::YesNo);
}

TEST(BoxesTest, AskYesNoCancelRemembersTickedAnswers)
{
    ScriptedBoxes boxes;
    int remembered = 0;
    boxes.Reply(BoxCancel, true);
    EXPECT_EQ(AskYesNoCancel(nullptr, &remembered, "Replace?"), BoxCancel);
    EXPECT_EQ(remembered, 0) << "cancel stores nothing";
    boxes.Reply(BoxYes, false);
    EXPECT_EQ(AskYesNoCancel(nullptr, &remembered, "Replace?"), BoxYes);
    EXPECT_EQ(remembered, 0);
    boxes.Reply(BoxNo, true);
    EXPECT_EQ(AskYesNoCancel(nullptr, &remembered, "Replace?"), BoxNo);
    EXPECT_EQ(remembered, BoxNo);
    EXPECT_EQ(AskYesNoCancel(nullptr, &remembered, "Replace?"), BoxNo);
    EXPECT_EQ(boxes.shown.size(), 3u);

    int seven = BoxNo;
    EXPECT_EQ(AskYesNoCancel(nullptr, &seven, "Replace?"), BoxNo);
    EXPECT_EQ(boxes.shown.size(), 3u) << "a remembered 7 shows no box";
    EXPECT_EQ(boxes.shown[0].buttons, BoxPresenter::Buttons::YesNoCancel);
}

TEST(BoxesTest, QuestionsKeepTheLastError)
{
    // A presenter that disturbs the error state, as a real dialog may.
    struct Noisy : ScriptedBoxes {
        BoxPresenter::Answer Ask(BoxOwner owner, const std::string& caption, const std::string& text, Buttons buttons,
                   bool withCheckBox) override
        {
            platform::SetLastError(ENOSPC);
            platform::SetErrno(EPIPE);
            return ScriptedBoxes::Ask(owner, caption, text, buttons, withCheckBox);
        }
    } boxes;
    SetErrorText("reason");
    platform::SetErrno(0);
    boxes.Reply(BoxYes);
    boxes.Reply(BoxYes);
    EXPECT_TRUE(AskYesNo(nullptr, nullptr, "?"));
    AskYesNoCancel(nullptr, nullptr, "?");
    EXPECT_EQ(CurrentError(), ErrCustomText);
    EXPECT_EQ(platform::Errno(), 0);
}

TEST(BoxesTest, QuestionCaptionIsTheProgramPath)
{
    ScriptedBoxes boxes;
    AskYesNo(nullptr, nullptr, "?");
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].caption.rfind('/'), boxes.shown[0].caption.size() - std::string("log_test").size() - 1);
}

// FatalError ends the process: each case runs in a child.
void FatalWith(int lastError, const char* hookMarker)
{
    static const char* marker = nullptr;
    marker = hookMarker;
    if (marker != nullptr)
        SetFatalHook([] { std::fprintf(stderr, "%s\n", marker); });
    platform::SetErrno(0);
    SetLastError(lastError);
    FatalError("Errr initialize Zelmath library: %s", "x");
}

TEST(BoxesDeathTest, FatalErrorShowsTheTextAndEndsWithCode1)
{
    EXPECT_EXIT(FatalWith(0, nullptr), ::testing::ExitedWithCode(1),
                "Programm aborted: Errr initialize Zelmath library: x\n$");
    EXPECT_EXIT(FatalWith(EIO, nullptr), ::testing::ExitedWithCode(1),
                "Programm aborted: Errr initialize Zelmath library: x\nStdError: Input/output error");
    EXPECT_EXIT(FatalWith(0, "hook ran"), ::testing::ExitedWithCode(1), "hook ran\nProgramm aborted:");
}

TEST(BoxesTest, FatalHookIsReplacedAndReturned)
{
    FatalHook first = [] {};
    EXPECT_EQ(SetFatalHook(first), nullptr);
    EXPECT_EQ(SetFatalHook(nullptr), first);
}

} // namespace
