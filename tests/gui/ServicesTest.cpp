// The Qt services the core runs through: the progress dialog as task host,
// message boxes, and the system clipboard.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <QtTest/QTest>
#include <functional>
#include <vector>

#include "document/CopySourceToSink.h"
#include "foundation/FileUtil.h"
#include "foundation/Folders.h"
#include "foundation/Paths.h"
#include "shell/ClipboardBridge.h"
#include "shell/ProgressDialog.h"
#include "shell/QtPrompt.h"
#include "support/Bytes.h"
#include "support/ClipSamples.h"
#include "support/MemorySources.h"
#include "support/TestEnvironment.h"

namespace sonitor {
namespace {

// Lets a test act at every block of a copy.
class WatchingSink final : public AudioSink {
public:
    WatchingSink(int channels, std::function<void(int)> onWrite)
        : AudioSink(44100, channels), onWrite_(std::move(onWrite)) {}
    int writes = 0;

protected:
    void WriteFrames(const int32_t*, int32_t) override { onWrite_(++writes); }
    void TruncateTo(int32_t) override {}

private:
    std::function<void(int)> onWrite_;
};

int32_t Copy(QtTaskHost& host, int32_t frames, const Ref<AudioSink>& sink, std::function<void()> after = {}) {
    FunctionTask task("Copy Title", [&](ProgressTask& t) {
        const int32_t result =
            CopySourceToSink(t, "Copying", MakeRef<test::ToneSource>(44100, 1, frames), sink);
        if (after) after();
        return result;
    });
    return RunTask(task, host);
}

class TaskHostTest : public testing::Test {
protected:
    void SetUp() override { owner_.show(); }
    QWidget owner_;
    QtTaskHost host_{&owner_};
};

TEST_F(TaskHostTest, TheBarLagsOneBlockAndTheOwnerIsDisabledMeanwhile) {
    std::vector<int> percents;
    bool ownerEverEnabled = false;
    auto sink = MakeRef<WatchingSink>(1, [&](int) {
        percents.push_back(host_.Dialog()->Percent());
        ownerEverEnabled = ownerEverEnabled || owner_.isEnabled();
    });
    QString caption;
    EXPECT_EQ(Copy(host_, 16384, sink,
                   [&] {
                       percents.push_back(host_.Dialog()->Percent());
                       caption = host_.Dialog()->windowTitle();
                   }),
              kTaskDone);
    EXPECT_EQ(percents, (std::vector<int>{0, 0, 50}));
    EXPECT_EQ(caption, "Copy Title");
    EXPECT_FALSE(ownerEverEnabled);
    EXPECT_TRUE(owner_.isEnabled());
    EXPECT_EQ(host_.Dialog(), nullptr);
}

TEST_F(TaskHostTest, CancelEndsTheCopyAfterTheBlockInHandAndASecondTaskIsRefused) {
    QPointer<ProgressDialog> shown;
    bool goneAtOnce = false;
    int32_t secondResult = -1;
    auto sink = MakeRef<WatchingSink>(1, [&](int write) {
        if (write != 1) return;
        FunctionTask second("Second", [](ProgressTask&) { return int32_t{kTaskDone}; });
        secondResult = RunTask(second, host_);
        shown = host_.Dialog();
        for (QPushButton* button : shown->findChildren<QPushButton*>())
            if (button->property("ctrlId").toInt() == 2) QTest::mouseClick(button, Qt::LeftButton);
        goneAtOnce = host_.Dialog() == nullptr && !shown->isVisible();
    });
    EXPECT_EQ(Copy(host_, 5 * 8192, sink), kTaskCancelled);
    EXPECT_EQ(sink->writes, 1);
    EXPECT_EQ(secondResult, kTaskFailed);
    EXPECT_TRUE(goneAtOnce);
    EXPECT_TRUE(shown.isNull());
    EXPECT_TRUE(owner_.isEnabled());
    EXPECT_EQ(Copy(host_, 100, MakeRef<WatchingSink>(1, [](int) {})), kTaskDone);
}

// Checks the message box once it is up, then presses button.
void AnswerNextBox(std::function<void(QMessageBox&)> check, QMessageBox::StandardButton button) {
    QTimer::singleShot(0, [check = std::move(check), button] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        check(*box);
        box->button(button)->click();
    });
}

TEST_F(TaskHostTest, TaskErrorsAndQuestionsDuringATaskCanBeAnswered) {
    QtPrompt prompt(&owner_);
    PromptAnswer answer = PromptAnswer::Ok;
    FunctionTask task("Failing", [&](ProgressTask& t) {
        AnswerNextBox(
            [&](QMessageBox& box) {
                EXPECT_EQ(box.windowTitle(), "Error");
                EXPECT_EQ(box.icon(), QMessageBox::Warning);
                EXPECT_EQ(box.parentWidget(), host_.Dialog());
            },
            QMessageBox::Ok);
        ShowTaskError(t, "The disk is full.");
        // The owner is disabled now: a box it owned could not be answered.
        AnswerNextBox(
            [&](QMessageBox& box) {
                EXPECT_TRUE(prompt.Open());
                EXPECT_TRUE(box.isEnabled());
                EXPECT_EQ(box.icon(), QMessageBox::Question);
                EXPECT_EQ(box.standardButtons(), QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
            },
            QMessageBox::No);
        answer = prompt.Ask("Sonitor", "Save changes?", PromptIcon::Question, PromptButtons::YesNoCancel);
        return int32_t{kTaskDone};
    });
    EXPECT_EQ(RunTask(task, host_), kTaskDone);
    EXPECT_EQ(answer, PromptAnswer::No);
    EXPECT_FALSE(prompt.Open());
}

// The clipboard exchange, through the real (in-process) clipboard.
class ClipboardTest : public testing::Test {
protected:
    void TearDown() override { QGuiApplication::clipboard()->clear(); }
    static QByteArray Ask(const QString& type) {
        return QGuiApplication::clipboard()->mimeData()->data(type);
    }

    QtTaskHost host_{nullptr};
    bool busy_ = false;
};

TEST_F(ClipboardTest, CopyPromisesAndRendersOnlyWhenAsked) {
    std::vector<int32_t> samples;
    std::string pcm;
    for (int i = 0; i < 600; ++i) {
        samples.push_back((i - 300) * 16);
        pcm += test::Le16(static_cast<uint16_t>(i - 300));
    }
    AudioClip clip = test::ClipFromSamples(samples, 2, 22050);
    ClipboardBridge bridge(clip, host_, [this] { return busy_ || host_.Busy(); });

    bridge.Announce();
    bridge.Announce();
    EXPECT_EQ(bridge.RenderCount(), 0);
    EXPECT_EQ(QGuiApplication::clipboard()->mimeData()->formats(), (QStringList{"audio/wav", "audio/x-wav"}));

    // Busy: the asking program gets nothing, and may ask again later.
    busy_ = true;
    EXPECT_TRUE(Ask("audio/wav").isEmpty());
    busy_ = false;

    // What was copied, even when the program's clipboard changes afterwards
    // (Cut does not announce). The WAV writer's format record has its
    // (empty) extension size.
    ClipClear(clip);
    using test::Le16, test::Le32;
    const std::string body = "WAVEfmt " + Le32(18) + Le16(1) + Le16(2) + Le32(22050) + Le32(22050 * 4) +
                             Le16(4) + Le16(16) + Le16(0) + "data" + Le32(1200) + pcm;
    const std::string expected = "RIFF" + Le32(static_cast<uint32_t>(body.size())) + body;
    EXPECT_TRUE(Ask("audio/x-wav").toStdString() == expected);
    EXPECT_TRUE(Ask("audio/wav").toStdString() == expected);
    EXPECT_EQ(bridge.RenderCount(), 1);
    EXPECT_FALSE(FileExists(JoinPath(UserDataFolder(), "_clipboard.wav")));
}

TEST_F(ClipboardTest, TakeLoadsWavBytesOrAWavFileAtTheirOwnRate) {
    AudioClip unused;
    ClipboardBridge bridge(unused, host_, [this] { return host_.Busy(); });
    const std::string wav = test::PcmWav(8000, 1, 16, test::Pcm16({100, -200, 300}));
    const std::vector<int32_t> expected{1600, -3200, 4800};

    auto* data = new QMimeData;
    data->setData("audio/x-wav", QByteArray::fromStdString(wav));
    QGuiApplication::clipboard()->setMimeData(data);
    AudioClip clip = test::ClipFromSamples({1, 2, 3, 4}, 2);
    EXPECT_EQ(bridge.Take(clip), kTaskDone);
    EXPECT_EQ(clip.SampleRate(), 8000u);
    EXPECT_EQ(clip.Channels(), 1);
    EXPECT_EQ(test::ClipSamples(clip), expected);

    const std::string path = JoinPath(test::MakeTempFolder("copied"), "Copied.WAV");
    ASSERT_TRUE(WriteFileAtomically(path, wav));
    auto* file = new QMimeData;
    file->setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
    QGuiApplication::clipboard()->setMimeData(file);
    AudioClip fromFile;
    EXPECT_EQ(bridge.Take(fromFile), kTaskDone);
    EXPECT_EQ(test::ClipSamples(fromFile), expected);

    QGuiApplication::clipboard()->clear();
    EXPECT_EQ(bridge.Take(clip), kTaskDone);
    EXPECT_TRUE(clip.Empty());
}

}  // namespace
}  // namespace sonitor
