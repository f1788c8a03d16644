#include "Application.h"

#include "Form.h"

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {}

bool Application::notify(QObject* receiver, QEvent* event) {
    bool result = false;
    runGuarded([&] { result = QApplication::notify(receiver, event); });
    return result;
}
