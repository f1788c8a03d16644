#include "Startup.h"

#include "Application.h"
#include "ClassAuto.h"
#include "Fonts.h"
#include "Halvorn.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

#include <memory>

int runProgram(int argc, char** argv, const std::function<void()>& onIdle) {
    InitializeClassAuto();
    // The program takes no arguments, and the toolkit sees none of them either (-reverse,
    // -qwindowgeometry, -style ... would change the program). Only the program's own name goes
    // on: the application title comes from it.
    (void)argc;
    int toolkitArgc = 1;
    char* toolkitArgv[] = {argv[0], nullptr};
    Application app(toolkitArgc, toolkitArgv);
    installFontSubstitutions();

    auto mainWindow = std::make_unique<TFormHalvorn>();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = mainWindow->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        mainWindow->move(frame.topLeft());
    }
    setMainForm(mainWindow.get());
    mainWindow->show();
    if (onIdle)
        QTimer::singleShot(0, &app, onIdle);
    int result = app.exec();
    // The job windows go with the main window; their close handler does not run.
    mainWindow.reset();
    FinalizeClassAuto();
    return result;
}
