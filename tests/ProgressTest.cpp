// SPDX-License-Identifier: GPL-3.0-or-later

#include "UserInput.h"
#include "controls/CProgressDlg.h"
#include "controls/CTextProgressCtrl.h"

#include <QApplication>
#include <QCloseEvent>
#include <QImage>
#include <QPainter>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <thread>

namespace {

const QColor kWhite(255, 255, 255), kBlue(0, 0, 255), kNavy(0, 0, 127);

CTextProgressCtrl& SnakeBar(CTextProgressCtrl& bar) {
    bar.ModifyStyle(0, PBX_SNAKE | PBX_GRADIENT_ON_BAR);
    return bar;
}

// Pixels of exactly this colour in the columns [nFrom, nTo) of the image.
int CountColor(const QImage& image, const QColor& color, int nFrom, int nTo) {
    int nCount = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = std::max(0, nFrom); x < std::min(nTo, image.width()); ++x)
            nCount += image.pixelColor(x, y) == color;
    return nCount;
}

// Runs the window modally; fnInLoop runs once the loop is going.
int RunModal(CProgressDlg& dlg, const std::function<void()>& fnInLoop) {
    QTimer::singleShot(0, &dlg, fnInLoop);
    return dlg.DoModal();
}

} // namespace

TEST(ProgressTest, TheSnakeRunsAcrossWaitsAtTheEndAndComesBackReversed) {
    CTextProgressCtrl bar;
    SnakeBar(bar);
    struct Tick {
        int nPos, nTail;
        bool bReversed;
    };
    const Tick ticks[] = {
        {10, 0, false},   {20, 0, false},    {30, 0, false},   {40, 0, false},
        {50, 10, false},  {60, 20, false},   {70, 30, false},  {80, 40, false},
        {90, 50, false},  {100, 60, false},  {100, 70, false}, {100, 80, false},
        {100, 90, false}, {100, 100, false}, {10, 0, true},    {20, 0, true},
    };
    int nPrevious = 0;
    for (size_t i = 0; i < std::size(ticks); ++i) {
        EXPECT_EQ(bar.StepIt(), nPrevious) << "tick " << i + 1;
        EXPECT_EQ(bar.GetPos(), ticks[i].nPos) << "tick " << i + 1;
        EXPECT_EQ(bar.m_nTailPos, ticks[i].nTail) << "tick " << i + 1;
        EXPECT_EQ((bar.GetStyle() & PBX_REVERSED) != 0, ticks[i].bReversed) << "tick " << i + 1;
        nPrevious = bar.GetPos();
    }
}

TEST(ProgressTest, PositionMessagesInSnakeModeAndWithout) {
    CTextProgressCtrl snake;
    SnakeBar(snake);
    snake.SetPos(20);
    snake.DeltaPos(-5); // a negative delta moves forward too
    EXPECT_EQ(snake.GetPos(), 25);
    // Past the end: the position stays at the end, the tail moves on.
    snake.SetPos(120);
    EXPECT_EQ(snake.GetPos(), 100);
    EXPECT_EQ(snake.m_nTailPos, 80);
    snake.SetStep(20);
    EXPECT_EQ(snake.m_nStepSize, 20);

    CTextProgressCtrl plain;
    EXPECT_EQ(plain.SetPos(150), 0);
    EXPECT_EQ(plain.GetPos(), 100);
    EXPECT_EQ(plain.DeltaPos(-5), 100);
    EXPECT_EQ(plain.GetPos(), 95);
    EXPECT_EQ(plain.SetPos(-3), 95);
    EXPECT_EQ(plain.GetPos(), 0);
    EXPECT_EQ(plain.StepIt(), 0); // the bar's own step, 10
    EXPECT_EQ(plain.GetPos(), 10);
    EXPECT_EQ(plain.SetStep(7), 10);
    plain.StepIt();
    EXPECT_EQ(plain.GetPos(), 17);
    EXPECT_EQ(plain.m_nTailPos, 0);
    EXPECT_EQ(plain.GetStyle() & PBX_REVERSED, 0u);
}

