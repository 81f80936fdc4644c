// The progress and check dialogs: their layouts, the placement over the main window, the
// main-window lock, and the ways each dialog can (and cannot) be closed.

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QWindow>

#include <memory>
#include <utility>

#include "forms/check/check_form.h"
#include "forms/dialog_lock.h"
#include "forms/main/vorn_form.h"
#include "forms/progress/progress_form.h"
#include "tests/support/event_arrivals.h"

namespace {

// The main window, shown at known bounds, with its two dialogs.
struct Windows {
    explicit Windows(vorn::WindowBounds bounds = {380, 105, 588, 366}) {
        form = std::make_unique<TVornForm>();
        check = std::make_unique<TCheckForm>(form.get());
        progress = std::make_unique<TProgressForm>(form.get());
        form->AttachDialogs(check.get(), progress.get());
        // The commands are cut off from their handlers: the tests watch where keys go.
        for (QAction* action : form->findChildren<QAction*>()) {
            QObject::disconnect(action, &QAction::triggered, form.get(), nullptr);
        }
        form->SetBounds(bounds);
        form->show();
    }
    ~Windows() {
        check.reset();
        progress.reset();
        form.reset();
    }
    QAction* Action(const char* name) const { return form->findChild<QAction*>(name); }

    std::unique_ptr<TVornForm> form;
    std::unique_ptr<TCheckForm> check;
    std::unique_ptr<TProgressForm> progress;
};

QImage Render(QWidget* widget) {
    return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

} // namespace

class DialogsTest : public QObject {
    Q_OBJECT

private slots:
    void progressLayout();
    void checkLayout_data();
    void checkLayout();
    void fileNameLabelTakesAmpersandAsAccessKeyMarker();

    void placementFigures_data();
    void placementFigures();
    void bothDialogsCentreOverTheMainWindow();

    void eitherDialogsCloseUnlocksTheMainWindow();
    void theLockRefusesInputAndLeavesTheWidgetsAlone_data();
    void theLockRefusesInputAndLeavesTheWidgetsAlone();
    void checkDialogClosesByOkEnterEscAndCloseBox_data();
    void checkDialogClosesByOkEnterEscAndCloseBox();
    void checkDialogResetsItsCountersOnEveryShow();
    void progressDialogCannotBeClosedByTheUser();
    void closingAHiddenDialogStillUnlocksTheMainWindow();
};

void DialogsTest::progressLayout() {
    Windows windows;
    TProgressForm& dialog = *windows.progress;
    QCOMPARE(dialog.objectName(), QString("ProgressForm"));
    QCOMPARE(dialog.windowTitle(), QString());
    QCOMPARE(dialog.size(), QSize(336, 48));
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
    QVERIFY(!dialog.windowFlags().testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!dialog.windowFlags().testFlag(Qt::WindowSystemMenuHint));
    QVERIFY(!dialog.windowFlags().testFlag(Qt::WindowMinMaxButtonsHint));
    QCOMPARE(dialog.font().pixelSize(), 12);
    QVERIFY(dialog.parentWidget() == nullptr);

    QLabel* const label = dialog.FileNameLabel();
    QCOMPARE(label->objectName(), QString("FileNameLabel"));
    QCOMPARE(label->geometry(), QRect(8, 8, 320, 12));
    QCOMPARE(label->minimumSize(), label->maximumSize());
    QCOMPARE(label->text(), QString());
    QVERIFY(label->alignment().testFlag(Qt::AlignLeft));
    QVERIFY(!label->wordWrap());
    // Text longer than the label keeps the label's size.
    label->setText(QString(400, QChar('x')));
    QCOMPARE(label->geometry(), QRect(8, 8, 320, 12));

    QProgressBar* const bar = dialog.ProgressBar();
    QCOMPARE(bar->objectName(), QString("ProgressBar"));
    QCOMPARE(bar->geometry(), QRect(8, 24, 320, 16));
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 100);
    QCOMPARE(bar->value(), 0);
    QVERIFY(!bar->isTextVisible());
    QCOMPARE(bar->orientation(), Qt::Horizontal);
}

