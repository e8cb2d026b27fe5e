// The emulation window: LED geometry, frame painting, and runs of the board
// emulation in the window compared with the engine itself.
#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QScreen>
#include <QtTest>
#include <memory>
#include <optional>

#include "core/settings.h"
#include "core/textutil.h"
#include "gui/common/messages.h"
#include "gui/markup/ledpicture.h"
#include "gui/markup/rform.h"
#include "markup/compiler.h"
#include "markup/emulation.h"
#include "markup/fontarchive_writer.h"
#include "markup/fonts.h"

using namespace lentar;
using namespace lentar::gui;

namespace {

// Height-1 font: every letter is a 4-column glyph with a distinct pattern,
// digits and space as well, so that any text lights something.
TTabFont MakeFont(int heightBytes) {
  GlyphColumnsTable glyphs;
  for (int code = 32; code < 256; ++code) {
    for (int column = 0; column < 4; ++column) {
      for (int b = 0; b < heightBytes; ++b) {
        glyphs[static_cast<size_t>(code)].push_back(
            static_cast<uint8_t>((code * 37 + column * 11 + b * 5) & 0xFF));
      }
    }
  }
  glyphs[' '].assign(static_cast<size_t>(2 * heightBytes), 0);
  TTabFont font;
  std::string error;
  if (!BuildTabFont("test", heightBytes, 1, glyphs, font, error)) qFatal("%s", error.c_str());
  return font;
}

const std::array<uint32_t, 8> kColours = {0x0000FF, 0x00FF00, 0xFF0000, 0x0000FF,
                                          0x00FF00, 0xFF0000, 0xFFFFFF, 0xFFFFFF};

// Steps an engine of the same run n frames (or to its end when n is 0).
std::unique_ptr<BoardEmulation> Reference(const std::string& text, int speed, int columns,
                                          int channels, const TTabFontList& bank,
                                          const TSettings& settings, uint32_t frames,
                                          const EmulationClock& clock) {
  EmulationSetup setup = EmulationSetup::FromSettings(settings);
  setup.boardColumns = columns;
  setup.fontHeightBytes = bank.CurrentHeight();
  setup.channelCount = channels;
  setup.channelColours = kColours;
  setup.speedLevel = speed;
  CompileResult compiled = CompileBoardData(text, bank.CurrentHeight(), channels, SIZE_MAX);
  auto emulation = std::make_unique<BoardEmulation>(compiled.image, bank, setup, clock);
  for (uint32_t i = 0; frames == 0 || i < frames; ++i) {
    if (!emulation->Step()) break;
  }
  return emulation;
}

// Compares every LED cell of a grab of the panel with the engine's frame.
void ComparePanelWithFrame(TDrawPanel* panel, const BoardEmulation& engine) {
  const QImage picture = panel->grab().toImage().convertToFormat(QImage::Format_RGB32);
  const LedGeometry g = panel->Geometry();
  QCOMPARE(panel->Columns(), engine.BoardColumns());
  QCOMPARE(panel->Rows(), engine.RowsPerColumn());
  QCOMPARE(picture.width(), engine.BoardColumns() * g.pitch);
  QCOMPARE(picture.height(), engine.RowsPerColumn() * g.pitch);
  const int inset = (g.pitch - g.ledSize) / 2;
  int lit = 0;
  for (int c = 0; c < engine.BoardColumns(); ++c) {
    for (int r = 0; r < engine.RowsPerColumn(); ++r) {
      // An LED that is off shows as a dim dot.
      const uint32_t colour = engine.Colour(engine.Pixel(c, r));
      const uint32_t expected = (colour & 0xFFFFFF) != 0 ? ScreenColour(colour) : kUnlitLedColour;
      const QRgb shown = picture.pixel(c * g.pitch + inset + g.ledSize / 2,
                                       r * g.pitch + inset + g.ledSize / 2);
      if (shown != expected) {
        QFAIL(qPrintable(QStringLiteral("LED %1,%2: shown %3, engine %4")
                             .arg(c).arg(r).arg(shown, 0, 16).arg(expected, 0, 16)));
      }
      if ((colour & 0xFFFFFF) != 0) ++lit;
    }
  }
  QCOMPARE(lit, engine.LitCount());
}

// Runs a preview as the editor does and waits, the event loop running,
// until it has ended: its result (-2 when it never ended).
int64_t RunEmulationToEnd(const std::string& text, int speed, int boardColumns, TRForm* window,
                          int channelCount, const std::array<uint32_t, 8>& channelColors,
                          TTabFontList& bank, const TSettings& settings,
                          const EmulationRunOptions& options = {}) {
  auto result = std::make_shared<std::optional<int64_t>>();
  RunEmulation(text, speed, boardColumns, window, channelCount, channelColors, bank, settings,
               options, [result](int64_t r) { *result = r; });
  if (!QTest::qWaitFor([result] { return result->has_value(); }, 60000)) return -2;
  return **result;
}

}  // namespace

