// Entry points of the test executables.
//
// Every test runs with its own empty configuration, state and home folders,
// so no test reads or writes the user's settings, logs or projects. Tests
// that need a display fail when it is missing under scripts/test-env or CI
// (KORVEL_TEST_ENV / CI set), and are skipped (exit 77) in a developer's
// plain run.
#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <QString>
#include <QTest>

class QFileDialog;

namespace korvel::test {

// Creates the private folders and points the environment at them. Call first in main.
void prepareEnvironment(const char* testName);
// The private folder of this test run (holds config/, state/, home/, work/).
QString runFolder();
// A fresh folder under work/ for one test case.
QString workFolder(const QString& name);
// True when a missing display or sound server must fail the test.
bool environmentRequired();
// Exits 77 (skip) or 1 (fail) when the X display is missing.
void requireDisplay();
// Reads what is written to standard error while `fn` runs.
QByteArray captureStderr(const std::function<void()>& fn);
// Answers an open file dialog with `path`, called again on every tick of a
// watcher timer. The dialog fills its own fields for a while after it opens,
// so the choice is made first and accepted only once the dialog reports it
// back on a later tick. Returns true when the dialog was accepted.
bool chooseInFileDialog(QFileDialog* dialog, const QString& path);

} // namespace korvel::test

#define KORVEL_TEST_MAIN(TestClass)                                                                         \
    int main(int argc, char** argv) {                                                                      \
        korvel::test::prepareEnvironment(#TestClass);                                                      \
        QCoreApplication app(argc, argv);                                                                  \
        TestClass tc;                                                                                      \
        return QTest::qExec(&tc, argc, argv);                                                              \
    }

#define KORVEL_GUI_TEST_MAIN(TestClass)                                                                     \
    int main(int argc, char** argv) {                                                                      \
        korvel::test::prepareEnvironment(#TestClass);                                                      \
        korvel::test::requireDisplay();                                                                    \
        QApplication app(argc, argv);                                                                      \
        TestClass tc;                                                                                      \
        return QTest::qExec(&tc, argc, argv);                                                              \
    }
