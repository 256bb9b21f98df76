// The report window on its own, offscreen: what it shows of a report, its
// size with and without a stack, the answers of its buttons and keys, and
// the save file.
#include "crash/VCLExceptionInfoForm.h"

#include "TempFolder.h"
#include "crash/ExceptionCodes.h"
#include "widgets/BkList.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

crash::StackFrame Frame(uint64_t address, const char* symbol, int codeLines)
{
    crash::StackFrame frame;
    frame.address = address;
    frame.inModule = true;
    frame.moduleName = "ulmora";
    frame.section = ".text";
    frame.symbol = symbol;
    frame.symbolOffset = 0x10;
    frame.sourceFile = "MainForm.cpp";
    frame.sourceLine = 42;
    for (int i = 0; i < crash::kStackWords; ++i) {
        crash::StackWord word;
        word.value = 0x1000 + static_cast<uint64_t>(i);
        word.bytesValid = i == 0;
        for (int b = 0; b < crash::kWordBytes; ++b)
            word.bytes[b] = static_cast<unsigned char>('A' + b);
        frame.stack.push_back(word);
    }
    for (int i = 0; i < codeLines; ++i)
        frame.code.push_back({address - 4 + static_cast<uint64_t>(i) * 4, "mov     eax, 1", "", i == 1});
    return frame;
}

crash::CrashReport Report(bool withStack)
{
    crash::CrashReport report;
    report.program = "/opt/ulmora/ulmora";
    report.request.code = crash::kAccessViolation;
    report.request.access = static_cast<int>(crash::Access::Read);
    report.request.faultAddress = 0;
    report.request.state.registers[crash::kIp] = 0x401234;
    if (withStack) {
        report.frames.push_back(Frame(0x401234, "TMainForm::listClick()", 3));
        report.frames.push_back(Frame(0x405678, "main", 5));
    }
    return report;
}

class ReportWindow : public ::testing::Test {
protected:
    void Show(bool withStack, bool canIgnore)
    {
        window.Fill(Report(withStack), {"Exception C0000005 \"ACCESS_VIOLATION\"", "", "Stack details:"}, canIgnore);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
    TVCLExceptionInfoForm window;
};

TEST_F(ReportWindow, ShowsTheFaultAndTheStack)
{
    Show(true, true);
    EXPECT_EQ(window.windowTitle(), "Ошибка программы...");
    EXPECT_EQ(window.lblProgram->text(), "ulmora");
    EXPECT_EQ(window.lblType->text(), "C0000005 \"ACCESS_VIOLATION\"");
    EXPECT_EQ(window.lblAddress->text(), "0000000000401234");
    EXPECT_EQ(window.lblOperation->text(), "Чтение по адресу 0000000000000000");
    EXPECT_TRUE(window.pnlDeveloper->isVisible());
    EXPECT_FALSE(window.lblNoIgnore->isVisible());
    EXPECT_TRUE(window.btnEnd->isDefault());
    EXPECT_GE(window.width(), 525);
    EXPECT_GE(window.height(), 240);

    ASSERT_EQ(window.listStack->ItemsCount(), 2);
    EXPECT_EQ(window.listStack->Items()[0],
              "0000000000401234\tulmora\t.text\tTMainForm::listClick() + 00000010 (MainForm.cpp:42)");
    // The code and the stack words of the focused frame.
    EXPECT_EQ(window.listStack->ItemIndex(), 0);
    EXPECT_EQ(window.listCode->ItemsCount(), 3);
    EXPECT_TRUE(window.listCode->Items()[1].startsWith("0000000000401234 >\tmov     eax, 1"));
    ASSERT_EQ(window.listData->ItemsCount(), 10);
    EXPECT_EQ(window.listData->Items()[0],
              "0\t0000000000001000\t41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50 \tABCDEFGHIJKLMNOP");
    EXPECT_EQ(window.listData->Items()[1], "1\t0000000000001001\t\t");

    window.listStack->SetItemIndex(1);
    EXPECT_EQ(window.listCode->ItemsCount(), 5);
}

TEST_F(ReportWindow, WithoutAStackShowsOnlyTheTopAtAFixedSize)
{
    Show(false, true);
    EXPECT_FALSE(window.pnlDeveloper->isVisible());
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    EXPECT_GE(window.width(), 525);
}

TEST_F(ReportWindow, ButtonsAndKeysGiveTheAnswer)
{
    struct Case {
        const char* name;
        bool canIgnore;
        std::function<void(TVCLExceptionInfoForm&)> act;
        TVCLExceptionInfoForm::Choice answer;
        bool closes;
    };
    using Choice = TVCLExceptionInfoForm::Choice;
    auto escape = [](TVCLExceptionInfoForm& w) { QTest::keyClick(&w, Qt::Key_Escape); };
    const Case cases[] = {
        {"ignore button", true, [](TVCLExceptionInfoForm& w) { w.btnIgnore->click(); }, Choice::Ignore, true},
        {"escape", true, escape, Choice::Ignore, true},
        {"end", true, [](TVCLExceptionInfoForm& w) { w.btnEnd->click(); }, Choice::End, true},
        // The close box is one of the two answers, never "no answer".
        {"close box", true, [](TVCLExceptionInfoForm& w) { w.close(); }, Choice::Ignore, true},
        {"close box, not ignorable", false, [](TVCLExceptionInfoForm& w) { w.close(); }, Choice::End, true},
        {"escape, not ignorable", false, escape, Choice::LeaveUnhandled, false},
        {"end, not ignorable", false, [](TVCLExceptionInfoForm& w) { w.btnEnd->click(); }, Choice::End, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Show(true, c.canIgnore);
        EXPECT_EQ(window.btnIgnore->isEnabled(), c.canIgnore);
        EXPECT_EQ(window.lblNoIgnore->isVisible(), !c.canIgnore);
        c.act(window);
        EXPECT_EQ(window.Answer(), c.answer);
        EXPECT_EQ(window.isVisible(), !c.closes);
        window.hide();
    }
}

TEST_F(ReportWindow, SaveWritesTheReportTextWhereTheUserSays)
{
    TempFolder folder;
    const std::string path = folder.File("crash.trap");
    QString offeredFolder;
    window.ChooseSaveFile = [&](QWidget*, const QString& start) {
        offeredFolder = start;
        return QString::fromStdString(path);
    };
    Show(true, true);
    window.btnSave->click();
    EXPECT_EQ(offeredFolder, "/opt/ulmora");
    EXPECT_EQ(ReadWholeFile(path), "Exception C0000005 \"ACCESS_VIOLATION\"\n\nStack details:\n");
    EXPECT_TRUE(window.isVisible()); // saving answers nothing

    // A cancelled dialog writes nothing.
    std::filesystem::remove(path);
    window.ChooseSaveFile = [](QWidget*, const QString&) { return QString(); };
    window.btnSave->click();
    EXPECT_FALSE(std::filesystem::exists(path));
}

} // namespace
