#pragma once
// The application object. Qt does not let exceptions cross its event loop, so every event is
// delivered inside one handler here: an exception that escapes an event handler goes to the
// exception report and the program goes on.

#include <QApplication>

class TApplication : public QApplication {
    Q_OBJECT

public:
    TApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};
