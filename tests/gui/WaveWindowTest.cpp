// The wave widgets offscreen, over real documents (working files with their
// peak overviews): the painted picture, the mouse gestures and what they
// write into the document, the view commands, the scroll bar, the worker's
// repaints and the recording dialog's window.
#include <QApplication>
#include <QImage>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "document/SoundDocument.h"
#include "foundation/Numbers.h"
#include "shell/DocumentWindow.h"
#include "shell/RecordWaveWindow.h"
#include "shell/WaveView.h"
#include "shell/WaveWindow.h"
#include "support/ClipSamples.h"
#include "support/MemorySources.h"

namespace sonitor {
namespace {

constexpr int32_t kRate = 44100;
constexpr int32_t kHalfScale = 262136;  // half of 16-bit full scale, internal

const QColor kWave(102, 255, 102);
const QColor kSelection(5, 95, 167);
const QColor kBandLight(255, 255, 189);
const QColor kBandDark(0, 128, 0);
const QColor kCursor(255, 255, 17);

// Interleaved frames: `loud` frames of a square wave at the given level in
// the channels that `mask` names (bit 0 left), then `quiet` frames of
// silence.
std::vector<int32_t> Square(int32_t loud, int32_t quiet, int channels, int32_t level = kHalfScale,
                            int mask = 3) {
    std::vector<int32_t> samples;
    samples.reserve(static_cast<size_t>(loud + quiet) * static_cast<size_t>(channels));
    for (int32_t f = 0; f < loud + quiet; ++f) {
        for (int c = 0; c < channels; ++c) {
            const bool on = f < loud && (mask >> c & 1) != 0;
            samples.push_back(on ? (f % 2 == 0 ? level : -level) : 0);
        }
    }
    return samples;
}

Ref<SoundDocument> MakeDocument(const std::vector<int32_t>& samples, int channels) {
    auto document = MakeRef<SoundDocument>(kRate, static_cast<uint8_t>(channels));
    document->clip = test::ClipFromSamples(samples, channels, kRate);
    document->fileName = "/music/takes/first take.wav";
    return document;
}

void Settle(WavePicture& picture) {
    ASSERT_TRUE(picture.WaitIdle(10000));
    QApplication::processEvents();
}

QImage Painted(WaveWindow& window) {
    Settle(window.Picture());
    return window.grab().toImage();
}

// The colour of picture column c at row y.
QColor At(const QImage& image, int column, int y) {
    return image.pixelColor(column + 1, y);
}

// A wave window of 400 x 100 picture pixels.
struct Window {
    explicit Window(const Ref<SoundDocument>& document, int32_t mode = 0, bool verticalZoom = false,
                    int clientWidth = 402)
        : window(81) {
        window.resize(clientWidth, 101);
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
        window.SetLength(document->Length());
        window.Attach(*document, mode, verticalZoom);
    }
    WaveWindow window;
};

TEST(WaveWindow, PaintsSoundSelectionBandCursorAndOutside) {
    // 204,800 loud frames, then as many silent ones.
    Ref<SoundDocument> document = MakeDocument(Square(204800, 204800, 1), 1);
    Window w(document);
    ASSERT_EQ(w.window.Picture().Width(), 400);
    ASSERT_EQ(w.window.Picture().Height(), 100);

    // 1024 frames per column come from the overview files, 128 per column
    // from the samples; both put the loud-to-silent step at column 200.
    // Half scale gives 127, so the wave reaches 127 * 100 / 512 = 24 pixels
    // from the centre row 50.
    for (auto [start, span] : {std::pair{0, 409600}, std::pair{179200, 51200}}) {
        w.window.SetView(start, span);
        const QImage image = Painted(w.window);
        for (int c : {5, 100, 195}) {
            EXPECT_EQ(At(image, c, 26), kWave) << start << " column " << c;
            EXPECT_EQ(At(image, c, 74), kWave) << start << " column " << c;
            EXPECT_EQ(At(image, c, 25), Qt::black) << start << " column " << c;
            EXPECT_EQ(At(image, c, 75), Qt::black) << start << " column " << c;
        }
        for (int c : {205, 300, 395}) {
            EXPECT_EQ(At(image, c, 30), Qt::black) << start << " column " << c;
            EXPECT_EQ(At(image, c, 50), kWave) << "the centre line of silence";
        }
        EXPECT_EQ(image.pixelColor(0, 50), Qt::black) << "left border";
        EXPECT_EQ(image.pixelColor(401, 50), Qt::white) << "right border";
    }

    // At 1024 frames per column: a selection over silence, the cursor band
    // in the sound, partly inside the selection, and the cursor line.
    w.window.SetView(0, 409600);
    w.window.SetSelectionStart(300 * 1024);
    w.window.SetSelectionEnd(350 * 1024);
    QImage image = Painted(w.window);
    EXPECT_EQ(At(image, 320, 30), kSelection);
    EXPECT_EQ(At(image, 320, 50), Qt::white);
    EXPECT_EQ(At(image, 360, 30), Qt::black);

    w.window.SetSelectionStart(100 * 1024);
    w.window.SetCursorBand(50 * 1024, 100 * 1024);
    image = Painted(w.window);
    EXPECT_EQ(At(image, 50, 50), kCursor) << "cursor line at the band start";
    EXPECT_EQ(At(image, 50, 3), kCursor) << "its top triangle";
    EXPECT_EQ(At(image, 80, 10), kBandLight);
    EXPECT_EQ(At(image, 80, 30), kBandDark);
    EXPECT_EQ(At(image, 120, 10), kBandDark) << "band inside the selection";
    EXPECT_EQ(At(image, 120, 30), kBandLight);
    EXPECT_EQ(At(image, 160, 10), kSelection) << "selection after the band";
    EXPECT_EQ(At(image, 160, 30), Qt::white);

    // Past the document's end: outside colours.
    w.window.SetSelectionStart(0);
    w.window.SetSelectionEnd(0);
    w.window.SetCursorBand(0, 0);
    w.window.SetView(0, 819200);
    image = Painted(w.window);
    const QColor buttonFace = w.window.palette().color(QPalette::Button);
    EXPECT_EQ(At(image, 60, 30), kWave);
    EXPECT_EQ(At(image, 250, 30), buttonFace);
    EXPECT_EQ(At(image, 250, 50), w.window.palette().color(QPalette::Disabled, QPalette::Text));

    w.window.Detach();
    image = w.window.grab().toImage();
    EXPECT_EQ(At(image, 100, 50), QColor(128, 128, 128)) << "no document: stock grey";
}

TEST(WaveWindow, DisplayModesVerticalZoomAndWideWindows) {
    // Left channel loud, right silent.
    Ref<SoundDocument> stereo = MakeDocument(Square(88200, 0, 2, kHalfScale, 1), 2);
    {
        Window w(stereo, WavePicture::kDual);
        w.window.SetView(0, 88200);
        const QImage image = Painted(w.window);
        // Two strips of scale 50: the left one around row 25 reaches
        // 127 * 50 / 512 = 12 pixels, the silent right one around row 75
        // is a line; the grey line divides them at row 50.
        EXPECT_EQ(At(image, 200, 14), kWave);
        EXPECT_EQ(At(image, 200, 36), kWave);
        EXPECT_EQ(At(image, 200, 12), Qt::black);
        EXPECT_EQ(At(image, 200, 75), kWave);
        EXPECT_EQ(At(image, 200, 70), Qt::black);
        EXPECT_EQ(At(image, 200, 50), w.window.palette().color(QPalette::Disabled, QPalette::Text));
    }
    // A mono document ignores the mode: both halves of one strip.
    Ref<SoundDocument> mono = MakeDocument(Square(88200, 0, 1), 1);
    {
        Window w(mono, WavePicture::kDual);
        w.window.SetView(0, 88200);
        const QImage image = Painted(w.window);
        EXPECT_EQ(At(image, 200, 30), kWave);
        EXPECT_EQ(At(image, 200, 70), kWave);
    }
    // One sixteenth of full scale: 16 -> 3 pixels; vertical zoom makes it
    // 128 -> 25 pixels, from the overview (1024 frames per column) and
    // from the samples (128) alike.
    Ref<SoundDocument> quiet = MakeDocument(Square(409600, 0, 1, 32768), 1);
    for (bool zoom : {false, true}) {
        Window w(quiet, 0, zoom);
        for (int32_t span : {409600, 51200}) {
            w.window.SetView(0, span);
            const QImage image = Painted(w.window);
            EXPECT_EQ(At(image, 200, 30), zoom ? kWave : Qt::black) << "zoom " << zoom << " span " << span;
            EXPECT_EQ(At(image, 200, 47), kWave);
        }
    }
    // 2100 pixels wide: 2048 columns and the right border after them.
    {
        Window w(mono, 0, false, 2100);
        w.window.SetView(0, 88200);
        const QImage image = Painted(w.window);
        EXPECT_EQ(At(image, 2047, 30), kWave);
        EXPECT_EQ(image.pixelColor(2049, 30), Qt::white);
        EXPECT_EQ(image.pixelColor(2070, 30), w.window.palette().color(QPalette::Button));
    }
}

TEST(WaveWindow, WorkerRepaintsAndMayOutliveNoWindow) {
    Ref<SoundDocument> document = MakeDocument(Square(400000, 0, 2), 2);
    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint) ++paints;
            return false;
        }
    };
    {
        Window w(document);
        Settle(w.window.Picture());
        PaintCounter counter;
        w.window.installEventFilter(&counter);
        w.window.SetView(1000, 20000);
        Settle(w.window.Picture());
        EXPECT_TRUE(QTest::qWaitFor([&] { return counter.paints > 0; }, 5000))
            << "computed columns are repainted";
    }
    // Windows destroyed while their worker computes (or just after it
    // posted): nothing may reach them afterwards.
    for (int i = 0; i < 20; ++i) {
        auto window = std::make_unique<WaveWindow>(81);
        window->resize(1200, 80);
        window->show();
        window->Attach(*document, i % 3, i % 2 == 0);
        window->SetView(i * 100, 300000 - i * 1000);
        if (i % 2 == 1) QTest::qWait(1);
        window.reset();
        QApplication::processEvents();
    }
}