class RFormTest : public QObject {
  Q_OBJECT

 private:
  TTabFontList bank_;
  const EmulationClock clock_ = FixedStartClock(
      DateTime{.year = 2024, .month = 5, .day = 6, .hour = 7, .minute = 8, .second = 9});

 private slots:
  void init() {
    Settings() = TSettings{};
    DefaultSettings(Settings());
    bank_.Clear();
    bank_.Add(MakeFont(1));
    bank_.Add(MakeFont(2));
    bank_.SetHeight(1);
    bank_.SelectFont(0);
  }

  void ledGeometryRules() {
    struct Case {
      int width, height, columns, rows;
      int pitch, led;
    };
    const Case cases[] = {
        {1920, 1080, 2016, 8, 2, 2},   // below 2: 2 with pitch 2
        {1920, 1080, 504, 32, 3, 2},   // 1920/504 = 3, 3/1.5 = 2
        {1920, 1080, 120, 8, 16, 11},  // 16/1.5 = 10.67 -> 11
        {1920, 1080, 100, 32, 19, 13}, // 1060/32 = 33 is larger: 19
        {1920, 1080, 60, 8, 32, 21},
        {1920, 1080, 8, 8, 38, 25},    // 240 -> capped at 255/1.5: LED 25, pitch 38
        {800, 600, 8, 32, 18, 12},     // (600-20)/32 = 18 is the smaller
        {800, 600, 200, 8, 4, 3},
        {0, 0, 8, 8, 2, 2},
    };
    for (const Case& c : cases) {
      const LedGeometry g = ComputeLedGeometry(c.width, c.height, c.columns, c.rows);
      QCOMPARE(g.pitch, c.pitch);
      QCOMPARE(g.ledSize, c.led);
    }
  }

  void framesOwedFollowBoardTimeAndCatchUp() {
    struct Case {
      int64_t elapsed, base, run, maxCatchUp;
      int64_t owed, baseAfter;
    };
    const Case cases[] = {
        {0, 0, 0, 100, 0, 0},        // nothing due at the start
        {9, 0, 0, 100, 0, 0},
        {10, 0, 0, 100, 1, 0},       // one frame per 10 ms
        {35, 0, 1, 100, 2, 0},       // a late tick owes the frames it missed
        {50, 0, 5, 100, 0, 0},       // up to date
        {40, 0, 7, 100, 0, 0},       // ahead of time
        {2000, 0, 0, 100, 100, 1000},  // a stall: only 100 owed, the rest dropped
        {2010, 1000, 100, 100, 1, 1000},
    };
    for (const Case& c : cases) {
      int64_t base = c.base;
      QCOMPARE(FramesOwed(c.elapsed, base, c.run, c.maxCatchUp), c.owed);
      QCOMPARE(base, c.baseAfter);
    }
  }

  void aRunningWindowIsNotUsedTwice() {
    TRForm window;
    int64_t inner = 0;
    QTimer::singleShot(20, &window, [&] {
      inner = RunEmulationToEnd("A", 5, 8, &window, 1, kColours, bank_, Settings());
      window.RequestStop();
    });
    const int64_t outer =
        RunEmulationToEnd(std::string(100, 'A'), 1, 64, &window, 1, kColours, bank_, Settings());
    QCOMPARE(inner, int64_t(-1));
    QCOMPARE(outer, int64_t(-1));
    QVERIFY(!window.Running());
  }

