#pragma once
// The application object: a QApplication that shows an exception escaping an
// event handler instead of letting it end the program.

#include <QApplication>

class Application : public QApplication {
public:
    Application(int& argc, char** argv) : QApplication(argc, argv) {}
    bool notify(QObject* receiver, QEvent* event) override;
};

// The display of an exception: an error box with its text.
void ShowException(const char* what);