// ---- The document window's pane

struct Pane {
    explicit Pane(Ref<SoundDocument> document) : window(std::move(document)) {
        window.resize(700, 300);
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
        Settle(view().Main().Picture());
    }
    WaveView& view() { return window.View(); }
    WaveWindow& main() { return window.View().Main(); }
    SoundDocument& document() { return window.Document(); }
    // 64 frames per column from frame 0: column c shows frame 64 c.
    void ShowSixtyFourPerColumn() {
        view().SetView({0, main().Picture().Width() * 64});
        Settle(main().Picture());
    }
    DocumentWindow window;
};

// Window x of picture column c.
QPoint Col(int c, int y = 40) {
    return {c + 1, y};
}

TEST(WaveView, MouseGesturesWriteTheSelectionIntoTheDocument) {
    Pane pane(MakeDocument(Square(88200, 0, 1), 1));
    EXPECT_EQ(pane.window.windowTitle(), "first take.wav");
    ASSERT_GT(pane.main().Picture().Width(), 420);
    pane.ShowSixtyFourPerColumn();
    WaveWindow& main = pane.main();
    SoundDocument& doc = pane.document();
    QSignalSpy codes(&main, &WaveWindow::Notification);
    QSignalSpy finished(&pane.view(), &WaveView::SelectionFinished);
    QSignalSpy dragging(&pane.view(), &WaveView::SelectionDragging);

    // A drag from column 100 to 200.
    QTest::mousePress(&main, Qt::LeftButton, {}, Col(100));
    QTest::mouseMove(&main, Col(150));
    EXPECT_EQ(doc.selectionStart, 6400);
    EXPECT_EQ(doc.selectionEnd, 9600) << "the selection follows the drag";
    QTest::mouseMove(&main, Col(200));
    QTest::mouseRelease(&main, Qt::LeftButton, {}, Col(200));
    EXPECT_EQ(doc.selectionStart, 6400);
    EXPECT_EQ(doc.selectionEnd, 12800);
    EXPECT_EQ(doc.cursor, 12800);
    EXPECT_EQ(main.CursorBandStart(), 12800);
    EXPECT_EQ(pane.view().Overview().SelectionEnd(), 12800) << "the overview shows it too";
    ASSERT_EQ(codes.count(), 3);
    EXPECT_EQ(codes.at(0).at(0).toInt(), 8);
    EXPECT_EQ(codes.at(2).at(0).toInt(), 2);
    EXPECT_EQ(finished.count(), 1);
    EXPECT_EQ(dragging.count(), 2);

    // Grabbing the end edge (on it to the frame) moves that edge only.
    QTest::mouseMove(&main, Col(200));
    EXPECT_EQ(main.cursor().shape(), Qt::SizeHorCursor);
    QTest::mousePress(&main, Qt::LeftButton, {}, Col(200));
    QTest::mouseMove(&main, Col(250));
    QTest::mouseRelease(&main, Qt::LeftButton, {}, Col(250));
    EXPECT_EQ(doc.selectionStart, 6400);
    EXPECT_EQ(doc.selectionEnd, 16000);

    // Dragging back across the pivot turns the selection around it.
    QTest::mousePress(&main, Qt::LeftButton, {}, Col(300));
    QTest::mouseMove(&main, Col(320));
    QTest::mouseMove(&main, Col(100));
    QTest::mouseRelease(&main, Qt::LeftButton, {}, Col(100));
    EXPECT_EQ(doc.selectionStart, 6400);
    EXPECT_EQ(doc.selectionEnd, 19200);
    EXPECT_EQ(doc.cursor, 6400);

    // Shift+click: from the pivot (column 300) to the click; the cursor stays.
    QTest::mouseClick(&main, Qt::LeftButton, Qt::ShiftModifier, Col(400));
    EXPECT_EQ(doc.selectionStart, 19200);
    EXPECT_EQ(doc.selectionEnd, 25600);
    EXPECT_EQ(doc.cursor, 6400);

    // A click without a drag: an empty selection and the cursor at it.
    QTest::mouseClick(&main, Qt::LeftButton, {}, Col(50));
    EXPECT_EQ(doc.selectionStart, 3200);
    EXPECT_EQ(doc.selectionEnd, 3200);
    EXPECT_EQ(doc.cursor, 3200);
}