void DialogsTest::checkLayout_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry"); // width and height -1: sized to the text
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("rightAligned");
    QTest::newRow("Files") << "FilesLabel" << QRect(8, 8, -1, -1) << "Files" << false;
    QTest::newRow("Checked") << "CheckedLabel" << QRect(8, 24, -1, -1) << "Checked" << false;
    QTest::newRow("Normal") << "NormalLabel" << QRect(120, 8, -1, -1) << "Normal" << false;
    QTest::newRow("Error") << "ErrorLabel" << QRect(120, 24, -1, -1) << "Error" << false;
    QTest::newRow("Files number") << "FilesNumLabel" << QRect(56, 8, 41, 12) << "0" << true;
    QTest::newRow("Checked number") << "CheckedNumLabel" << QRect(56, 24, 41, 12) << "0" << true;
    QTest::newRow("Normal number") << "NormalNumLabel" << QRect(168, 8, 41, 12) << "0" << true;
    QTest::newRow("Error number") << "ErrorNumLabel" << QRect(168, 24, 41, 12) << "0" << true;
}

void DialogsTest::checkLayout() {
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    QFETCH(bool, rightAligned);
    Windows windows;
    TCheckForm& dialog = *windows.check;
    QCOMPARE(dialog.objectName(), QString("CheckForm"));
    QCOMPARE(dialog.windowTitle(), QString("Vorn check dialog"));
    QCOMPARE(dialog.size(), QSize(216, 72));
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
    QVERIFY(dialog.windowFlags().testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!dialog.windowFlags().testFlag(Qt::WindowMinMaxButtonsHint));
    QVERIFY(dialog.parentWidget() == nullptr);

    auto* const label = dialog.findChild<QLabel*>(name);
    QVERIFY(label != nullptr);
    QCOMPARE(label->text(), text);
    QCOMPARE(label->pos(), geometry.topLeft());
    if (geometry.width() >= 0) {
        QCOMPARE(label->size(), geometry.size());
    } else {
        // Auto-sized: the whole text fits.
        QVERIFY(label->width() >= label->fontMetrics().horizontalAdvance(text));
    }
    QCOMPARE(label->alignment().testFlag(Qt::AlignRight), rightAligned);

    QPushButton* const ok = dialog.OkButton();
    QCOMPARE(ok->objectName(), QString("OkButton"));
    QCOMPARE(ok->text(), QString("OK"));
    QCOMPARE(ok->geometry(), QRect(152, 48, 57, 22));
    QVERIFY(ok->isDefault());
    // The rules: a horizontal one across the top of the lower band, a vertical one between the
    // two columns.
    auto* const bevel2 = dialog.findChild<QFrame*>("Bevel2");
    auto* const bevel1 = dialog.findChild<QFrame*>("Bevel1");
    QCOMPARE(bevel2->frameShape(), QFrame::HLine);
    QCOMPARE(bevel2->geometry().top(), 40);
    QCOMPARE(bevel2->geometry().left(), 8);
    QCOMPARE(bevel2->width(), 201);
    QCOMPARE(bevel1->frameShape(), QFrame::VLine);
    QCOMPARE(bevel1->geometry().right(), 8 + 105 - 1);
    QCOMPARE(bevel1->geometry().top(), 8);
    QCOMPARE(bevel1->height(), 27);
}

void DialogsTest::fileNameLabelTakesAmpersandAsAccessKeyMarker() {
    Windows windows;
    QLabel* const label = windows.progress->FileNameLabel();
    // A label that shows its text literally, for comparison.
    QLabel literal;
    literal.setFont(label->font());
    literal.setTextFormat(Qt::PlainText);
    literal.setAlignment(label->alignment());
    literal.setFixedSize(label->size());

    const std::pair<const char*, const char*> cases[] = {
        {"a&&b.jpg", "a&b.jpg"}, // "&&" draws one "&"
        {"ab.jpg&", "ab.jpg"},   // a single "&" is not drawn
    };
    for (const auto& [text, shown] : cases) {
        label->setText(QString::fromUtf8(text));
        literal.setText(QString::fromUtf8(shown));
        QCOMPARE(Render(label), Render(&literal));
    }
    // And the literal label does show the marker, so the comparison can tell.
    literal.setText(QStringLiteral("ab.jpg&"));
    QVERIFY(Render(label) != Render(&literal));
}

