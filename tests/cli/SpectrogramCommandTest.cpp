// sonitor-cli spectrogram end to end: a tone made by sox, the picture
// decoded by ffmpeg, and the command's refusals.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/FileUtil.h"
#include "support/TestEnvironment.h"

namespace sonitor {
namespace {

struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> grey;  // one byte per pixel, rows from the top
};

uint32_t BigEndianAt(const std::string& bytes, size_t at) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i)
        v = v << 8 | static_cast<uint8_t>(bytes[at + i]);
    return v;
}

// The size from the IHDR chunk, the pixels as ffmpeg decodes them.
Picture Decode(const std::string& png) {
    Picture picture;
    const std::string bytes = ReadWholeFile(png).value_or("");
    if (bytes.size() < 24 || bytes.compare(12, 4, "IHDR") != 0) return picture;
    picture.width = static_cast<int32_t>(BigEndianAt(bytes, 16));
    picture.height = static_cast<int32_t>(BigEndianAt(bytes, 20));
    EXPECT_EQ(
        test::RunShell("ffmpeg -v error -i '" + png + "' -f rawvideo -pix_fmt gray -y '" + png + ".grey'"),
        0);
    const std::string grey = ReadWholeFile(png + ".grey").value_or("");
    picture.grey.assign(grey.begin(), grey.end());
    EXPECT_EQ(picture.grey.size(), static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height));
    return picture;
}

int RunSpectrogram(const std::string& args, std::string* err = nullptr) {
    const std::string folder = test::MakeTempFolder("spectrogram-run");
    const int status =
        test::RunShell("'" SONITOR_CLI "' spectrogram " + args + " >/dev/null 2>'" + folder + "/err.txt'");
    if (err) *err = ReadWholeFile(folder + "/err.txt").value_or("");
    return status;
}

}  // namespace

// A 2000 Hz tone lies on bin 93 of the 2048-point transform at 44100 Hz:
// row 1023 - 93 from the top, brightest in every column.
TEST(SpectrogramCommandTest, PictureOfAToneAndOfASelection) {
    if (test::RunShell("command -v sox >/dev/null && command -v ffmpeg >/dev/null") != 0)
        GTEST_SKIP() << "sox or ffmpeg missing";
    const std::string dir = test::MakeTempFolder("spectrogram");
    const std::string in = dir + "/tone.wav";
    ASSERT_EQ(test::RunShell("sox -R -n -r 44100 -c 2 -b 16 '" + in + "' synth 2 sine 2000 vol 0.1"), 0);

    ASSERT_EQ(RunSpectrogram("'" + in + "' '" + dir + "/whole.png'"), 0);
    const Picture whole = Decode(dir + "/whole.png");
    EXPECT_EQ(whole.width, 4 * 88200 / 1024);
    EXPECT_EQ(whole.height, 1024);
    for (const int32_t column : {0, whole.width / 2, whole.width - 10}) {
        int32_t brightest = 0;
        for (int32_t row = 0; row < whole.height; ++row) {
            if (whole.grey[static_cast<size_t>(row * whole.width + column)] >
                whole.grey[static_cast<size_t>(brightest * whole.width + column)])
                brightest = row;
        }
        EXPECT_EQ(brightest, 1023 - 93) << column;
    }

    ASSERT_EQ(
        RunSpectrogram("--selection 500:1500 --grid --brightness 3 '" + in + "' '" + dir + "/part.png'"), 0);
    const Picture part = Decode(dir + "/part.png");
    EXPECT_EQ(part.width, 4 * 44100 / 1024);
    EXPECT_EQ(part.height, 1024);
}

TEST(SpectrogramCommandTest, Refusals) {
    if (test::RunShell("command -v sox >/dev/null") != 0) GTEST_SKIP() << "sox missing";
    const std::string dir = test::MakeTempFolder("spectrogram-refusals");
    const std::string in = dir + "/short.wav";
    ASSERT_EQ(test::RunShell("sox -R -n -r 8000 -c 1 -b 16 '" + in + "' synth 0.5 sine 440"), 0);
    const std::string out = " '" + dir + "/out.png'";
    std::string err;
    EXPECT_EQ(RunSpectrogram("'" + in + "'"), 2);
    EXPECT_EQ(RunSpectrogram("--selection 900:100 '" + in + "'" + out), 2);
    EXPECT_EQ(RunSpectrogram("--brightness 0 '" + in + "'" + out), 2);
    EXPECT_EQ(RunSpectrogram("--frobnicate '" + in + "'" + out), 2);
    EXPECT_EQ(RunSpectrogram("'" + dir + "/missing.wav'" + out), 1);
    EXPECT_EQ(RunSpectrogram("--selection 600:900 '" + in + "'" + out, &err), 1);
    EXPECT_NE(err.find("beyond the end"), std::string::npos) << err;
    EXPECT_EQ(RunSpectrogram("'" + in + "' '" + dir + "/no/such/folder/out.png'", &err), 1);
    EXPECT_NE(err.find("cannot write"), std::string::npos) << err;
    EXPECT_FALSE(FileExists(dir + "/out.png"));
}

}  // namespace sonitor
