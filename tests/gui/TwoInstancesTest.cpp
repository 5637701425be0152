// The real editor, started twice: the second start hands its command line
// to the first and leaves.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <string>

#include "foundation/FileUtil.h"
#include "foundation/Paths.h"
#include "foundation/SettingsStore.h"
#include "shell/RecentFileList.h"
#include "shell/SingleInstance.h"
#include "support/Bytes.h"
#include "support/TestEnvironment.h"

namespace sonitor {
namespace {

#ifdef SONITOR_EDITOR

template <class Condition>
bool WaitFor(Condition condition, int ms = 60000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > ms) return false;
        QThread::msleep(50);
    }
    return true;
}

class TwoInstancesTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(WriteFileAtomically(file_, test::PcmWav(8000, 1, 16, test::Pcm16({1, 2, 3, 4}))));
    }
    // Whatever happened, no editor is left running.
    void TearDown() override {
        if (instance_.SendMessage(SingleInstance::kCloseMessage, {}, 5000) >= 0)
            WaitFor([this] { return Gone(); });
        if (first_.state() != QProcess::NotRunning) first_.kill();
        first_.waitForFinished();
    }
    // Starts the editor in the file's folder with a relative name, as a
    // desktop would not but a terminal does.
    static int RunSecond(const QStringList& arguments, const std::string& folder) {
        QProcess second;
        second.setProcessChannelMode(QProcess::ForwardedChannels);
        second.setWorkingDirectory(QString::fromStdString(folder));
        second.start(SONITOR_EDITOR, arguments);
        return second.waitForFinished(60000) && second.exitStatus() == QProcess::NormalExit
                   ? second.exitCode()
                   : -1;
    }
    // The document was open: closing let it go into the recent-file list.
    bool WasOpened() const {
        for (const RecentFileList::Entry& entry : RecentFileList(Settings()).Entries())
            if (entry.path == file_) return true;
        return false;
    }
    bool Gone() { return !FileExists(instance_.SocketPath().toStdString()); }

    std::string folder_ = test::MakeTempFolder("files");
    std::string file_ = JoinPath(folder_, "file.wav");
    SingleInstance instance_;
    QProcess first_;
};

TEST_F(TwoInstancesTest, ASecondStartHandsOverAndTheFirstOpensTheFileAndExits) {
    first_.setProcessChannelMode(QProcess::ForwardedChannels);
    first_.start(SONITOR_EDITOR, {});
    // Nobody answers (-1) until the editor listens; then a record of the
    // wrong size is refused.
    int answer = -1;
    ASSERT_TRUE(WaitFor([&] {
        answer = instance_.SendMessage(SingleInstance::kHandoffMessage, QByteArray(33283, '\0'));
        return answer >= 0;
    }));
    EXPECT_EQ(answer, 0);
    EXPECT_EQ(first_.state(), QProcess::Running);

    EXPECT_EQ(RunSecond({"file.wav", "-exit"}, folder_), 0);
    ASSERT_TRUE(first_.waitForFinished(60000));
    EXPECT_EQ(first_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first_.exitCode(), 0);
    EXPECT_TRUE(WasOpened());
    EXPECT_TRUE(Gone());
}

TEST_F(TwoInstancesTest, AFirstStartWithAFileRestartsItselfMarked) {
    EXPECT_EQ(RunSecond({"file.wav", "-exit"}, folder_), 0);
    // The restarted editor is not ours to wait for: it shows itself by the
    // file it lets go when "-exit" closes it.
    EXPECT_TRUE(WaitFor([this] { return WasOpened(); }));
    EXPECT_TRUE(WaitFor([this] { return Gone(); }));
}

#else

TEST(TwoInstancesTest, NeedsTheEditor) {
    GTEST_SKIP() << "the editor program is not built";
}

#endif

}  // namespace
}  // namespace sonitor
