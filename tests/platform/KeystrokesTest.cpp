// The Return keystroke: posted, not sent, to the modal window if there is one, else to the
// active window; nothing happens when no window is there.
#include "platform/Keystrokes.h"
#include "platform/Messages.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <QtTest/QTest>
#include <gtest/gtest.h>

using namespace lumenvale;

namespace {

struct DialogWithDefault {
    QDialog dialog;
    QPushButton* ok = new QPushButton(QStringLiteral("OK"), &dialog);
    int clicks = 0;

    explicit DialogWithDefault(QWidget* parent = nullptr) : dialog(parent) {
        ok->setDefault(true);
        QObject::connect(ok, &QPushButton::clicked, [this] { ++clicks; });
        QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
    }

    // Shows the dialog as the active window.
    bool showActive() {
        dialog.show();
        dialog.activateWindow();
        return QTest::qWaitForWindowActive(&dialog);
    }
};

} // namespace

TEST(KeystrokesTest, WithNoWindowNothingHappens) {
    QtKeystrokes keys;
    ASSERT_EQ(QApplication::activeModalWidget(), nullptr);
    keys.sendEnter();
    QCoreApplication::processEvents();
    SUCCEED();
}

TEST(KeystrokesTest, ReturnIsPostedToTheActiveWindowWithoutWaiting) {
    QtKeystrokes keys;
    DialogWithDefault d;
    ASSERT_TRUE(d.showActive());

    keys.sendEnter();
    EXPECT_EQ(d.clicks, 0) << "posted: handled only once events are";
    QCoreApplication::processEvents();
    EXPECT_EQ(d.clicks, 1);
}

TEST(KeystrokesTest, TheModalDialogGetsItRatherThanTheActiveWindow) {
    QtKeystrokes keys;
    DialogWithDefault main;
    ASSERT_TRUE(main.showActive());

    DialogWithDefault modal(&main.dialog);
    QTimer::singleShot(0, [&] { keys.sendEnter(); });
    QTimer::singleShot(5000, &modal.dialog, &QDialog::reject); // never hang
    EXPECT_EQ(modal.dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(modal.clicks, 1);
    EXPECT_EQ(main.clicks, 0);
}

TEST(MessagesTest, MessageBoxShowsTheTextUnderTheProgramsNameWithOneOk) {
    QtMessages messages;
    QString text;
    QString title;
    int buttons = 0;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        text = box->text();
        title = box->windowTitle();
        buttons = static_cast<int>(box->buttons().size());
        box->button(QMessageBox::Ok)->click();
    });
    messages.MsgBox(QStringLiteral("not initialised"));
    EXPECT_EQ(text, "not initialised");
    EXPECT_EQ(title, "Lumenvale");
    EXPECT_EQ(buttons, 1);
}
