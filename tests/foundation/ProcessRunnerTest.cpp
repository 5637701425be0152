#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/CommandLine.h"
#include "foundation/FileUtil.h"
#include "foundation/ProcessRunner.h"
#include "foundation/TempFolder.h"
#include "support/Bytes.h"
#include "support/TestEnvironment.h"
#include "support/TestProcess.h"

namespace sonitor {
namespace {

using Clock = std::chrono::steady_clock;
using Words = std::vector<std::string>;

long MsSince(Clock::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

const auto Get = test::FileText;

Words SplitNul(const std::string& text) {
    Words out;
    size_t start = 0;
    for (size_t nul; (nul = text.find('\0', start)) != std::string::npos; start = nul + 1) {
        out.push_back(text.substr(start, nul - start));
    }
    return out;
}

int CountOwnFds() {
    int n = 0;
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    while (dirent* e = readdir(dir)) {
        if (e->d_name[0] != '.') ++n;
    }
    closedir(dir);
    return n;
}

// Gone, or a zombie waiting for whoever adopted it.
bool ProcessGone(pid_t pid) {
    if (kill(pid, 0) != 0) return errno == ESRCH;
    const std::string stat = Get("/proc/" + std::to_string(pid) + "/stat");
    const size_t paren = stat.rfind(')');
    return paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] == 'Z';
}

// --- Command lines ---

TEST(CommandLine, SplitFollowsTheBlankBackslashAndQuoteRules) {
    struct Case {
        const char* text;
        Words expected;
    };
    const Case cases[] = {
        // The fixed decoder lines, word for word.
        {R"("/usr/bin/oggdec" -o "/w/a b.wav" "/in/x.ogg")",
         {"/usr/bin/oggdec", "-o", "/w/a b.wav", "/in/x.ogg"}},
        // Two blanks after -d make no empty word.
        {R"("/usr/bin/ffmpeg" -d  -o "/o.wav" "/i.aac")",
         {"/usr/bin/ffmpeg", "-d", "-o", "/o.wav", "/i.aac"}},
        {" \t\"/p q/amrenc\" MR122 - \"/t.amr\"  \t", {"/p q/amrenc", "MR122", "-", "/t.amr"}},
        {"", {}},
        {"   ", {}},
        {"prog", {"prog"}},
        {R"(p "a b c" d e)", {"p", "a b c", "d", "e"}},
        {R"(p "ab\"c" "\\" d)", {"p", "ab\"c", "\\", "d"}},
        {R"(p a\\\b d"e f"g h)", {"p", R"(a\\\b)", "de fg", "h"}},
        {R"(p a\\\"b c d)", {"p", R"(a\"b)", "c", "d"}},
        {R"(p a\\\\"b c" d e)", {"p", R"(a\\b c)", "d", "e"}},
        {R"(p a"b"" c d)", {"p", "ab\" c d"}},
        {R"(p "" x)", {"p", "", "x"}},
        {R"(p "unterminated arg)", {"p", "unterminated arg"}},
        {R"(p trail\)", {"p", "trail\\"}},
        {"p a\nb", {"p", "a\nb"}},
        // The program word takes no escapes.
        {R"("C:\dir\" x)", {"C:\\dir\\", "x"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SplitCommandLine(c.text), c.expected) << c.text;
}

TEST(CommandLine, QuoteArgumentRoundTripsHostileStrings) {
    EXPECT_EQ(QuoteArgument("plain"), "plain");
    EXPECT_EQ(QuoteArgument(""), "\"\"");
    EXPECT_EQ(QuoteArgument("a b"), "\"a b\"");
    EXPECT_EQ(QuoteArgument(R"(a\"b)"), R"("a\\\"b")");
    EXPECT_EQ(QuoteArgument(R"(end\ )"), R"("end\ ")");
    EXPECT_EQ(QuoteArgument("x y\\"), R"("x y\\")");

    const char alphabet[] = {' ', '\t', '"', '\\', 'a', '\n', '-', '\'', '\v', '$'};
    std::mt19937 rng(12345);
    for (int round = 0; round < 3000; ++round) {
        Words args{"/opt/some prog\\dir/p"};
        const int count = static_cast<int>(rng() % 4);
        for (int k = 0; k < count; ++k) {
            std::string arg;
            const int len = static_cast<int>(rng() % 8);
            for (int j = 0; j < len; ++j)
                arg += alphabet[rng() % sizeof alphabet];
            args.push_back(arg);
        }
        const std::string line = JoinCommandLine(args);
        ASSERT_EQ(SplitCommandLine(line), args) << line;
    }
    EXPECT_EQ(JoinCommandLine({"bad\"prog", "x"}), "");
    EXPECT_EQ(JoinCommandLine({}), "");
}