TEST(WaveView, DraggingPastTheEdgesAndTheOverview) {
    Pane pane(MakeDocument(Square(88200, 0, 1), 1));
    pane.ShowSixtyFourPerColumn();
    WaveWindow& main = pane.main();
    const int width = main.Picture().Width();
    SoundDocument& doc = pane.document();
    QSignalSpy scrolls(&pane.view(), &WaveView::DragScroll);
    QSignalSpy codes(&main, &WaveWindow::Notification);

    QTest::mousePress(&main, Qt::LeftButton, {}, Col(100));
    QTest::mouseMove(&main, Col(width + 5));
    QTest::mouseMove(&main, Col(width + 9));  // still past it: no second 4
    QTest::mouseMove(&main, Col(300));
    QTest::mouseMove(&main, Col(-1));
    QTest::mouseRelease(&main, Qt::LeftButton, {}, Col(-1));
    std::vector<int> seen;
    for (const QList<QVariant>& s : scrolls)
        seen.push_back(s.at(0).toInt());
    EXPECT_EQ(seen, (std::vector<int>{4, 5, 6, 7}));
    EXPECT_EQ(codes.last().at(0).toInt(), 2);
    EXPECT_EQ(doc.selectionStart, 0) << "limited to the document";
    EXPECT_EQ(doc.selectionEnd, 6400);
    EXPECT_EQ(doc.cursor, 0);

    // A drag in the overview (the whole document) selects there as well
    // and is never a drag-scroll.
    WaveWindow& overview = pane.view().Overview();
    const int ow = overview.Picture().Width();
    const int y = overview.height() / 2;
    scrolls.clear();
    QTest::mousePress(&overview, Qt::LeftButton, {}, Col(ow / 4, y));
    QTest::mouseMove(&overview, Col(ow + 20, y));
    QTest::mouseRelease(&overview, Qt::LeftButton, {}, Col(ow + 20, y));
    EXPECT_EQ(scrolls.count(), 0);
    EXPECT_EQ(doc.selectionStart, overview.Picture().FrameAtColumn(ow / 4));
    EXPECT_EQ(doc.selectionEnd, 88200) << "the end limited to the length";
    EXPECT_EQ(main.SelectionEnd(), 88200);
}

