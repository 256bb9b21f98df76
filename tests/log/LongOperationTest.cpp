// The progress window and the period throttle.
#include "log/LongOperationForm.h"

#include "log/Errors.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

uint32_t fakeNow = 0;
uint32_t FakeClock() { return fakeNow; }

TEST(PRPeriodTest, AnswersTrueOncePerPeriod)
{
    fakeNow = 1000;
    PRPeriod period(400, &FakeClock);
    fakeNow = 1399;
    EXPECT_FALSE(period.Elapsed());
    fakeNow = 1400;
    EXPECT_TRUE(period.Elapsed());
    fakeNow = 1799;
    EXPECT_FALSE(period.Elapsed()) << "399 ms after the last true answer";
    fakeNow = 900000;
    EXPECT_TRUE(period.Elapsed()) << "however long ago the last true answer was";
    EXPECT_EQ(period.LastElapsed(), 900000u - 1400u);
    EXPECT_FALSE(period.Elapsed());
}

TEST(PRPeriodTest, SurvivesTheClockWrapping)
{
    fakeNow = 0xFFFFFF00u;
    PRPeriod period(400, &FakeClock);
    fakeNow = 0x00000010u; // 272 ms later
    EXPECT_FALSE(period.Elapsed());
    fakeNow = 0x00000090u; // 400 ms later
    EXPECT_TRUE(period.Elapsed());
}

class LongOperationTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(LongOperationForm::Instance(), nullptr) << "a window was left"; }
};

TEST_F(LongOperationTest, AnOperationWithoutTextNeverShowsAWindow)
{
    QtOperation operation;
    operation.SetAbortable(true);
    ASSERT_NE(LongOperationForm::Instance(), nullptr);
    EXPECT_FALSE(operation.IsAborted());
    EXPECT_FALSE(LongOperationForm::Instance()->isVisible());
    operation.SetText(nullptr);
}

TEST_F(LongOperationTest, TextShowsAndEmptyTextHidesWithoutDestroying)
{
    QtOperation operation;
    operation.SetAbortable(true);
    operation.SetText("Found %d plates", 7);
    LongOperationForm* window = LongOperationForm::Instance();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->txtText->text(), "Found 7 plates");
    EXPECT_EQ(window->windowTitle(), QString::fromUtf8("Выполняется операция..."));
    EXPECT_EQ(window->btnAbort->text(), QString::fromUtf8("Прервать"));
    operation.SetText("%s", "");
    EXPECT_EQ(LongOperationForm::Instance(), window);
    EXPECT_FALSE(window->isVisible());
    operation.SetText(nullptr);
}

TEST_F(LongOperationTest, OnePressIsReportedOnce)
{
    QtOperation operation;
    operation.SetAbortable(true);
    operation.SetText("working");
    LongOperationForm* window = LongOperationForm::Instance();
    QTest::mouseClick(window->btnAbort, Qt::LeftButton);
    EXPECT_TRUE(operation.IsAborted());
    EXPECT_FALSE(operation.IsAborted());

    QTest::mouseClick(window->btnAbort, Qt::LeftButton);
    operation.SetAbortable(true);
    EXPECT_FALSE(operation.IsAborted()) << "SetAbortable forgets a pending press";
    operation.SetText(nullptr);
}

TEST_F(LongOperationTest, TheButtonSitsBelowTheTextAndMoreLinesMakeItTaller)
{
    QtOperation operation;
    operation.SetAbortable(true);
    operation.SetText("one line");
    LongOperationForm* window = LongOperationForm::Instance();
    const int oneLine = window->height();
    EXPECT_EQ(window->btnAbort->y(), 2 + window->txtText->height() + 2);
    EXPECT_EQ(window->height(), window->btnAbort->y() + 25 + 2 + 2);
    EXPECT_EQ(window->width(), 444);

    operation.SetText("1\n2\n3\n4\n5");
    EXPECT_GT(window->height(), oneLine);
    EXPECT_EQ(window->btnAbort->y(), 2 + window->txtText->height() + 2);

    operation.SetAbortable(false);
    EXPECT_FALSE(window->btnAbort->isVisibleTo(window));
    EXPECT_EQ(window->height(), 2 + window->txtText->height() + 2 + 2);
    operation.SetText(nullptr);
}

TEST_F(LongOperationTest, ReportingKeepsTheLastError)
{
    QtOperation operation;
    SetErrorText("storage said no");
    operation.SetAbortable(true);
    operation.SetText("text");
    operation.IsAborted();
    EXPECT_EQ(CurrentError(), ErrCustomText);
    operation.SetText(nullptr);
    EXPECT_EQ(CurrentError(), ErrCustomText);
}

TEST_F(LongOperationTest, DestroyingTheOperationReleasesAWindowLeftOpen)
{
    auto operation = std::make_unique<QtOperation>();
    operation->SetText("left open");
    ASSERT_NE(LongOperationForm::Instance(), nullptr);
    // A second reporter made while the window exists holds a reference of its own.
    auto second = std::make_unique<QtOperation>();
    operation.reset();
    EXPECT_NE(LongOperationForm::Instance(), nullptr);
    second.reset();
}

} // namespace