// --- Temporary folder ---

TEST(TempFolder, PrivateFolderInsideTheWorkingFolderRemovedWithItsContents) {
    std::string path;
    {
        TempFolder tmp("job");
        ASSERT_TRUE(tmp.Ok());
        path = tmp.Path();
        struct stat st {};
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        ASSERT_TRUE(WriteFileAtomically(tmp.File("a.wav"), "x"));
        ASSERT_TRUE(MakeFolders(tmp.File("sub/deeper")));
        ASSERT_TRUE(WriteFileAtomically(tmp.File("sub/.hidden"), "y"));
        TempFolder other("job");
        EXPECT_NE(other.Path(), path);
        TempFolder moved(std::move(other));
        EXPECT_TRUE(moved.Ok());
        EXPECT_FALSE(other.Ok());
    }
    EXPECT_FALSE(FileExists(path));
    TempFolder broken("x", "/nonexistent-folder/for/sure");
    EXPECT_FALSE(broken.Ok());
}

// --- Processes ---

TEST(Process, ExitCodesAndSignals) {
    Process t = Process::Start({"/bin/true"});
    ASSERT_TRUE(t.Started());
    EXPECT_EQ(t.Wait(10000), WaitResult::Ended);
    EXPECT_EQ(t.ExitCode(), 0);
    EXPECT_EQ(t.TermSignal(), 0);

    Process f = Process::Start({"false"});  // found on PATH
    ASSERT_TRUE(f.Started());
    EXPECT_EQ(f.Wait(-1), WaitResult::Ended);
    EXPECT_EQ(f.ExitCode(), 1);

    Process s = Process::Start({"/bin/sh", "-c", "exit 37"});
    EXPECT_EQ(s.WaitWhile(50, 10000, {}), kProcessEnded);
    EXPECT_EQ(s.ExitCode(), 37);
    EXPECT_FALSE(s.Running());

    Process k = Process::Start({"/bin/sh", "-c", "kill -KILL $$"});
    EXPECT_EQ(k.Wait(10000), WaitResult::Ended);
    EXPECT_EQ(k.ExitCode(), -1);
    EXPECT_EQ(k.TermSignal(), SIGKILL);

    Process slow = Process::Start({"sleep", "5"});
    EXPECT_EQ(slow.Wait(30), WaitResult::TimedOut);
    EXPECT_TRUE(slow.Running());
}

TEST(Process, MissingProgramDoesNotStart) {
    for (const char* name : {"/nonexistent/prog", "sonitor-no-such-program-xyz"}) {
        Process p = Process::Start({name, "arg"});
        EXPECT_FALSE(p.Started()) << name;
        EXPECT_EQ(p.StartError(), ENOENT) << name;
        EXPECT_EQ(p.Wait(100), WaitResult::NotStarted);
        EXPECT_EQ(p.WaitWhile(10, 100, [] { return false; }), kProcessAbandoned);
    }
    EXPECT_EQ(Process::Start({}).StartError(), EINVAL);
    ProcessOptions badOut;
    badOut.output = ProcessOutput::File;
    badOut.outputPath = "/nonexistent/dir/out";
    EXPECT_FALSE(Process::Start({"/bin/true"}, badOut).Started());
}