void DialogsTest::placementFigures_data() {
    QTest::addColumn<vorn::WindowBounds>("main");
    QTest::addColumn<QPoint>("position");
    // A dialog of outer size 342 x 74.
    QTest::newRow("designed main window")
        << vorn::WindowBounds{380, 105, 588, 366} << QPoint(503, 251);
    QTest::newRow("odd width") << vorn::WindowBounds{380, 105, 589, 366} << QPoint(503, 251);
    QTest::newRow("negative left, no clamping")
        << vorn::WindowBounds{-101, 105, 300, 366} << QPoint(-101 + 150 - 171, 251);
    QTest::newRow("negative odd extent truncates towards zero")
        << vorn::WindowBounds{-500, -300, 101, 75} << QPoint(-500 + 50 - 171, -300 + 37 - 37);
}

void DialogsTest::placementFigures() {
    QFETCH(vorn::WindowBounds, main);
    QFETCH(QPoint, position);
    if ((main.left < 0 || main.top < 0) && QGuiApplication::platformName() == "offscreen") {
        QSKIP("the offscreen platform shifts windows placed at negative positions");
    }
    // A plain window stands in for the main window, so that any size can be had.
    QWidget mainForm;
    mainForm.show();
    QVERIFY(QTest::qWaitForWindowExposed(&mainForm));
    const QSize mainMargins = mainForm.frameGeometry().size() - mainForm.size();
    mainForm.move(main.left, main.top);
    mainForm.resize(QSize(main.width, main.height) - mainMargins);
    QTRY_COMPARE(OuterBounds(&mainForm), main);

    QDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QSize margins = dialog.frameGeometry().size() - dialog.size();
    dialog.setFixedSize(QSize(342, 74) - margins);
    QCOMPARE(dialog.frameGeometry().size(), QSize(342, 74));

    PlaceDialogAndLock(&dialog, &mainForm);
    QTRY_COMPARE(dialog.frameGeometry().topLeft(), position);
    QVERIFY(IsMainFormLocked(&mainForm));
    UnlockMainForm(&mainForm);
    QVERIFY(!IsMainFormLocked(&mainForm));
}

void DialogsTest::bothDialogsCentreOverTheMainWindow() {
    Windows windows({100, 80, 700, 500});
    QVERIFY(QTest::qWaitForWindowExposed(windows.form.get()));
    for (QDialog* dialog : {static_cast<QDialog*>(windows.progress.get()),
                            static_cast<QDialog*>(windows.check.get())}) {
        // Moved away first: the show must place it.
        dialog->move(0, 0);
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        const QRect frame = dialog->frameGeometry();
        const vorn::WindowPosition expected =
            vorn::CentredOver({100, 80, 700, 500}, frame.width(), frame.height());
        QCOMPARE(frame.topLeft(), QPoint(expected.left, expected.top));
        // The dialog belongs to the main window, and is not locked with it.
        QCOMPARE(dialog->windowHandle()->transientParent(), windows.form->windowHandle());
        QVERIFY(IsMainFormLocked(windows.form.get()));
        QVERIFY(dialog->isEnabled());
        dialog->close();
        QVERIFY(!IsMainFormLocked(windows.form.get()));
    }
}

void DialogsTest::eitherDialogsCloseUnlocksTheMainWindow() {
    Windows windows;
    QVERIFY(QTest::qWaitForWindowExposed(windows.form.get()));
    // Both shown, then either closed: the lock is one flag, not a count.
    for (const bool progressFirst : {true, false}) {
        windows.progress->show();
        windows.check->show();
        QVERIFY(IsMainFormLocked(windows.form.get()));
        QDialog* const first = progressFirst ? static_cast<QDialog*>(windows.progress.get())
                                             : static_cast<QDialog*>(windows.check.get());
        QDialog* const second = progressFirst ? static_cast<QDialog*>(windows.check.get())
                                              : static_cast<QDialog*>(windows.progress.get());
        first->close();
        QVERIFY(first->isHidden());
        QVERIFY(!IsMainFormLocked(windows.form.get()));
        QVERIFY(second->isVisible());
        second->close();
        QVERIFY(!IsMainFormLocked(windows.form.get()));
    }
    // With no window manager to do it, the main window is made active again.
    QTRY_COMPARE(QApplication::activeWindow(), windows.form.get());
}