TEST(ProgressTest, ColourSettersAndTheLabelText) {
    CTextProgressCtrl bar;
    const COLORREF red = MakeColorRef(255, 0, 0), green = MakeColorRef(0, 255, 0);
    EXPECT_EQ(bar.SetBarColor(0, red), kDefaultColorResult);
    EXPECT_EQ(bar.m_gradientColors, (std::vector<COLORREF>{red, red}));
    bar.SetBarColor(green, red);
    EXPECT_EQ(bar.m_gradientColors, (std::vector<COLORREF>{red, green}));
    EXPECT_EQ(bar.SetBkColor(green), kDefaultColorResult);
    EXPECT_EQ(bar.m_clrBackground, green);

    EXPECT_EQ(bar.CurrentLabel(), QString()); // no label mode
    bar.SetTextFormat("", PBX_TEXT_PERCENT);
    EXPECT_EQ(bar.GetStyle() & PBX_TEXT_MASK, 0u); // an empty text turns it off
    bar.SetTextFormat("%d%%", PBX_TEXT_PERCENT);
    bar.SetTextFormat(nullptr, PBX_TEXT_PERCENT);
    EXPECT_EQ(bar.GetStyle() & PBX_TEXT_MASK, 0u);
    bar.ModifyStyle(0, PBX_TEXT_PERCENT); // percentage mode with an empty text
    bar.SetRange(0, 3);
    bar.SetPos(2);
    EXPECT_EQ(bar.CurrentLabel(), "66%"); // truncated, not rounded
    bar.SetTextFormat("at %d", PBX_TEXT_POSITION);
    EXPECT_EQ(bar.CurrentLabel(), "at 2");
    bar.SetTextFormat("Please wait...", PBX_TEXT_ONLY);
    EXPECT_EQ(bar.CurrentLabel(), "Please wait...");

    struct Case {
        const char* pszFormat;
        int nValue;
        const char* pszLabel;
    };
    const Case cases[] = {{"%d%%", 66, "66%"}, {"%3d|", 7, "  7|"}, {"%s %n %x", 5, "%s %n %x"},
                          {"100%", 1, "100%"}, {"%", 1, "%"},       {"%-3i|", 4, "4  |"}};
    for (const Case& c : cases)
        EXPECT_EQ(CTextProgressCtrl::FormatLabel(c.pszFormat, c.nValue), c.pszLabel) << c.pszFormat;
}

TEST(ProgressTest, SpansMapByOrientationAndDirection) {
    QImage image(10, 10, QImage::Format_RGB32);
    QPainter painter(&image);
    struct Case {
        uint32_t nStyle;
        QRect expected;
    };
    // Client 100 x 20 at (2, 3); the span runs from 10 to 30.
    const Case cases[] = {
        {0, QRect(12, 3, 20, 20)},
        {PBX_REVERSED, QRect(72, 3, 20, 20)},
        {PBS_VERTICAL, QRect(2, -7, 100, 20)},
        {PBS_VERTICAL | PBX_REVERSED, QRect(2, 13, 100, 20)},
    };
    for (const Case& c : cases) {
        const BarPaintContext context{painter, 32, c.nStyle, 2, 3, 102, 23, 0, 0, 100, {}};
        EXPECT_EQ(CTextProgressCtrl::MapSpan(context, {10, 30}), c.expected) << c.nStyle;
    }
}

TEST(ProgressTest, TheWindowPaintsTheRampAndTheTwoColouredLabel) {
    CProgressDlg dlg;
    CTextProgressCtrl& bar = dlg.Progress();
    EXPECT_EQ(bar.GetStyle() & (PBX_SNAKE | PBX_GRADIENT_ON_BAR | PBX_TEXT_MASK),
              PBX_SNAKE | PBX_GRADIENT_ON_BAR | PBX_TEXT_ONLY);
    EXPECT_EQ(bar.GetWindowText(), "Please wait...");
    const QRect rcClient = bar.contentsRect();
    const int nLeft = rcClient.left(), nWidth = rcClient.width();
    const int nTop = rcClient.top();

    // Fresh: nothing filled, all of the label blue on white.
    QImage image = bar.grab().toImage();
    EXPECT_EQ(image.pixelColor(nLeft + 1, nTop), kWhite);
    EXPECT_GT(CountColor(image, kBlue, 0, image.width()), 0);
    EXPECT_EQ(CountColor(image, kNavy, 0, image.width()), 0);

    // Four ticks: the ramp runs from white at the tail to blue at the head.
    for (int i = 0; i < 4; ++i)
        bar.StepIt();
    image = bar.grab().toImage();
    const int nHead = nLeft + nWidth * 40 / 100;
    const QColor tail = image.pixelColor(nLeft, nTop), head = image.pixelColor(nHead - 1, nTop);
    EXPECT_GE(tail.red(), 250);
    EXPECT_EQ(tail.blue(), 255);
    EXPECT_LE(head.red(), 5);
    EXPECT_EQ(head.blue(), 255);
    EXPECT_EQ(image.pixelColor(nHead + 2, nTop), kWhite);

    // One more: the segment (10 to 50 %) covers the label's left half, which
    // is navy; the right half is blue.
    bar.StepIt();
    image = bar.grab().toImage();
    const int nFilledFrom = nLeft + nWidth * 10 / 100, nFilledTo = nLeft + nWidth * 50 / 100;
    EXPECT_GT(CountColor(image, kNavy, nFilledFrom, nFilledTo), 0);
    EXPECT_EQ(CountColor(image, kNavy, nFilledTo + 1, image.width()), 0);
    EXPECT_EQ(CountColor(image, kBlue, nFilledFrom + 1, nFilledTo - 1), 0);
    EXPECT_GT(CountColor(image, kBlue, nFilledTo + 1, image.width()), 0);
}