TEST(Process, HostileArgumentsArriveExactlyThroughACommandLine) {
    TempFolder tmp("args");
    ASSERT_TRUE(tmp.Ok());
    ASSERT_TRUE(MakeFolders(tmp.File("with space")));
    const std::string script = tmp.File("with space/echo args");
    ASSERT_TRUE(WriteFileAtomically(script, "#!/bin/sh\nprintf '%s\\0' \"$0\" \"$@\"\n", 0755));

    const Words args{script, "two words",     "q\"uote", "-lead", "new\nline",
                     "",     "back\\slash\\", "\\\"",    "$HOME", "*"};
    const std::string line = JoinCommandLine(args);
    ProcessOptions opt;
    opt.output = ProcessOutput::File;
    opt.outputPath = tmp.File("out");
    Process p = Process::Start(SplitCommandLine(line), opt);
    ASSERT_TRUE(p.Started()) << p.StartError();
    ASSERT_EQ(p.Wait(10000), WaitResult::Ended);
    EXPECT_EQ(p.ExitCode(), 0);
    EXPECT_EQ(SplitNul(Get(opt.outputPath)), args);
}

TEST(Process, StandardStreams) {
    TempFolder tmp("streams");
    // stdin is /dev/null by default: cat ends at once.
    ProcessOptions toNull;
    toNull.output = ProcessOutput::Null;
    Process cat = Process::Start({"cat"}, toNull);
    EXPECT_EQ(cat.Wait(5000), WaitResult::Ended);
    EXPECT_EQ(cat.ExitCode(), 0);
    EXPECT_EQ(cat.InputFd(), -1);
    errno = 0;
    EXPECT_FALSE(cat.WriteInput("x", 1));
    EXPECT_EQ(errno, EBADF);

    // Output and error to the same file, in order; error alone elsewhere.
    ProcessOptions both;
    both.output = ProcessOutput::File;
    both.outputPath = tmp.File("both");
    both.error = ProcessOutput::File;
    both.errorPath = both.outputPath;
    Process b = Process::Start({"/bin/sh", "-c", "echo out; echo err >&2; echo end"}, both);
    ASSERT_EQ(b.Wait(5000), WaitResult::Ended);
    EXPECT_EQ(Get(both.outputPath), "out\nerr\nend\n");

    ProcessOptions split = both;
    split.errorPath = tmp.File("err");
    split.workingFolder = tmp.Path();
    Process s = Process::Start({"/bin/sh", "-c", "pwd; echo e >&2"}, split);
    ASSERT_EQ(s.Wait(5000), WaitResult::Ended);
    EXPECT_EQ(Get(split.outputPath), tmp.Path() + "\n");
    EXPECT_EQ(Get(split.errorPath), "e\n");
}

TEST(Process, PipeToCatRoundTripsBytes) {
    TempFolder tmp("pipe");
    std::string data(300000, '\0');
    std::mt19937 rng(7);
    for (char& c : data)
        c = static_cast<char>(rng());
    for (bool nonBlocking : {false, true}) {
        ProcessOptions opt;
        opt.input = ProcessInput::Pipe;
        opt.nonBlockingInput = nonBlocking;
        opt.output = ProcessOutput::File;
        opt.outputPath = tmp.File("copy");
        Process p = Process::Start({"cat"}, opt);
        ASSERT_TRUE(p.Started());
        EXPECT_TRUE(fcntl(p.InputFd(), F_GETFD) & FD_CLOEXEC);
        EXPECT_EQ((fcntl(p.InputFd(), F_GETFL) & O_NONBLOCK) != 0, nonBlocking);
        for (size_t at = 0; at < data.size(); at += 40000) {
            ASSERT_TRUE(p.WriteInput(data.data() + at, std::min<size_t>(40000, data.size() - at), 10000));
        }
        p.CloseInput();
        ASSERT_EQ(p.Wait(10000), WaitResult::Ended);
        EXPECT_EQ(p.ExitCode(), 0);
        EXPECT_TRUE(Get(opt.outputPath) == data) << "nonBlocking " << nonBlocking;
    }
}