TEST(WaveView, BookmarksHoverAndDrag) {
    Pane pane(MakeDocument(Square(88200, 0, 1), 1));
    pane.view().Bookmarks().push_back({MillisecondsFromFrames(6400, kRate), "Intro"});
    pane.view().Relayout();
    pane.ShowSixtyFourPerColumn();
    WaveWindow& main = pane.main();
    const int bottom = main.Picture().Height() - 2;
    QSignalSpy hover(&main, &WaveWindow::BookmarkHover);
    QSignalSpy hoverEnd(&main, &WaveWindow::BookmarkHoverEnd);

    // 6400 frames is 145 ms, which maps back to frame 6394: column 99.
    EXPECT_EQ(main.BookmarkAt(Col(100).x(), bottom), 0);
    EXPECT_EQ(main.BookmarkAt(Col(100).x(), 40), -1) << "only the bottom grips";
    EXPECT_EQ(main.BookmarkAt(Col(110).x(), bottom), -1);
    QTest::mouseMove(&main, Col(101, bottom));
    EXPECT_EQ(main.cursor().shape(), Qt::PointingHandCursor);
    ASSERT_EQ(hover.count(), 1);
    EXPECT_EQ(hover.at(0).at(0).toInt(), 0);
    QTest::mouseMove(&main, Col(200, bottom));
    EXPECT_EQ(hoverEnd.count(), 1);

    const SoundDocument& doc = pane.document();
    const int32_t selectionEnd = doc.selectionEnd;
    QTest::mousePress(&main, Qt::LeftButton, {}, Col(100, bottom));
    QTest::mouseMove(&main, Col(300, bottom));
    QTest::mouseRelease(&main, Qt::LeftButton, {}, Col(300, bottom));
    EXPECT_EQ(pane.view().Bookmarks()[0].milliseconds, MillisecondsFromFrames(300 * 64, kRate));
    EXPECT_EQ(doc.selectionEnd, selectionEnd) << "dragging a bookmark selects nothing";
}

