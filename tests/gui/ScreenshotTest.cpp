// A picture of the editor with two documents open, for the documentation
// and for a look by eye: saved as screenshots/main-window.png in the build
// folder. Runs offscreen, or under Xvfb with the xcb platform.
#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QTest>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include <gtest/gtest.h>

#include "audio_io/NullAudio.h"
#include "document/SoundDocument.h"
#include "edit/EditOperations.h"
#include "edit/EditorSession.h"
#include "foundation/FileUtil.h"
#include "foundation/SettingsStore.h"
#include "shell/DocumentWindow.h"
#include "shell/MainFrame.h"
#include "shell/WaveView.h"
#include "shell/WaveWindow.h"
#include "support/Bytes.h"
#include "support/ScriptedPrompt.h"
#include "support/TestEnvironment.h"

namespace sonitor {
namespace {

// A tone that swells and fades a few times, so that the picture shows a
// shape rather than a block.
std::string SwellingTone(int seconds, int channels) {
    constexpr int kRate = 22050;
    std::vector<int16_t> samples;
    for (int i = 0; i < seconds * kRate; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double swell = 0.5 - 0.5 * std::cos(2 * M_PI * 0.8 * t);
        for (int c = 0; c < channels; ++c) {
            const double tone = std::sin(2 * M_PI * (c == 0 ? 220.0 : 330.0) * t);
            samples.push_back(static_cast<int16_t>(std::lround(24000 * swell * tone)));
        }
    }
    return test::PcmWav(kRate, static_cast<uint16_t>(channels), 16, test::Pcm16(samples));
}

TEST(ScreenshotTest, MainWindowWithTwoDocuments) {
    const SettingsStore& settings = SettingsStore::Default();
    settings.WriteBool("Settings", "PlayWhenOpen", false);
    settings.WriteBool("MainWindow", "Maximized", false);
    const std::string folder = test::MakeTempFolder("screenshot");
    const std::string speech = folder + "/interview.wav";
    const std::string music = folder + "/theme.wav";
    ASSERT_TRUE(WriteFileAtomically(speech, SwellingTone(4, 1)));
    ASSERT_TRUE(WriteFileAtomically(music, SwellingTone(3, 2)));

    test::ScriptedPrompt prompt;
    MainFrame frame(settings, NullAudio(), ShellServices{&prompt, nullptr});
    frame.setWindowState(Qt::WindowNoState);
    frame.resize(1024, 700);
    frame.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
    frame.CommandLineProcessor({"sonitor", speech, music});
    ASSERT_EQ(frame.DocumentWindows().size(), 2u);
    SoundDocument& active = *frame.Session().Active();
    SelectFrames(active, active.Length() / 4, active.Length() / 2, frame);

    // Let the wave windows compute their columns and paint them.
    for (DocumentWindow* window : frame.DocumentWindows()) {
        for (WaveWindow* wave : {&window->View().Overview(), &window->View().Main()})
            EXPECT_TRUE(wave->Picture().WaitIdle(10000));
    }
    QTest::qWait(200);

    const QImage image = frame.grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(image.isNull());
    const std::string out = std::string(SONITOR_BINARY_DIR) + "/screenshots";
    std::filesystem::create_directories(out);
    ASSERT_TRUE(image.save(QString::fromStdString(out + "/main-window.png")));

    // Not blank: the waveform's green is there, among many other colours.
    int waveform = 0;
    QList<QRgb> seen;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (qRed(line[x]) == 102 && qGreen(line[x]) == 255 && qBlue(line[x]) == 102) ++waveform;
            if (seen.size() < 64 && !seen.contains(line[x])) seen.push_back(line[x]);
        }
    }
    EXPECT_GT(waveform, 1000);
    EXPECT_GE(seen.size(), 16);
    std::printf("screenshot: %s/main-window.png (%dx%d)\n", out.c_str(), image.width(), image.height());
}

}  // namespace
}  // namespace sonitor