  void paintsLedsInTheirCells() {
    // 3 columns x 8 rows, two channels: red, green, yellow (both).
    std::array<uint32_t, 256> palette{};
    for (unsigned i = 0; i < 4; ++i) palette[i] = MixChannelColours(kColours, 2, i);
    std::vector<uint8_t> frame(3 * 8, 0);
    frame[0] = 1;           // column 0, top row: red
    frame[8 + 7] = 2;       // column 1, bottom row: green
    frame[16 + 3] = 3;      // column 2, row 3: yellow
    QImage image;
    const LedGeometry g{6, 4};
    QCOMPARE(PaintLedFrame(image, frame.data(), 3, 8, g, palette), 3);
    QCOMPARE(image.size(), QSize(18, 48));
    QCOMPARE(image.pixel(1, 1), qRgb(255, 0, 0));
    QCOMPARE(image.pixel(4, 4), qRgb(255, 0, 0));
    QCOMPARE(image.pixel(0, 0), qRgb(0, 0, 0));  // the gap around the LED
    QCOMPARE(image.pixel(5, 5), qRgb(0, 0, 0));
    QCOMPARE(image.pixel(6 + 2, 7 * 6 + 2), qRgb(0, 255, 0));
    QCOMPARE(image.pixel(12 + 3, 3 * 6 + 3), qRgb(255, 255, 0));
    QCOMPARE(image.pixel(12 + 3, 2 * 6 + 3), kUnlitLedColour);  // off: a dim dot
    QCOMPARE(image.pixel(12 + 0, 2 * 6 + 3), qRgb(0, 0, 0));     // and black between
    QCOMPARE(image.pixel(12 + 3, 2 * 6 + 5), qRgb(0, 0, 0));

    // A dark board, or none yet, still shows every LED as a dim dot.
    std::vector<uint8_t> dark(3 * 8, 0);
    for (const uint8_t* f : {static_cast<const uint8_t*>(dark.data()), static_cast<const uint8_t*>(nullptr)}) {
      QCOMPARE(PaintLedFrame(image, f, 3, 8, g, palette), 0);
      for (int c = 0; c < 3; ++c) {
        for (int r = 0; r < 8; ++r) {
          QCOMPARE(image.pixel(c * 6 + 2, r * 6 + 2), kUnlitLedColour);
          QCOMPARE(image.pixel(c * 6, r * 6), qRgb(0, 0, 0));
        }
      }
    }
    QCOMPARE(PaintLedFrame(image, dark.data(), 0, 8, g, palette), 0);
    QCOMPARE(PaintLedFrame(image, dark.data(), -3, 8, g, palette), 0);
  }

  void windowShowsTheEnginesFrameAfterSomeFrames() {
    struct Case {
      std::string text;
      int columns;
      int channels;
      int height;
      uint32_t frames;
    };
    const Case cases[] = {
        {"ABC 123", 16, 1, 1, 40},
        {"ABC 123", 16, 1, 1, 57},
        {Utf8ToCp1251(u8"{[FCol:2]}Привет{[FCol:3]} мир"), 24, 2, 1, 90},
        {"{[Inv:1]}XY{[Inv:0]}Z", 12, 3, 2, 40},
        {"{[Sp:0]}WIDE", 40, 1, 1, 130},
    };
    for (const Case& c : cases) {
      bank_.SetHeight(c.height);
      bank_.Reselect();
      TRForm window;
      EmulationRunOptions options;
      options.clock = clock_;
      options.realTime = false;
      options.frameLimit = c.frames;
      const int64_t result = RunEmulationToEnd(c.text, 5, c.columns, &window, c.channels, kColours,
                                          bank_, Settings(), options);
      QCOMPARE(result, int64_t(-1));  // cut by the frame limit
      QVERIFY(window.isVisible());
      QCOMPARE(window.windowTitle(), QStringLiteral("Табло бегущая строка"));
      const auto engine =
          Reference(c.text, 5, c.columns, c.channels, bank_, Settings(), c.frames, clock_);
      QCOMPARE(engine->FramesShown(), c.frames);
      QVERIFY2(engine->LitCount() > 0, c.text.c_str());
      ComparePanelWithFrame(window.Panel(), *engine);
      QCOMPARE(window.findChild<QLabel*>(QStringLiteral("LitLabel"))->text(),
               QStringLiteral("Включено: %1%").arg(engine->LitPercent()));
    }
  }