TEST(WaveView, ViewCommandsCursorAndScrollBar) {
    Pane pane(MakeDocument(Square(88200, 0, 1), 1));
    WaveView& view = pane.view();
    SoundDocument& doc = pane.document();
    QSignalSpy changed(&view, &WaveView::ViewChanged);
    const auto span = [&] {
        Settle(pane.main().Picture());
        return pane.main().Picture().ViewSpan();
    };
    EXPECT_EQ(view.View().start, 0);
    EXPECT_EQ(view.View().end, 88200) << "a fresh document shows all of it";

    doc.cursor = 30000;
    view.ZoomIn();
    EXPECT_EQ(view.View().start, 30000 - 22050);
    EXPECT_EQ(view.View().end, 30000 + 22050);
    EXPECT_EQ(span(), 44100) << "the main window shows the document's view";
    view.SetView({1000, 1150});
    view.ZoomIn();
    EXPECT_EQ(view.View().end - view.View().start, 100) << "not 75: at least 100 frames";
    view.SetView({80000, 88200});
    view.ZoomOut();
    EXPECT_EQ(view.View().start, 80000 - 4100);
    EXPECT_EQ(view.View().end, 88200);
    view.SetView({1000, 60000});
    view.ZoomOut();
    EXPECT_EQ(view.View().start, 0) << "never before 0 nor more than the document";
    EXPECT_EQ(view.View().end, 88200);
    doc.selectionStart = 5000;
    doc.selectionEnd = 9000;
    view.ZoomToSelection();
    EXPECT_EQ(view.View().start, 5000);
    EXPECT_EQ(view.View().end, 9000);
    EXPECT_EQ(span(), 4000);
    view.ZoomFull();
    EXPECT_EQ(view.View().end, 88200);
    EXPECT_EQ(changed.count(), 6);

    // The buttons: display modes and vertical zoom, shown checked.
    QToolButton* dual = nullptr;
    QToolButton* vertical = nullptr;
    for (QToolButton* b : view.findChildren<QToolButton*>()) {
        if (b->property("ctrlId").toInt() == 91) dual = b;
        if (b->property("ctrlId").toInt() == 87) vertical = b;
    }
    ASSERT_NE(dual, nullptr);
    ASSERT_NE(vertical, nullptr);
    EXPECT_EQ(vertical->toolTip(), "Vertical Zoom (Ctrl+Shift+V)");
    dual->click();
    EXPECT_EQ(view.DisplayMode(), 2);
    EXPECT_TRUE(dual->isChecked());
    vertical->click();
    EXPECT_TRUE(view.VerticalZoom());
    EXPECT_TRUE(pane.main().Picture().VerticalZoom());
    EXPECT_FALSE(view.Overview().Picture().VerticalZoom()) << "the overview is never zoomed";

    // Placing the cursor: thumb, bands (25 ms while scrubbing), view follows.
    view.SetView({0, 20000});
    view.PlaceCursor(50000, true);
    EXPECT_EQ(doc.cursor, 50000);
    EXPECT_EQ(view.ScrollBar().value(), 50000 * 201 / 88200);
    EXPECT_EQ(pane.main().CursorBandLength(), FramesFromMilliseconds(25, kRate));
    EXPECT_EQ(view.Overview().CursorBandLength(), 0);
    EXPECT_EQ(view.View().start, 30000);
    EXPECT_EQ(view.View().end, 50000);
    view.PlaceCursor(-5, false);
    EXPECT_EQ(doc.cursor, 0);
    EXPECT_EQ(view.View().start, 0);
    EXPECT_EQ(view.View().end, 20000);

    // The scroll bar asks for two seconds around the cursor or for the
    // dragged thumb's frame, always within the document.
    QSignalSpy requests(&view, &WaveView::ScrollRequested);
    doc.cursor = 44100;
    view.ScrollBar().triggerAction(QAbstractSlider::SliderPageStepAdd);
    view.ScrollBar().triggerAction(QAbstractSlider::SliderSingleStepSub);
    doc.cursor = 100;
    view.ScrollBar().triggerAction(QAbstractSlider::SliderSingleStepSub);
    view.ScrollBar().setSliderPosition(50);  // a thumb drag, tracked
    std::vector<int32_t> targets;
    for (const QList<QVariant>& r : requests)
        targets.push_back(r.at(0).value<int32_t>());
    EXPECT_EQ(targets, (std::vector<int32_t>{88200, 0, 0, 22050}));
}