TEST(Process, WritesToAGoneOrStuckReaderFailInsteadOfKillingUs) {
    ProcessOptions opt;
    opt.input = ProcessInput::Pipe;
    Process gone = Process::Start({"/bin/true"}, opt);
    ASSERT_EQ(gone.Wait(5000), WaitResult::Ended);
    const std::string block(100000, 'x');
    errno = 0;
    EXPECT_FALSE(gone.WriteInput(block.data(), block.size()));
    EXPECT_EQ(errno, EPIPE);

    // A reader that never reads: a non-blocking pipe gives up after the
    // timeout; the reader dying while we wait ends the write with EPIPE.
    opt.nonBlockingInput = true;
    Process stuck = Process::Start({"sleep", "30"}, opt);
    ASSERT_TRUE(stuck.Started());
    const auto start = Clock::now();
    errno = 0;
    EXPECT_FALSE(stuck.WriteInput(block.data(), block.size(), 150));
    EXPECT_EQ(errno, ETIMEDOUT);
    EXPECT_GE(MsSince(start), 140);
    EXPECT_LT(MsSince(start), 3000);
    const pid_t pid = stuck.Pid();
    stuck.Terminate();
    EXPECT_EQ(stuck.TermSignal(), SIGTERM);
    EXPECT_TRUE(ProcessGone(pid));
    errno = 0;
    EXPECT_FALSE(stuck.WriteInput(block.data(), block.size(), -1));
    EXPECT_EQ(errno, EPIPE);
}

TEST(Process, CancelStopsWithinAPollStepAndLeavesNothingRunning) {
    TempFolder tmp("cancel");
    ProcessOptions opt;
    opt.output = ProcessOutput::File;
    opt.outputPath = tmp.File("pid");
    // The shell starts a grandchild and then ignores SIGTERM itself.
    Process p = Process::Start({"/bin/sh", "-c", "trap '' TERM; sleep 30 & echo $!; wait"}, opt);
    ASSERT_TRUE(p.Started());
    const pid_t pid = p.Pid();
    int calls = 0;
    Clock::time_point cancelAt;
    const int r = p.WaitWhile(40, 60000, [&] {
        if (++calls < 3) return false;
        cancelAt = Clock::now();
        return true;
    });
    EXPECT_EQ(r, kProcessCancelled);
    EXPECT_EQ(calls, 3);
    // SIGTERM is ignored, so the grace period and then SIGKILL end it.
    EXPECT_GE(MsSince(cancelAt), 900);
    EXPECT_LT(MsSince(cancelAt), 3000);
    EXPECT_EQ(p.TermSignal(), SIGKILL);
    EXPECT_FALSE(p.Running());
    EXPECT_TRUE(ProcessGone(pid));
    const pid_t grandchild = std::atoi(Get(opt.outputPath).c_str());
    ASSERT_GT(grandchild, 0);
    const auto start = Clock::now();
    while (!ProcessGone(grandchild) && MsSince(start) < 2000)
        usleep(10000);
    EXPECT_TRUE(ProcessGone(grandchild));
}

TEST(Process, CancelOfAWillingChildIsPrompt) {
    Process p = Process::Start({"sleep", "30"});
    const pid_t pid = p.Pid();
    std::vector<long> callTimes;
    const auto start = Clock::now();
    EXPECT_EQ(p.WaitWhile(30, 60000,
                          [&] {
                              callTimes.push_back(MsSince(start));
                              return callTimes.size() == 2;
                          }),
              kProcessCancelled);
    ASSERT_EQ(callTimes.size(), 2u);
    EXPECT_GE(callTimes[0], 25);
    EXPECT_LT(callTimes[1], 1000);
    EXPECT_LT(MsSince(start) - callTimes[1], 500);
    EXPECT_EQ(p.TermSignal(), SIGTERM);
    EXPECT_TRUE(ProcessGone(pid));
}