  void aRunToTheEndGivesTheEnginesTime() {
    TRForm window;
    EmulationRunOptions options;
    options.clock = clock_;
    options.realTime = false;
    const std::string text = "AB";
    const int64_t result =
        RunEmulationToEnd(text, 5, 8, &window, 1, kColours, bank_, Settings(), options);
    const auto engine = Reference(text, 5, 8, 1, bank_, Settings(), 0, clock_);
    QVERIFY(engine->Finished());
    QVERIFY(result > 0);
    QCOMPARE(result, engine->Result());
    // The text has scrolled out: the board is dark.
    QCOMPARE(window.findChild<QLabel*>(QStringLiteral("LitLabel"))->text(),
             QStringLiteral("Включено: 0%"));
  }

  void realTimeRunFollowsBoardTimeAndEnds() {
    // 8 columns at 50 pixels per second: about a third of a second.
    TRForm window;
    EmulationRunOptions options;
    options.clock = clock_;
    const int64_t result = RunEmulationToEnd("A", 5, 8, &window, 1, kColours, bank_, Settings(), options);
    const auto engine = Reference("A", 5, 8, 1, bank_, Settings(), 0, clock_);
    QCOMPARE(result, engine->Result());
  }

  void stopAndCloseEndTheRun() {
    {
      TRForm window;
      QTimer::singleShot(30, &window, [&window] {
        window.findChild<QPushButton*>(QStringLiteral("StopButton"))->click();
      });
      const int64_t result = RunEmulationToEnd(std::string(200, 'A'), 1, 64, &window, 1, kColours,
                                          bank_, Settings());
      QCOMPARE(result, int64_t(-1));
      QVERIFY(window.isVisible());  // "Стоп" keeps the window
      QCOMPARE(window.findChild<QPushButton*>(QStringLiteral("StopButton"))->text(),
               QStringLiteral("Стоп"));
    }
    {
      Settings().DisplayCoor = IntRect{};
      auto* window = new TRForm;
      QPointer<TRForm> guard(window);
      QSignalSpy closed(window, &TRForm::closed);
      QObject::connect(window, &TRForm::closed, window, &QObject::deleteLater);
      QTimer::singleShot(30, window, [window] {
        window->findChild<QPushButton*>(QStringLiteral("CloseButton"))->click();
      });
      const int64_t result = RunEmulationToEnd(std::string(200, 'A'), 1, 64, window, 1, kColours,
                                          bank_, Settings());
      QCOMPARE(result, int64_t(-1));
      QCOMPARE(closed.count(), 1);
      // The place was stored when the window was hidden.
      QVERIFY(Settings().DisplayCoor.right > Settings().DisplayCoor.left);
      delete guard.data();  // unless the deleteLater from closed() has run already
    }
  }

  void windowIsDestroyedDuringTheRun() {
    auto* window = new TRForm;
    QTimer::singleShot(30, [window] { delete window; });
    const int64_t result =
        RunEmulationToEnd(std::string(100, 'A'), 1, 64, window, 1, kColours, bank_, Settings());
    QCOMPARE(result, int64_t(-1));
  }