TEST(WaveView, EmptyDocumentShowsOneSecondOutside) {
    Pane pane(MakeRef<SoundDocument>(kRate, 1));
    EXPECT_EQ(pane.view().View().start, 0);
    EXPECT_EQ(pane.view().View().end, kRate);
    pane.view().ZoomIn();
    EXPECT_EQ(pane.view().View().end, kRate);
    const QImage image = Painted(pane.main());
    const QColor face = pane.main().palette().color(QPalette::Button);
    const int w = pane.main().Picture().Width();
    for (int c = 10; c < w; c += 37)
        EXPECT_EQ(At(image, c, 20), face) << c;
    // The span is the computed one: the overview's worker may still be at it.
    ASSERT_TRUE(pane.view().Overview().Picture().WaitIdle(5000));
    EXPECT_EQ(pane.view().Overview().Picture().ViewSpan(), kRate);
}

// ---- The recording dialog's window

TEST(RecordWaveWindow, OneByteOfTheLargestMagnitudePerColumn) {
    // 130 x 60 client pixels: 128 columns. Column c holds one sample of
    // interest at frame 64 c + 7 (in channel c % 2) with a magnitude
    // stepping through the interesting values.
    const std::vector<int32_t> magnitudes = {0, 1023, 1024, 261119, 261120, 261121, 524272, 2097152};
    // Then silence up to 32768 frames.
    std::vector<int32_t> samples(static_cast<size_t>(32768 * 2), 0);
    for (int c = 0; c < 128; ++c) {
        const int32_t m = magnitudes[static_cast<size_t>(c) % magnitudes.size()];
        samples[static_cast<size_t>((64 * c + 7) * 2 + c % 2)] = c % 3 == 0 ? -m : m;
    }
    auto source = MakeRef<test::VectorSource>(samples, kRate, 2);
    RecordWaveWindow window;
    window.resize(130, 60);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.Attach(source, kRate, 2);
    window.SetView(0, 128 * 64);
    ASSERT_TRUE(window.WaitIdle(10000));
    for (int c = 0; c < 128; ++c) {
        const int64_t m = magnitudes[static_cast<size_t>(c) % magnitudes.size()];
        EXPECT_EQ(window.ColumnValue(c), std::min<int64_t>(m >> 10, 255)) << c;
    }

    // 16384 frames per column: read in pieces of at most 8192 frames.
    window.SetView(0, 128 * 16384);
    ASSERT_TRUE(window.WaitIdle(10000));
    EXPECT_EQ(source->largestRead, 8192);
    EXPECT_EQ(window.ColumnValue(0), 255);
    EXPECT_EQ(window.ColumnValue(1), 0) << "silence";
    EXPECT_EQ(window.ColumnValue(2), 0) << "past the recording";
    // Height 59, centre row 29: a full byte fills the column, silence is the
    // centre row alone, past the recording lies the button face.
    window.SetCursor(60 * 16384);
    QImage image = window.grab().toImage();
    EXPECT_EQ(At(image, 0, 1), kWave);
    EXPECT_EQ(At(image, 0, 58), kWave);
    EXPECT_EQ(At(image, 1, 29), kWave);
    EXPECT_EQ(At(image, 1, 28), Qt::black);
    EXPECT_EQ(At(image, 2, 29), window.palette().color(QPalette::Button));

    // Releasing the button places the cursor and reports code 2.
    window.SetView(0, 128 * 64);
    ASSERT_TRUE(window.WaitIdle(10000));
    QSignalSpy codes(&window, &RecordWaveWindow::Notification);
    QTest::mouseClick(&window, Qt::LeftButton, {}, QPoint(41, 30));
    EXPECT_EQ(window.Cursor(), 40 * 64);
    ASSERT_EQ(codes.count(), 1);
    EXPECT_EQ(codes.at(0).at(0).toInt(), 2);
    image = window.grab().toImage();
    EXPECT_EQ(At(image, 40, 20), kCursor);
    EXPECT_EQ(At(image, 36, 1), kCursor) << "the top triangle's base";

    window.Detach();
    EXPECT_FALSE(window.isEnabled());
    EXPECT_EQ(At(window.grab().toImage(), 40, 20), QColor(128, 128, 128));
}