void DialogsTest::theLockRefusesInputAndLeavesTheWidgetsAlone_data() {
    QTest::addColumn<QString>("input");
    QTest::newRow("click on the list") << "click";
    QTest::newRow("key to the list") << "key";
    QTest::newRow("key sent to the list widget itself") << "widget key";
    QTest::newRow("a command's shortcut") << "shortcut";
    QTest::newRow("a menu's access key") << "menu key";
    QTest::newRow("a drop on the list") << "drop";
}

void DialogsTest::theLockRefusesInputAndLeavesTheWidgetsAlone() {
    QFETCH(QString, input);
    Windows windows;
    QVERIFY(QTest::qWaitForWindowExposed(windows.form.get()));
    windows.form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(windows.form.get()));
    QTableView* const list = windows.form->FileListView();
    QWidget* const viewport = list->viewport();
    list->setFocus();
    QMenuBar* const bar = windows.form->menuBar();
    const QList<QMenu*> menus = bar->findChildren<QMenu*>();
    QVERIFY(!menus.isEmpty());
    // A menu the program itself disabled stays so through a lock and an unlock.
    QMenu* const disabled = menus.back();
    disabled->setEnabled(false);
    Arrivals barChanges({bar}, {QEvent::ActionChanged});
    QSignalSpy checkAll(windows.Action("MenuCheckAll"), &QAction::triggered);
    Arrivals arrivals({list, viewport},
                      {QEvent::MouseButtonPress, QEvent::KeyPress, QEvent::DragEnter});
    QWindow* const window = windows.form->windowHandle();
    QMimeData mime;
    mime.setData("text/uri-list", "file:///nowhere/a.jpg\r\n");
    // The input of the row, and how often it arrived.
    const auto give = [&]() -> int {
        const int before = arrivals.count + int(checkAll.count()) + (menus.front()->isVisible());
        if (input == "click") {
            QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier,
                              viewport->mapTo(windows.form.get(), QPoint(10, 10)));
        } else if (input == "key") {
            QTest::keyClick(window, Qt::Key_A);
        } else if (input == "widget key") {
            QTest::keyClick(list, Qt::Key_A);
        } else if (input == "shortcut") {
            QTest::keyClick(window, Qt::Key_Space);
        } else if (input == "menu key") {
            QTest::keyClick(window, Qt::Key_F, Qt::AltModifier);
        } else {
            QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton,
                                  Qt::NoModifier);
            QCoreApplication::sendEvent(viewport, &enter);
        }
        const int after = arrivals.count + int(checkAll.count()) + (menus.front()->isVisible());
        menus.front()->hide();
        return after - before;
    };

    for (QDialog* dialog : {static_cast<QDialog*>(windows.progress.get()),
                            static_cast<QDialog*>(windows.check.get())}) {
        dialog->show();
        QVERIFY(IsMainFormLocked(windows.form.get()));
        windows.form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(windows.form.get()));
        QCOMPARE(give(), 0);
        // The widgets keep their own state and look.
        QVERIFY(windows.form->isEnabled());
        QVERIFY(list->isEnabled());
        QVERIFY(bar->isEnabled());
        for (QMenu* menu : menus) {
            QCOMPARE(menu->isEnabled(), menu != disabled);
        }
        dialog->close();
        QVERIFY(!IsMainFormLocked(windows.form.get()));
        QVERIFY(QTest::qWaitForWindowActive(windows.form.get()));
        list->setFocus();
        QVERIFY(give() > 0);
        for (QMenu* menu : menus) {
            QCOMPARE(menu->isEnabled(), menu != disabled);
            QCOMPARE(menu->menuAction()->isEnabled(), menu != disabled);
        }
    }
    QCOMPARE(barChanges.count, 0);
}

