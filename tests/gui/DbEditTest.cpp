// The decibel slider: what it shows, how it reads typed text, clamping, the
// slider drag and which user actions notify the parent.
#include <QApplication>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include "shell/DbEdit.h"

namespace sonitor {
namespace {

TEST(DbEdit, DisplayAndTypedTextReading) {
    EXPECT_EQ(DbEdit::DisplayText(-127), "--dB");
    EXPECT_EQ(DbEdit::DisplayText(-200), "--dB");
    EXPECT_EQ(DbEdit::DisplayText(-126), "-126dB");
    EXPECT_EQ(DbEdit::DisplayText(0), "0dB");
    EXPECT_EQ(DbEdit::DisplayText(12), "12dB");

    EXPECT_EQ(DbEdit::ParseTypedText("12abc"), 12);
    EXPECT_EQ(DbEdit::ParseTypedText("1x2dB"), 12);
    EXPECT_EQ(DbEdit::ParseTypedText("--"), -127);
    EXPECT_EQ(DbEdit::ParseTypedText("--dB"), -127);
    EXPECT_EQ(DbEdit::ParseTypedText("-6dB"), -6);
    EXPECT_EQ(DbEdit::ParseTypedText("6-"), -6);  // the sign may come anywhere
    EXPECT_EQ(DbEdit::ParseTypedText("200"), 127);
    EXPECT_EQ(DbEdit::ParseTypedText("-99999999999999999999"), -127);
    EXPECT_EQ(DbEdit::ParseTypedText("dB"), 0);
}

TEST(DbEdit, SetValueClampsMaximumFirstAndShowsTheValue) {
    DbEdit edit;
    QSignalSpy changed(&edit, &DbEdit::EditChanged);
    edit.SetRange(-60, 0);
    edit.SetValue(12);
    EXPECT_EQ(edit.Value(), 0);
    EXPECT_EQ(edit.TextBox()->text(), "0dB");
    edit.SetValue(-127);
    EXPECT_EQ(edit.Value(), -60);
    EXPECT_EQ(edit.TextBox()->text(), "-60dB");

    // An inverted range: the maximum test comes first, so the minimum wins.
    edit.SetRange(10, -10);
    edit.SetValue(50);
    EXPECT_EQ(edit.Value(), 10);
    edit.SetRange(-127, 127);
    edit.SetValue(-127);
    EXPECT_EQ(edit.TextBox()->text(), "--dB");
    EXPECT_EQ(changed.count(), 0) << "changes made by code are not the user's";
}

TEST(DbEdit, TypingNotifiesOnlyWhenTheValueChanges) {
    DbEdit edit;
    edit.SetRange(-60, 20);
    edit.SetValue(-6);
    QSignalSpy changed(&edit, &DbEdit::EditChanged);
    QLineEdit* box = edit.TextBox();

    box->selectAll();
    QTest::keyClicks(box, "12abc");
    EXPECT_EQ(edit.Value(), 12);
    ASSERT_EQ(changed.count(), 2);  // "1", then "12"; the letters change nothing
    EXPECT_EQ(changed.at(1).at(0).toInt(), 12);

    changed.clear();
    box->selectAll();
    QTest::keyClicks(box, "200");
    EXPECT_EQ(edit.Value(), 20) << "127 clamped to the range";
    changed.clear();
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_EQ(box->text(), "20dB") << "once typing is done the box shows the value taken";
    EXPECT_EQ(changed.count(), 0);

    // Text that still reads as the value set says nothing.
    QTest::keyClick(box, Qt::Key_End);
    QTest::keyClicks(box, " x");
    QTest::keyClick(box, Qt::Key_Backspace);
    EXPECT_EQ(box->text(), "20dB ");
    EXPECT_EQ(changed.count(), 0);
    box->setText("");
    box->selectAll();
    changed.clear();
    QTest::keyClicks(box, "--");
    EXPECT_EQ(edit.Value(), -60) << "-127 clamped to the range";
}

TEST(DbEdit, DraggingCoversTheRangeFromEndToEnd) {
    DbEdit edit;
    edit.resize(300, 24);
    edit.SetRange(-40, 10);
    edit.SetValue(0);
    QSignalSpy changed(&edit, &DbEdit::EditChanged);
    const int box = edit.TextBoxWidth();
    EXPECT_EQ(box, edit.TextBox()->fontMetrics().horizontalAdvance("-00dB") + 2);
    EXPECT_EQ(edit.TextBox()->width(), box);
    const int track = edit.TrackWidth();
    ASSERT_EQ(track, 300 - box);

    QTest::mousePress(&edit, Qt::LeftButton, {}, QPoint(box + track / 2, 12));
    EXPECT_EQ(edit.Value(), -40 + 50 * (track / 2) / track);
    EXPECT_EQ(edit.cursor().shape(), Qt::PointingHandCursor);
    // While captured, positions beyond either end count as the end.
    QTest::mouseMove(&edit, QPoint(-30, 12));
    EXPECT_EQ(edit.Value(), -40);
    EXPECT_EQ(edit.TextBox()->text(), "-40dB");
    QTest::mouseMove(&edit, QPoint(500, 12));
    EXPECT_EQ(edit.Value(), 10);
    QTest::mouseRelease(&edit, Qt::LeftButton, {}, QPoint(500, 12));
    EXPECT_EQ(edit.Value(), 10);
    EXPECT_GE(changed.count(), 3);
    EXPECT_EQ(changed.last().at(0).toInt(), 10);

    // Released: moving no longer changes anything.
    changed.clear();
    QTest::mouseMove(&edit, QPoint(box + 5, 12));
    EXPECT_EQ(edit.Value(), 10);
    EXPECT_EQ(changed.count(), 0);

    // Without a text box the track is the whole width.
    DbEdit bare(nullptr, false);
    bare.resize(200, 20);
    EXPECT_EQ(bare.TextBox(), nullptr);
    EXPECT_EQ(bare.TrackWidth(), 200);
    QTest::mousePress(&bare, Qt::LeftButton, {}, QPoint(0, 10));
    EXPECT_EQ(bare.Value(), -127);
    QTest::mouseRelease(&bare, Qt::LeftButton, {}, QPoint(0, 10));
    QTest::keyClick(&bare, Qt::Key_End);
    EXPECT_EQ(bare.Value(), 127);
}

TEST(DbEdit, EnablingAndFocusReachTheTextBox) {
    QWidget window;
    auto* edit = new DbEdit(&window);
    edit->SetValue(-3);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    edit->setEnabled(false);
    EXPECT_FALSE(edit->TextBox()->isEnabled());
    edit->setEnabled(true);
    EXPECT_TRUE(edit->TextBox()->isEnabled());

    window.activateWindow();
    edit->setFocus();
    QApplication::processEvents();
    EXPECT_TRUE(edit->TextBox()->hasFocus());
    EXPECT_EQ(edit->TextBox()->selectedText(), "-3dB");
}

}  // namespace
}  // namespace sonitor
