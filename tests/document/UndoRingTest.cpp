#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/ScriptedPrompt.h"
#include "document/ClipWriter.h"
#include "document/DocumentHost.h"
#include "document/SoundDocument.h"
#include "document/WorkingFileTable.h"
#include "foundation/FileUtil.h"
#include "foundation/Folders.h"
#include "foundation/SettingsStore.h"

namespace sonitor {
namespace {

// Records what the document operations ask of the host.
class RecordingHost final : public DocumentHost {
public:
    UserPrompt& Prompt() override { return prompt; }
    void StopPlayback() override { ++stops; }
    void StartPlayback(SoundDocument&, int32_t position) override { plays.push_back(position); }
    void DocumentChanged(SoundDocument&) override { ++refreshes; }
    void CommandStatesChanged(SoundDocument&) override { ++commandRefreshes; }

    test::ScriptedPrompt prompt;
    int stops = 0;
    int refreshes = 0;
    int commandRefreshes = 0;
    std::vector<int32_t> plays;
};

// An edit whose result is recognisable by the clip's length and the cursor.
void Edit(SoundDocument& doc, RecordingHost& host, const std::string& name, int32_t newLength) {
    BeginEdit(doc, name, host);
    ClipClear(doc.clip);
    ClipInsertSilence(doc.clip, newLength, 0);
    doc.cursor = newLength / 2;
    doc.selectionStart = newLength / 4;
    doc.selectionEnd = newLength / 3;
    doc.viewStart = 1;
    doc.viewEnd = newLength;
}

TEST(UndoRingTest, MenuTextsFollowOneEditUndoAndRedo) {
    RecordingHost host;
    SoundDocument doc;
    EXPECT_FALSE(doc.undo.CanUndo());
    EXPECT_FALSE(doc.undo.CanRedo());
    EXPECT_EQ(doc.undo.UndoMenuText(), "Undo \tCtrl+Z");
    EXPECT_EQ(doc.undo.RedoMenuText(), "Redo \tCtrl+Y");

    Edit(doc, host, "Cut", 100);
    EXPECT_TRUE(doc.modified);
    EXPECT_TRUE(doc.undo.CanUndo());
    EXPECT_FALSE(doc.undo.CanRedo());
    EXPECT_EQ(doc.undo.UndoMenuText(), "Undo Cut\tCtrl+Z");
    EXPECT_EQ(doc.undo.RedoMenuText(), "Redo \tCtrl+Y");

    ASSERT_TRUE(UndoEdit(doc, host));
    EXPECT_EQ(host.stops, 1);
    EXPECT_EQ(doc.Length(), 0);
    EXPECT_FALSE(doc.modified);  // the state before the edit was unmodified
    EXPECT_FALSE(doc.undo.CanUndo());
    EXPECT_TRUE(doc.undo.CanRedo());
    EXPECT_EQ(doc.undo.RedoMenuText(), "Redo Cut\tCtrl+Y");
    EXPECT_FALSE(UndoEdit(doc, host));

    ASSERT_TRUE(RedoEdit(doc, host));
    EXPECT_EQ(doc.Length(), 100);
    EXPECT_TRUE(doc.modified);
    EXPECT_EQ(doc.undo.UndoMenuText(), "Undo Cut\tCtrl+Z");
    EXPECT_FALSE(doc.undo.CanRedo());
    EXPECT_FALSE(RedoEdit(doc, host));
}

TEST(UndoRingTest, NewEditDropsRedoHistory) {
    RecordingHost host;
    SoundDocument doc;
    Edit(doc, host, "Cut", 10);
    Edit(doc, host, "Paste", 20);
    ASSERT_TRUE(UndoEdit(doc, host));
    EXPECT_TRUE(doc.undo.CanRedo());
    Edit(doc, host, "Delete", 30);
    EXPECT_FALSE(doc.undo.CanRedo());
    EXPECT_EQ(doc.undo.UndoMenuText(), "Undo Delete\tCtrl+Z");
    ASSERT_TRUE(UndoEdit(doc, host));
    EXPECT_EQ(doc.Length(), 10);
    EXPECT_EQ(doc.undo.UndoMenuText(), "Undo Cut\tCtrl+Z");
}

// Ten edits leave five undoable states; every undo and redo restores the
// exact state (clip, selection, cursor, view, modified flag) of a flat
// history model.
TEST(UndoRingTest, DepthAfterTenEditsAndExactRestore) {
    RecordingHost host;
    SoundDocument doc;
    std::vector<DocumentState> history;  // history[k]: state after k edits
    history.push_back(doc.CaptureState());
    for (int k = 1; k <= 10; ++k) {
        Edit(doc, host, "Edit " + std::to_string(k), 1000 * k);
        history.push_back(doc.CaptureState());
    }
    const auto expectState = [&](int k) {
        const DocumentState& want = history[k];
        EXPECT_EQ(doc.Length(), want.clip.Length()) << "state " << k;
        EXPECT_EQ(doc.cursor, want.cursor);
        EXPECT_EQ(doc.selectionStart, want.selectionStart);
        EXPECT_EQ(doc.selectionEnd, want.selectionEnd);
        EXPECT_EQ(doc.viewStart, want.viewStart);
        EXPECT_EQ(doc.viewEnd, want.viewEnd);
        EXPECT_EQ(doc.modified, want.modified);
    };
    for (int k = 9; k >= 5; --k) {
        EXPECT_EQ(doc.undo.UndoMenuText(), "Undo Edit " + std::to_string(k + 1) + "\tCtrl+Z");
        ASSERT_TRUE(UndoEdit(doc, host)) << "undo to state " << k;
        expectState(k);
        EXPECT_EQ(doc.undo.RedoMenuText(), "Redo Edit " + std::to_string(k + 1) + "\tCtrl+Y");
    }
    EXPECT_FALSE(UndoEdit(doc, host));
    expectState(5);
    for (int k = 6; k <= 10; ++k) {
        ASSERT_TRUE(RedoEdit(doc, host)) << "redo to state " << k;
        expectState(k);
    }
    EXPECT_FALSE(RedoEdit(doc, host));
    EXPECT_EQ(doc.undo.UndoMenuText(), "Undo Edit 10\tCtrl+Z");
}

TEST(UndoRingTest, WorkingFilesLiveAsLongAsAnUndoSlotNeedsThem) {
    RecordingHost host;
    SoundDocument doc;
    {
        auto writer = CreateClipWriter(&doc.clip, 44100, 1);
        std::vector<int32_t> samples(1000, 1234);
        writer->Write(samples.data(), 1000);
        ASSERT_TRUE(writer->Close());
    }
    const uint16_t id = doc.clip.Segments().at(0).fileId;
    const std::string aud = WorkingFileTable::AudioPath(id);
    ASSERT_TRUE(FileExists(aud));

    BeginEdit(doc, "Delete", host);
    ClipDeleteRange(doc.clip, 0, ClipLength(doc.clip));
    EXPECT_TRUE(doc.clip.Segments().empty());
    EXPECT_TRUE(FileExists(aud)) << "the undo slot still refers to the file";

    // Pushes move round the ring until the slot holding the file is reused.
    for (int k = 0; k < UndoRing::kSlots; ++k) Edit(doc, host, "Insert Silence", 10 + k);
    EXPECT_FALSE(FileExists(aud));
    EXPECT_FALSE(FileExists(WorkingFileTable::OverviewPath(id)));
}

TEST(SoundDocumentTest, SelectionRules) {
    RecordingHost host;
    SoundDocument doc;
    EXPECT_FALSE(doc.HasSelection());
    SetSelection(doc, 500, 100, 42, host);
    EXPECT_EQ(doc.selectionStart, 100);
    EXPECT_EQ(doc.selectionEnd, 500);
    EXPECT_EQ(doc.cursor, 42);
    EXPECT_TRUE(doc.HasSelection());
    EXPECT_EQ(host.refreshes, 1);
    SetSelection(doc, 300, 300, 0, host);
    EXPECT_FALSE(doc.HasSelection());
    SetSelection(doc, 0, 0, 0, host);
    EXPECT_FALSE(doc.HasSelection());
    doc.selectionStart = -20;
    doc.selectionEnd = 0;
    EXPECT_TRUE(doc.HasSelection());
}

TEST(SoundDocumentTest, UntitledNumbering) {
    EXPECT_EQ(NextUntitledNumber({}), 1);
    EXPECT_EQ(NextUntitledNumber({"Untitled 1", "/music/a.wav"}), 2);
    EXPECT_EQ(NextUntitledNumber({"UNTITLED 1", "untitled 2", "Untitled 4"}), 3);
    std::vector<std::string> all;
    for (int n = 1; n <= 19; ++n) all.push_back(UntitledName(n));
    EXPECT_EQ(NextUntitledNumber(all), 1);
    all.erase(all.begin() + 6);  // "Untitled 7" closed
    EXPECT_EQ(NextUntitledNumber(all), 7);
}

TEST(SoundDocumentTest, NewUntitledDocumentTakesFormatFromSettings) {
    const SettingsStore& settings = Settings();
    auto doc = NewUntitledDocument({"Untitled 1"}, settings);
    EXPECT_EQ(doc->fileName, "Untitled 2");
    EXPECT_EQ(doc->clip.SampleRate(), 44100u);
    EXPECT_EQ(doc->clip.Channels(), 1);
    EXPECT_FALSE(doc->modified);

    settings.WriteInt("Settings", "SelectedSampleRate", 22050);
    settings.WriteInt("Settings", "SelectedChannels", 2);
    settings.WriteInt("Settings", "DefaultSampleRate", 8000);
    settings.WriteInt("Settings", "DefaultChannels", 1);
    doc = NewUntitledDocument({}, settings);
    EXPECT_EQ(doc->clip.SampleRate(), 22050u);
    EXPECT_EQ(doc->clip.Channels(), 2);

    settings.WriteBool("Settings", "PromptSampleAndChannels", false);
    doc = NewUntitledDocument({}, settings);
    EXPECT_EQ(doc->clip.SampleRate(), 8000u);
    EXPECT_EQ(doc->clip.Channels(), 1);

    settings.WriteInt("Settings", "DefaultSampleRate", 0);
    settings.WriteInt("Settings", "DefaultChannels", 0);
    doc = NewUntitledDocument({}, settings);
    EXPECT_EQ(doc->clip.SampleRate(), 44100u);
    EXPECT_EQ(doc->clip.Channels(), 1);
    settings.DeleteValue("Settings", "PromptSampleAndChannels");
}

TEST(SoundDocumentTest, FinishEditChecksSpaceThenPlaysFromPreroll) {
    const SettingsStore& settings = Settings();
    RecordingHost host;
    SoundDocument doc;
    doc.fileName = "/music/take.wav";

    SetFreeSpaceProbeForTesting([](const std::string&) { return 2969u; });  // 2.9 MiB
    FinishEdit(doc, 30000, 22050, host, settings);
    ASSERT_EQ(host.prompt.History().size(), 1u);
    EXPECT_EQ(host.prompt.History()[0].title, "Low Disk Space");
    EXPECT_EQ(host.prompt.History()[0].text, LowDiskSpaceMessage("/music/take.wav"));
    EXPECT_NE(host.prompt.History()[0].text.find("to the file \"/music/take.wav\" might not be saved"),
              std::string::npos);
    EXPECT_EQ(doc.cursor, 0);
    EXPECT_TRUE(host.plays.empty());

    SetFreeSpaceProbeForTesting([](const std::string&) { return 3072u; });  // exactly 3 MiB
    FinishEdit(doc, 30000, 22050, host, settings);
    EXPECT_EQ(host.prompt.History().size(), 1u);
    EXPECT_EQ(doc.cursor, 30000 - 22050);
    ASSERT_EQ(host.plays.size(), 1u);
    EXPECT_EQ(host.plays[0], 30000 - 22050);

    FinishEdit(doc, 1000, 22050, host, settings);
    EXPECT_EQ(host.plays.back(), 0);

    settings.WriteBool("Settings", "AutoPlaybackAfterEffects", false);
    FinishEdit(doc, 1000, 22050, host, settings);
    EXPECT_EQ(doc.cursor, 1000);
    EXPECT_EQ(host.plays.size(), 2u);
    settings.DeleteValue("Settings", "AutoPlaybackAfterEffects");
    SetFreeSpaceProbeForTesting({});
}

TEST(SoundDocumentTest, DocumentFromClipIsModifiedAndSharesFiles) {
    AudioClip clip(48000, 2);
    {
        auto writer = CreateClipWriter(&clip, 48000, 2);
        std::vector<int32_t> samples(2 * 300, -77);
        writer->Write(samples.data(), 300);
    }
    const uint16_t id = clip.Segments().at(0).fileId;
    const uint16_t before = WorkingFileTable::Instance().Count(id);
    auto doc = NewDocumentFromClip(clip, {"Untitled 1"});
    EXPECT_EQ(doc->fileName, "Untitled 2");
    EXPECT_TRUE(doc->modified);
    EXPECT_EQ(doc->clip.SampleRate(), 48000u);
    EXPECT_EQ(doc->clip.Channels(), 2);
    EXPECT_EQ(doc->Length(), 300);
    EXPECT_EQ(WorkingFileTable::Instance().Count(id), before + 1);
    doc.Reset();
    EXPECT_EQ(WorkingFileTable::Instance().Count(id), before);
}

}  // namespace
}  // namespace sonitor