  void displayPlaceIsAppliedOnShow() {
    Settings().DisplayCoor = IntRect{12, 30, 400, 200};
    TRForm window;
    window.SetBoard(64, 1, kColours, 1);
    window.show();
    // The place is the client area's: the frame is not known before the
    // first show, and placing by it made the window creep by a title bar.
    QCOMPARE(window.geometry().topLeft(), QPoint(12, 30));
    window.hide();
    const IntRect stored = Settings().DisplayCoor;
    QCOMPARE(stored.left, 12);
    QCOMPARE(stored.top, 30);
    QCOMPARE(stored.right, 12 + window.geometry().width());
    // Shown and hidden again and again, the place stays where it is.
    for (int round = 0; round < 5; ++round) {
      TRForm again;
      again.SetBoard(64, 1, kColours, 1);
      again.show();
      QVERIFY(QTest::qWaitForWindowExposed(&again));
      again.close();
      QCOMPARE(Settings().DisplayCoor.left, stored.left);
      QCOMPARE(Settings().DisplayCoor.top, stored.top);
    }
    // Escape closes the window.
    {
      TRForm escaped;
      escaped.SetBoard(64, 1, kColours, 1);
      escaped.show();
      QVERIFY(QTest::qWaitForWindowExposed(&escaped));
      QTest::keyClick(&escaped, Qt::Key_Escape);
      QVERIFY(!escaped.isVisible());
    }
    // A window that grows for a longer board while shown stays on the screen.
    {
      const QRect screenArea = window.screen()->availableGeometry();
      Settings().DisplayCoor = IntRect{screenArea.right() - 300, 40, screenArea.right(), 140};
      TRForm growing;
      growing.SetBoard(16, 1, kColours, 1);
      growing.show();
      QVERIFY(QTest::qWaitForWindowExposed(&growing));
      growing.SetBoard(96, 2, kColours, 1);
      QVERIFY(screenArea.contains(growing.frameGeometry()));
    }
    // A place off every screen, or one that would push the window past the
    // screen's edge, is moved onto the screen.
    const QRect area = window.screen()->availableGeometry();
    for (const IntRect& place : {IntRect{-5000, -5000, -4000, -4900},
                                 IntRect{area.right() - 20, area.bottom() - 10, 0, 0}}) {
      Settings().DisplayCoor = IntRect{place.left, place.top, place.left + 100, place.top + 100};
      TRForm other;
      other.SetBoard(64, 1, kColours, 1);
      other.show();
      QVERIFY(area.contains(other.frameGeometry()));
    }
  }

  void noFontOfTheHeightIsRefused() {
    bank_.SetHeight(3);
    MessageCapture capture;
    TRForm window;
    const int64_t result =
        RunEmulationToEnd("text", 3, 64, &window, 1, kColours, bank_, Settings());
    QCOMPARE(result, int64_t(-1));
    QCOMPARE(capture.Messages().size(), size_t(1));
    QCOMPARE(capture.Messages()[0].caption, QStringLiteral("Ошибка"));
    QCOMPARE(capture.Messages()[0].text,
             QStringLiteral("В банке нет ни одного шрифта заданной высоты!"));
  }

  void boardGeometryFollowsTheScreen() {
    TRForm window;
    window.SetBoard(40, 1, kColours, 2);
    QCOMPARE(window.Palette()[3], 0x00FFFFu);  // red and green: yellow
    QCOMPARE(window.Palette()[4], 0u);         // no third channel
    std::vector<uint8_t> frame(40 * 8, 0);
    frame[0] = 3;
    frame[8] = 1;
    window.ShowFrame(frame.data());
    const QImage picture = window.Panel()->Picture();
    const LedGeometry g = window.Panel()->Geometry();
    const int middle = (g.pitch - g.ledSize) / 2 + g.ledSize / 2;
    QCOMPARE(picture.pixel(middle, middle), qRgb(255, 255, 0));
    QCOMPARE(picture.pixel(g.pitch + middle, middle), qRgb(255, 0, 0));
    QCOMPARE(window.findChild<QLabel*>(QStringLiteral("LitLabel"))->text(),
             QStringLiteral("Включено: 0%"));  // 2 of 320 LEDs
    window.SetBoard(2016, 1, kColours, 1);
    QCOMPARE(window.Panel()->size(), QSize(2016 * 2, 8 * 2));
    window.SetBoard(4000, 9, kColours, 1);  // clamped to 2016 x 32
    QCOMPARE(window.Panel()->Columns(), 2016);
    QCOMPARE(window.Panel()->Rows(), 32);
  }
};

QTEST_MAIN(RFormTest)
#include "test_rform.moc"