void DialogsTest::checkDialogClosesByOkEnterEscAndCloseBox_data() {
    QTest::addColumn<QString>("way");
    QTest::newRow("OK") << "ok";
    QTest::newRow("Return") << "return";
    QTest::newRow("keypad Enter") << "enter";
    QTest::newRow("Esc") << "esc";
    QTest::newRow("close box") << "close";
}

void DialogsTest::checkDialogClosesByOkEnterEscAndCloseBox() {
    QFETCH(QString, way);
    Windows windows;
    QVERIFY(QTest::qWaitForWindowExposed(windows.form.get()));
    QSignalSpy exits(windows.Action("MenuExit"), &QAction::triggered);
    QSignalSpy opens(windows.Action("MenuOpenItem"), &QAction::triggered);
    TCheckForm& dialog = *windows.check;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    QVERIFY(IsMainFormLocked(windows.form.get()));

    if (way == "ok") {
        QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    } else if (way == "return") {
        QTest::keyClick(&dialog, Qt::Key_Return);
    } else if (way == "enter") {
        QTest::keyClick(&dialog, Qt::Key_Enter, Qt::KeypadModifier);
    } else if (way == "esc") {
        QTest::keyClick(&dialog, Qt::Key_Escape);
    } else {
        // What the window system sends for the close box.
        dialog.windowHandle()->close();
    }
    QTRY_VERIFY(dialog.isHidden());
    QVERIFY(!IsMainFormLocked(windows.form.get()));
    QVERIFY(windows.form->isVisible());
    // The keys went to the dialog, never to the main window's Exit and Open.
    QCOMPARE(exits.count(), 0);
    QCOMPARE(opens.count(), 0);
}

void DialogsTest::checkDialogResetsItsCountersOnEveryShow() {
    Windows windows;
    TCheckForm& dialog = *windows.check;
    for (int run = 0; run < 2; ++run) {
        dialog.FilesNumLabel()->setText("3");
        dialog.CheckedNumLabel()->setText("3");
        dialog.NormalNumLabel()->setText("1");
        dialog.ErrorNumLabel()->setText("2");
        dialog.show();
        QCOMPARE(dialog.FilesNumLabel()->text(), QString("3"));
        QCOMPARE(dialog.CheckedNumLabel()->text(), QString("0"));
        QCOMPARE(dialog.NormalNumLabel()->text(), QString("0"));
        QCOMPARE(dialog.ErrorNumLabel()->text(), QString("0"));
        // Shown again while visible: nothing is reset and the lock is not taken again.
        dialog.CheckedNumLabel()->setText("1");
        UnlockMainForm(windows.form.get());
        dialog.show();
        QCOMPARE(dialog.CheckedNumLabel()->text(), QString("1"));
        QVERIFY(!IsMainFormLocked(windows.form.get()));
        dialog.close();
    }
}

void DialogsTest::progressDialogCannotBeClosedByTheUser() {
    Windows windows;
    QVERIFY(QTest::qWaitForWindowExposed(windows.form.get()));
    QSignalSpy exits(windows.Action("MenuExit"), &QAction::triggered);
    TProgressForm& dialog = *windows.progress;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QTest::keyClick(&dialog, Qt::Key_Return);
    QVERIFY(dialog.isVisible());
    QVERIFY(IsMainFormLocked(windows.form.get()));
    QCOMPARE(exits.count(), 0);
    // The run that showed it closes it.
    dialog.close();
    QVERIFY(dialog.isHidden());
    QVERIFY(!IsMainFormLocked(windows.form.get()));
}

void DialogsTest::closingAHiddenDialogStillUnlocksTheMainWindow() {
    Windows windows;
    for (QDialog* dialog : {static_cast<QDialog*>(windows.progress.get()),
                            static_cast<QDialog*>(windows.check.get())}) {
        // Never shown, and shown then closed (once or twice): the close reaches the handler.
        for (int round = 0; round < 3; ++round) {
            LockMainForm(windows.form.get());
            QVERIFY(dialog->isHidden());
            dialog->close();
            QVERIFY(!IsMainFormLocked(windows.form.get()));
            if (round == 0) {
                dialog->show();
                dialog->close();
            }
        }
    }
}

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