TEST(ProgressTest, OneColourBarAndAnEmptyRange) {
    CTextProgressCtrl bar;
    bar.resize(200, 20);
    bar.SetBkColor(MakeColorRef(255, 255, 255));
    bar.SetBarColor(0, MakeColorRef(255, 0, 0));
    bar.SetPos(50);
    QImage image = bar.grab().toImage();
    const QRect rc = bar.contentsRect();
    const int nHalf = rc.left() + rc.width() / 2;
    EXPECT_EQ(image.pixelColor(rc.left(), rc.top()), QColor(255, 0, 0));
    EXPECT_EQ(image.pixelColor(nHalf - 1, rc.bottom()), QColor(255, 0, 0));
    EXPECT_EQ(image.pixelColor(nHalf + 1, rc.top()), kWhite);

    // A range without width draws only the background and does not divide by zero.
    bar.SetRange(5, 5);
    image = bar.grab().toImage();
    EXPECT_EQ(image.pixelColor(rc.left(), rc.top()), kWhite);
    EXPECT_EQ(CountColor(image, QColor(255, 0, 0), 0, image.width()), 0);
}

TEST(ProgressTest, FinishFromAnotherThreadBeforeTheLoopIsNotLost) {
    CProgressDlg dlg;
    std::thread worker([&] { dlg.Finish(); });
    worker.join();
    QApplication::processEvents(); // the queued end arrives before the loop
    EXPECT_EQ(dlg.DoModal(), CProgressDlg::IDCANCEL);
    EXPECT_FALSE(dlg.isVisible());
}

TEST(ProgressTest, FinishFromAnotherThreadEndsTheLoop) {
    CProgressDlg dlg;
    std::thread worker;
    bool bWasShown = false;
    const int nResult = RunModal(dlg, [&] {
        bWasShown = dlg.isVisible();
        worker = std::thread([&] { dlg.Finish(); });
    });
    worker.join();
    EXPECT_EQ(nResult, CProgressDlg::IDCANCEL);
    EXPECT_TRUE(bWasShown);
    EXPECT_FALSE(dlg.isVisible());
}

TEST(ProgressTest, EscapeAndCloseDoNotEndTheWindowButTheTimerSteps) {
    CProgressDlg dlg;
    bool bStayed = false;
    QTimer poll;
    RunModal(dlg, [&] {
        EXPECT_TRUE(QTest::qWaitForWindowActive(&dlg));
        EXPECT_EQ(KeyTarget(), &dlg);
        PressKey(Qt::Key_Escape);
        bStayed = dlg.isVisible();
        // Wait for the animation to step twice, then end.
        QObject::connect(&poll, &QTimer::timeout, &dlg, [&] {
            if (dlg.Progress().GetPos() >= 20)
                dlg.Finish();
        });
        poll.start(10);
        QTimer::singleShot(10000, &dlg, [&] { dlg.Finish(); }); // never hangs
    });
    EXPECT_TRUE(bStayed);
    EXPECT_GE(dlg.Progress().GetPos(), 20);

    // Close stops the animation only.
    CProgressDlg closed;
    bStayed = false;
    RunModal(closed, [&] {
        closed.close();
        bStayed = closed.isVisible();
        closed.Finish();
    });
    EXPECT_TRUE(bStayed);
}