TEST(RecordWaveWindow, TheWorkerRepaintsAndMayOutliveNoWindow) {
    auto source = MakeRef<test::ToneSource>(kRate, 2, 600000);
    RecordWaveWindow window;
    window.resize(600, 60);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.Attach(source, kRate, 2);
    ASSERT_TRUE(window.WaitIdle(10000));
    QApplication::processEvents();
    // Attached again while enabled: only the worker's first pass can ask
    // for the repaint of the emptied picture, and then the new view's.
    struct Paints : QObject {
        int count = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            count += event->type() == QEvent::Paint ? 1 : 0;
            return false;
        }
    } paints;
    window.installEventFilter(&paints);
    for (int32_t span : {0, 600000}) {
        paints.count = 0;
        if (span == 0) window.Attach(source, kRate, 2);
        window.SetView(0, span);
        ASSERT_TRUE(window.WaitIdle(10000));
        EXPECT_TRUE(QTest::qWaitFor([&] { return paints.count > 0; }, 5000)) << span;
    }
    window.removeEventFilter(&paints);

    for (int i = 0; i < 20; ++i) {
        auto doomed = std::make_unique<RecordWaveWindow>();
        doomed->resize(1500, 60);
        doomed->show();
        doomed->Attach(MakeRef<test::ToneSource>(kRate, 2, 600000), kRate, 2);
        doomed->SetView(i * 100, 600000 - i * 1000);
        if (i % 2 == 1) QTest::qWait(1);
        doomed.reset();
        QApplication::processEvents();
    }
}

}  // namespace
}  // namespace sonitor
