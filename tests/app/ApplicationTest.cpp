// An exception escaping an event handler is shown and the program goes on.
#include "app/Application.h"

#include "ScriptedBoxes.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <stdexcept>

TEST(ApplicationTest, AThrowingHandlerIsShownAndTheLoopGoesOn)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char name[] = "application_test";
    char* argv[] = {name, nullptr};
    Application application(argc, argv);
    ScriptedBoxes boxes;
    bool later = false;
    QTimer::singleShot(0, [] { throw std::runtime_error("Disk full"); });
    QTimer::singleShot(10, [&] {
        later = true;
        QCoreApplication::quit();
    });
    EXPECT_EQ(application.exec(), 0);
    EXPECT_TRUE(later) << "the loop went on after the exception";
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "Disk full");
}