TEST(Process, BudgetExhaustionAndDestructionTerminate) {
    Process p = Process::Start({"sleep", "30"});
    const pid_t pid = p.Pid();
    const auto start = Clock::now();
    int calls = 0;
    EXPECT_EQ(p.WaitWhile(20, 120,
                          [&] {
                              ++calls;
                              return false;
                          }),
              kProcessAbandoned);
    EXPECT_GE(MsSince(start), 110);
    EXPECT_LT(MsSince(start), 3000);
    EXPECT_GE(calls, 4);
    EXPECT_TRUE(ProcessGone(pid));

    pid_t abandoned = -1;
    {
        Process q = Process::Start({"sleep", "30"});
        abandoned = q.Pid();
        Process moved;
        moved = std::move(q);
        EXPECT_FALSE(q.Started());
        EXPECT_TRUE(moved.Running());
    }
    EXPECT_TRUE(ProcessGone(abandoned));
}

TEST(Process, ChildSeesOnlyStandardDescriptorsAndWeLeakNone) {
    TempFolder tmp("fds");
    // A descriptor opened without close-on-exec must still not reach a child.
    const int leaky = dup(1);
    ASSERT_GE(leaky, 3);
    const int before = CountOwnFds();
    {
        ProcessOptions opt;
        opt.input = ProcessInput::Pipe;
        opt.output = ProcessOutput::File;
        opt.outputPath = tmp.File("fds");
        opt.error = ProcessOutput::File;
        opt.errorPath = tmp.File("err");
        Process p = Process::Start({"/bin/sh", "-c", "ls /proc/$$/fd"}, opt);
        ASSERT_TRUE(p.Started());
        ASSERT_EQ(p.Wait(5000), WaitResult::Ended);
        EXPECT_EQ(Get(opt.outputPath), "0\n1\n2\n");
        EXPECT_EQ(Get(opt.errorPath), "");
        for (int i = 0; i < 5; ++i) {
            Process::Start({"/bin/true"}, opt).Wait(5000);
            Process::Start({"no-such-program-sonitor"}, opt);
        }
        Process running = Process::Start({"sleep", "30"}, opt);
    }
    EXPECT_EQ(CountOwnFds(), before);
    close(leaky);
}

TEST(Process, ChildGetsDefaultSigpipe) {
    // We ignore SIGPIPE; a child writing into a closed pipe must still die
    // of it, as programs expect.
    Process p = Process::Start({"/bin/sh", "-c", "yes | head -c 1 > /dev/null; exit 0"});
    EXPECT_EQ(p.Wait(5000), WaitResult::Ended);
    EXPECT_EQ(p.ExitCode(), 0);
    Process q = Process::Start({"/bin/sh", "-c", "trap - PIPE; kill -PIPE $$; exit 0"});
    EXPECT_EQ(q.Wait(5000), WaitResult::Ended);
    EXPECT_EQ(q.TermSignal(), SIGPIPE);
}

TEST(FindProgram, SearchesPathForExecutableFiles) {
    const std::string sh = FindProgram("sh");
    ASSERT_FALSE(sh.empty());
    EXPECT_EQ(sh[0], '/');
    EXPECT_EQ(FindProgram("sonitor-no-such-program-xyz"), "");
    EXPECT_EQ(FindProgram(""), "");
    EXPECT_EQ(FindProgram("/bin/sh"), "/bin/sh");
    EXPECT_EQ(FindProgram("/bin"), "");

    TempFolder tmp("path");
    ASSERT_TRUE(MakeFolders(tmp.File("a/tool")));  // a folder is no program
    ASSERT_TRUE(MakeFolders(tmp.File("b")));
    ASSERT_TRUE(MakeFolders(tmp.File("c")));
    ASSERT_TRUE(WriteFileAtomically(tmp.File("b/tool"), "#!/bin/sh\n", 0644));  // not executable
    ASSERT_TRUE(WriteFileAtomically(tmp.File("c/tool"), "#!/bin/sh\n", 0755));
    const std::string found = [&] {
        const test::ScopedEnv path("PATH", tmp.File("a") + "::" + tmp.File("b") + ":" + tmp.File("c"));
        return FindProgram("tool");
    }();
    if (geteuid() != 0) {
        EXPECT_EQ(found, tmp.File("c/tool"));
    }
    EXPECT_TRUE(found == tmp.File("c/tool") || found == tmp.File("b/tool")) << found;
}

}  // namespace
}  // namespace sonitor
