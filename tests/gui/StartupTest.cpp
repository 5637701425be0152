// The start-up services without the editor: the hand-over record, the list
// file, and two SingleInstance objects talking over one socket.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <cstring>
#include <string>
#include <vector>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "foundation/FileUtil.h"
#include "foundation/Paths.h"
#include "shell/HandoffRecord.h"
#include "shell/SingleInstance.h"
#include "support/TestEnvironment.h"

namespace sonitor {
namespace {

using Arguments = std::vector<std::string>;

std::string Slot(const std::vector<uint8_t>& record, size_t index) {
    const auto* begin = record.data() + 4 + index * kHandoffSlotBytes;
    return std::string(begin, begin + kHandoffSlotBytes);
}

std::optional<Arguments> DecodeWithCount(std::vector<uint8_t> record, uint32_t count) {
    for (int i = 0; i < 4; ++i)
        record[static_cast<size_t>(i)] = static_cast<uint8_t>(count >> (8 * i));
    return DecodeHandoffRecord(record.data(), record.size());
}

TEST(HandoffRecordTest, LayoutLimitsAndWrongSizes) {
    const auto record = EncodeHandoffRecord({"/usr/bin/sonitor", "song.wav", std::string(300, 'x')});
    ASSERT_EQ(record.size(), 33284u);
    EXPECT_EQ(std::vector<uint8_t>(record.begin(), record.begin() + 4), (std::vector<uint8_t>{3, 0, 0, 0}));
    EXPECT_EQ(Slot(record, 0), "/usr/bin/sonitor" + std::string(260 - 16, '\0'));
    EXPECT_EQ(Slot(record, 2), std::string(259, 'x') + '\0');
    for (size_t i = 3; i < 128; ++i)
        ASSERT_EQ(Slot(record, i), std::string(260, '\0')) << i;
    EXPECT_EQ(DecodeHandoffRecord(record.data(), record.size()),
              (Arguments{"/usr/bin/sonitor", "song.wav", std::string(259, 'x')}));

    Arguments many;
    for (int i = 0; i < 130; ++i)
        many.push_back("arg" + std::to_string(i));
    const auto full = EncodeHandoffRecord(many);
    EXPECT_EQ(full[0], 128);
    EXPECT_EQ(DecodeHandoffRecord(full.data(), full.size())->back(), "arg127");
    // Records from elsewhere: a count past the slots, a negative count, a
    // slot without its terminator, and sizes off by one.
    EXPECT_EQ(DecodeWithCount(full, 500)->size(), 128u);
    EXPECT_TRUE(DecodeWithCount(full, 0xFFFFFFFF)->empty());
    auto unterminated = record;
    std::memset(unterminated.data() + 4, 'y', kHandoffSlotBytes);
    EXPECT_EQ(DecodeWithCount(unterminated, 1)->front(), std::string(259, 'y'));
    EXPECT_FALSE(DecodeHandoffRecord(record.data(), record.size() - 1));
    auto longer = record;
    longer.push_back(0);
    EXPECT_FALSE(DecodeHandoffRecord(longer.data(), longer.size()));
}

TEST(HandoffRecordTest, RelativeFilesBecomeAbsoluteButNumbersAndSwitchesStay) {
    EXPECT_EQ(AbsoluteFileArguments({"sonitor", "a.wav", "-window", "800", "600", "-SAVEAS", "o/b.mp3",
                                     "-list", "-x", "/abs.wav", "-batch", "", "-window", "5"},
                                    "/h"),
              (Arguments{"sonitor", "/h/a.wav", "-window", "800", "600", "-SAVEAS", "/h/o/b.mp3", "-list",
                         "-x", "/abs.wav", "-batch", "", "-window", "5"}));
}

TEST(ListFileTest, EveryLineEndingAndTheLimits) {
    const std::string folder = test::MakeTempFolder("list");
    const std::string path = JoinPath(folder, "files.txt");
    ASSERT_TRUE(WriteFileAtomically(
        path, "one\r\ntwo\n\rthree\r\rfour\n\nfive\r" + std::string(300, 'L') + "\nlast.wav"));
    EXPECT_EQ(ReadListFile(path),
              (Arguments{"one", "two", "three", "four", "five", std::string(259, 'L'), "last.wav"}));
    EXPECT_FALSE(ReadListFile(JoinPath(folder, "missing.txt")));
}

// Two objects in one thread stand for the running editor and a second start.
class SingleInstanceTest : public testing::Test {
protected:
    std::string folder_ = test::MakeTempFolder("run");
    SingleInstance running_{QString::fromStdString(folder_)};
    SingleInstance second_{QString::fromStdString(folder_)};
};

TEST_F(SingleInstanceTest, HandOverDeliversTheArgumentsAndRefusesWrongMessages) {
    EXPECT_FALSE(second_.HandOver({"sonitor", "a.wav"}, 2000));
    ASSERT_TRUE(running_.Listen());
    QSignalSpy received(&running_, &SingleInstance::ArgumentsReceived);
    QSignalSpy closes(&running_, &SingleInstance::CloseRequested);

    const auto record = EncodeHandoffRecord({"sonitor", "a.wav"});
    const QByteArray bytes(reinterpret_cast<const char*>(record.data()),
                           static_cast<qsizetype>(record.size()));
    EXPECT_EQ(second_.SendMessage(SingleInstance::kHandoffMessage, bytes.left(bytes.size() - 1)), 0);
    EXPECT_EQ(second_.SendMessage(SingleInstance::kHandoffMessage, bytes + '\0'), 0);
    // Far more than any message may hold: refused before it is read.
    EXPECT_EQ(second_.SendMessage(SingleInstance::kHandoffMessage, QByteArray(1 << 20, 'x')), 0);
    EXPECT_EQ(second_.SendMessage(7, bytes), 0);
    EXPECT_EQ(received.count() + closes.count(), 0);

    ASSERT_TRUE(second_.HandOver({"/usr/bin/sonitor", "/tmp/a b.wav", "-exit", std::string(400, 'z')}));
    ASSERT_EQ(received.count(), 1);
    EXPECT_EQ(received.at(0).at(0).value<Arguments>(),
              (Arguments{"/usr/bin/sonitor", "/tmp/a b.wav", "-exit", std::string(259, 'z')}));
    EXPECT_EQ(second_.SendMessage(SingleInstance::kCloseMessage, {}), 1);
    EXPECT_EQ(closes.count(), 1);
}

TEST_F(SingleInstanceTest, ALiveSocketIsKeptAndADeadOneReplaced) {
    ASSERT_TRUE(running_.Listen());
    EXPECT_FALSE(second_.Listen());
    EXPECT_TRUE(second_.HandOver({"sonitor"}));

    // An editor that died leaves its socket file behind.
    running_.StopListening();
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, second_.SocketPath().toStdString().c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);

    ASSERT_TRUE(second_.Listen());
    EXPECT_TRUE(running_.HandOver({"sonitor", "x.wav"}));
}

}  // namespace
}  // namespace sonitor
